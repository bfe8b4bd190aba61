// The engine's time source and the one place every engine thread waits. A
// real clock reads the steady clock; a virtual clock starts at 0 and moves
// only when every thread taking part waits, jumping to the earliest deadline,
// so a headless run gives the same timings every time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <vector>
#include <chrono>

namespace kv {

inline constexpr int64_t kForever = std::numeric_limits<int64_t>::max();

// One waiting party (a thread's message port, the harness). Its fields are
// guarded by the clock's lock.
struct Waiter {
  bool signalled = false;
  bool waiting = false;
  bool joined = false;
  int64_t deadline = kForever;
  // The harness's waiter: an idle clock ends its wait.
  bool wakeOnIdle = false;
  // The harness's waiter: its own wake-ups are not the run's activity.
  bool watcher = false;
};

enum class WaitEnd { kWoken, kDeadline, kIdle };

class Clock {
 public:
  // `isVirtual`: time moves only when every joined waiter waits.
  explicit Clock(bool isVirtual);
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;

  bool IsVirtual() const { return virtual_; }
  int64_t NowMs();

  // A waiter takes part in the virtual clock's "everyone waits" rule from
  // Join to Leave. Join before the thread starts, so time cannot move while
  // it is being born.
  void Join(Waiter& w);
  void Leave(Waiter& w);

  // Blocks until the waiter is signalled, `done()` answers true (checked
  // under the clock's lock after every wake-up; it must not take the lock),
  // the deadline passes, or (for a waiter that asks) the clock is idle.
  WaitEnd Wait(Waiter& w, int64_t deadline, const std::function<bool()>& done = {});
  // Signals one waiter; a signal given before the wait starts is kept.
  void Wake(Waiter& w);
  void ClearSignal(Waiter& w);
  // Signals every joined waiter, waiting or about to wait, after a change of
  // state their waits may look for (a thread ended, a flag cleared).
  void WakeAll();

  // Virtual clock: true once every joined waiter waits with no deadline and
  // no signal. Cleared when anything happens.
  bool IsIdle();
  // Blocks until every other joined waiter waits unsignalled (what was due
  // has run); time does not move meanwhile, since `w` is not waiting.
  void WaitQuiet(Waiter& w);
  // Whether every other joined waiter waits with no deadline. `activity`
  // receives, read under the same lock, the count of every wait that ended
  // and every join and leave of the waiters that are not watchers: two idle
  // answers with equal counts mean nothing happened in between, however the
  // threads were scheduled.
  bool OthersIdle(const Waiter& except, uint64_t* activity = nullptr);
  // Ends every wait at once (shutdown of the whole run).
  void Halt();
  bool Halted();

 private:
  void AdvanceIfAllWait();  // lock held
  bool OthersQuietLocked(const Waiter& except) const;

  const bool virtual_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int64_t now_ = 0;  // virtual time
  int joined_ = 0;
  int waiting_ = 0;  // joined waiters inside Wait and not signalled
  bool idle_ = false;
  bool halted_ = false;
  uint64_t activity_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::vector<Waiter*> parties_;
};

}  // namespace kv
