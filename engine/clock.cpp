#include "engine/clock.h"

#include <algorithm>

namespace kv {

namespace {
// Real waits wake at least this often to re-check conditions nobody signals.
constexpr int64_t kRealSliceMs = 125;
}  // namespace

Clock::Clock(bool isVirtual) : virtual_(isVirtual), start_(std::chrono::steady_clock::now()) {}

int64_t Clock::NowMs() {
  if (virtual_) {
    std::lock_guard lock(mutex_);
    return now_;
  }
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
      .count();
}

void Clock::Join(Waiter& w) {
  std::lock_guard lock(mutex_);
  if (w.joined) return;
  w.joined = true;
  parties_.push_back(&w);
  ++joined_;
  if (!w.watcher) ++activity_;
  idle_ = false;
}

void Clock::Leave(Waiter& w) {
  std::lock_guard lock(mutex_);
  if (!w.joined) return;
  w.joined = false;
  parties_.erase(std::remove(parties_.begin(), parties_.end(), &w), parties_.end());
  --joined_;
  if (!w.watcher) ++activity_;
  // The others may all be waiting now.
  if (virtual_) AdvanceIfAllWait();
  changed_.notify_all();
}

void Clock::AdvanceIfAllWait() {
  int64_t earliest = kForever, othersEarliest = kForever;
  bool harnessWaits = false;
  for (Waiter* p : parties_) {
    if (!p->waiting || p->signalled) return;
    earliest = std::min(earliest, p->deadline);
    if (p->wakeOnIdle)
      harnessWaits = true;
    else
      othersEarliest = std::min(othersEarliest, p->deadline);
  }
  if (parties_.empty()) return;
  // The harness's own deadline (a frame to write) does not keep the run
  // from being idle: it wakes at the idle moment, not at its deadline.
  if (earliest == kForever || (harnessWaits && othersEarliest == kForever)) {
    if (!idle_) {
      idle_ = true;
      changed_.notify_all();
    }
    return;
  }
  if (virtual_ && earliest > now_) {
    now_ = earliest;
    changed_.notify_all();
  }
}

bool Clock::OthersQuietLocked(const Waiter& except) const {
  for (const Waiter* p : parties_)
    if (p != &except && (!p->waiting || p->signalled)) return false;
  return true;
}

void Clock::WaitQuiet(Waiter& w) {
  std::unique_lock lock(mutex_);
  while (!halted_ && !OthersQuietLocked(w)) changed_.wait_for(lock, std::chrono::milliseconds(virtual_ ? 1000 : 5));
}

bool Clock::OthersIdle(const Waiter& except, uint64_t* activity) {
  std::lock_guard lock(mutex_);
  if (activity) *activity = activity_;
  for (const Waiter* p : parties_)
    if (p != &except && (!p->waiting || p->signalled || p->deadline != kForever)) return false;
  return true;
}

WaitEnd Clock::Wait(Waiter& w, int64_t deadline, const std::function<bool()>& done) {
  std::unique_lock lock(mutex_);
  WaitEnd end = WaitEnd::kWoken;
  w.waiting = true;
  w.deadline = deadline;
  // Whoever waits for the others to settle hears of it.
  changed_.notify_all();
  for (;;) {
    if (halted_ || w.signalled || (done && done())) break;
    if (virtual_) {
      AdvanceIfAllWait();
      if (now_ >= deadline) {
        end = WaitEnd::kDeadline;
        break;
      }
      if (idle_ && w.wakeOnIdle) {
        end = WaitEnd::kIdle;
        break;
      }
      changed_.wait(lock);
    } else {
      int64_t nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - start_).count();
      if (nowMs >= deadline) {
        end = WaitEnd::kDeadline;
        break;
      }
      AdvanceIfAllWait();
      if (idle_ && w.wakeOnIdle) {
        end = WaitEnd::kIdle;
        break;
      }
      int64_t until = std::min(deadline, nowMs + kRealSliceMs);
      changed_.wait_until(lock, start_ + std::chrono::milliseconds(until));
    }
  }
  // The caller re-checks its conditions after every return, so a signal is
  // consumed here.
  w.signalled = false;
  w.waiting = false;
  w.deadline = kForever;
  if (end != WaitEnd::kIdle) idle_ = false;
  if (!w.watcher) ++activity_;
  return end;
}

void Clock::Wake(Waiter& w) {
  std::lock_guard lock(mutex_);
  w.signalled = true;
  idle_ = false;
  changed_.notify_all();
}

void Clock::ClearSignal(Waiter& w) {
  std::lock_guard lock(mutex_);
  w.signalled = false;
}

void Clock::WakeAll() {
  std::lock_guard lock(mutex_);
  // Parties that are not waiting yet keep the signal too: one that has just
  // looked at the state that changed, and is about to wait, must not sleep
  // through the change.
  for (Waiter* p : parties_) p->signalled = true;
  idle_ = false;
  changed_.notify_all();
}

bool Clock::IsIdle() {
  std::lock_guard lock(mutex_);
  return idle_;
}

void Clock::Halt() {
  std::lock_guard lock(mutex_);
  halted_ = true;
  changed_.notify_all();
}

bool Clock::Halted() {
  std::lock_guard lock(mutex_);
  return halted_;
}

}  // namespace kv
