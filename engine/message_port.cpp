#include "engine/message_port.h"

#include <algorithm>

namespace kv {

ThreadPort::~ThreadPort() { delete direct_.exchange(nullptr); }

void ThreadPort::Post(Message message) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(message));
  }
  clock_.Wake(waiter_);
}

void ThreadPort::PostKey(uint32_t key) {
  Message m;
  m.kind = MsgKind::kKeyDown;
  m.key = key;
  m.posted = true;
  Post(std::move(m));
}

bool ThreadPort::HandDirect(std::unique_ptr<Request>& request) {
  Request* expected = nullptr;
  if (!direct_.compare_exchange_strong(expected, request.get())) return false;
  request.release();
  clock_.Wake(waiter_);
  return true;
}

std::unique_ptr<Request> ThreadPort::TakeDirect() { return std::unique_ptr<Request>(direct_.exchange(nullptr)); }

Message ThreadPort::TryGet() {
  std::lock_guard lock(mutex_);
  if (queue_.empty()) return {};
  Message m = std::move(queue_.front());
  queue_.pop_front();
  return m;
}

Message ThreadPort::Get(int64_t deadline, const std::function<bool()>& done) {
  if (Message m = TryGet()) return m;
  if ((done && done()) || HasDirect()) return {};
  // Any wake-up returns (possibly with nothing): callers re-check their own
  // conditions, which is how state changes elsewhere reach a waiting thread.
  clock_.Wait(waiter_, deadline, done);
  return TryGet();
}

bool ThreadPort::Empty() {
  std::lock_guard lock(mutex_);
  return queue_.empty();
}

void ThreadPort::DropLeadingRequests(const std::function<bool(const Request&)>& drop) {
  std::lock_guard lock(mutex_);
  while (!queue_.empty() && queue_.front().kind == MsgKind::kRequest && queue_.front().request &&
         drop(*queue_.front().request))
    queue_.pop_front();
}

void ThreadPort::FlushRequests() {
  std::lock_guard lock(mutex_);
  queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                              [](const Message& m) { return m.kind == MsgKind::kRequest; }),
               queue_.end());
}

void ThreadPort::FlushKeys() {
  std::lock_guard lock(mutex_);
  queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                              [](const Message& m) {
                                return m.kind == MsgKind::kKeyDown || m.kind == MsgKind::kKeyUp ||
                                       m.kind == MsgKind::kSysKeyDown || m.kind == MsgKind::kChar;
                              }),
               queue_.end());
}

}  // namespace kv
