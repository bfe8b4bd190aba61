// A thread's message port: its queue of messages, the slot for a request
// handed to it directly, and the waiter through which it sleeps on the
// engine's clock. Any thread posts; only the owning thread takes.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/clock.h"
#include "engine/request.h"

namespace kv {

class ThreadPort {
 public:
  explicit ThreadPort(Clock& clock) : clock_(clock) {}
  ~ThreadPort();
  ThreadPort(const ThreadPort&) = delete;
  ThreadPort& operator=(const ThreadPort&) = delete;

  Clock& clock() { return clock_; }
  Waiter& waiter() { return waiter_; }

  void Post(Message message);
  void PostKey(uint32_t key);
  // Hands a request to the direct slot when it is free; the request is
  // taken only on success, and the owner is woken.
  bool HandDirect(std::unique_ptr<Request>& request);
  std::unique_ptr<Request> TakeDirect();
  bool HasDirect() const { return direct_.load() != nullptr; }

  // The next message, waiting until `deadline` on the clock; an empty
  // message when the deadline passed, `done()` became true or the thread was
  // woken for another reason.
  Message Get(int64_t deadline, const std::function<bool()>& done = {});
  Message TryGet();
  bool Empty();
  // Requests at the head of the queue that `drop` answers true for are
  // discarded; stops at the first message it answers false for.
  void DropLeadingRequests(const std::function<bool(const Request&)>& drop);
  // Discards every queued request ("flush pending requests").
  void FlushRequests();
  // Discards every queued key message.
  void FlushKeys();

 private:
  Clock& clock_;
  Waiter waiter_;
  std::mutex mutex_;
  std::deque<Message> queue_;
  std::atomic<Request*> direct_{nullptr};
};

}  // namespace kv
