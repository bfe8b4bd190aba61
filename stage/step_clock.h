// Pacing of transition effects and path motion. EffectClock is the time
// source ("now" and "wait until"): a steady-clock implementation for the
// player and tools, a manual one for tests; the player's virtual clock
// implements it too. StepClock spreads a run of steps over a duration and
// reports an interruption (abort key, stop, shutdown) through a predicate.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace kv {

class EffectClock {
 public:
  virtual ~EffectClock() = default;
  virtual int64_t NowMs() = 0;
  // Returns at `ms` or later.
  virtual void WaitUntil(int64_t ms) = 0;
};

class SteadyEffectClock : public EffectClock {
 public:
  int64_t NowMs() override;
  void WaitUntil(int64_t ms) override;
};

// Time moves only when asked to wait; every wait is recorded.
class ManualEffectClock : public EffectClock {
 public:
  explicit ManualEffectClock(int64_t start = 0) : now_(start) {}
  int64_t NowMs() override;
  void WaitUntil(int64_t ms) override;
  void Advance(int64_t ms);
  std::vector<int64_t> Waits() const;  // the targets of every wait, in order

 private:
  mutable std::mutex lock_;
  int64_t now_;
  std::vector<int64_t> waits_;
};

enum class Pacing : uint8_t {
  kSleep = 0,  // sleep until each step's share of the duration
  kNone = 2,   // never wait (tools rendering every frame)
};

class StepClock {
 public:
  StepClock(EffectClock& clock, int64_t durationMs, Pacing pacing, std::function<bool()> interrupted);

  // Starts a run of `steps` steps (below 1 counts as 1; above 1 as steps - 1,
  // so the last step comes out at the end of the duration).
  void Start(int steps);
  // After a step: waits for its share of the duration; false when the run is
  // interrupted, which it stays from then on.
  bool Wait();
  // Waits `ms` (a path's step delay); false when interrupted.
  bool Delay(int64_t ms);
  bool Interrupted() const { return interrupted_; }
  int StepsCounted() const { return steps_; }
  int64_t DurationMs() const { return duration_; }

 private:
  bool CheckInterrupted();

  EffectClock& clock_;
  int64_t duration_;
  Pacing pacing_;
  std::function<bool()> interruptedBy_;
  int steps_ = 1;
  int done_ = 0;
  int64_t start_ = 0;
  bool interrupted_ = false;
};

}  // namespace kv
