#include "stage/step_clock.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kv {

int64_t SteadyEffectClock::NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SteadyEffectClock::WaitUntil(int64_t ms) {
  const int64_t left = ms - NowMs();
  if (left > 0) std::this_thread::sleep_for(std::chrono::milliseconds(left));
}

int64_t ManualEffectClock::NowMs() {
  std::lock_guard lock(lock_);
  return now_;
}

void ManualEffectClock::WaitUntil(int64_t ms) {
  std::lock_guard lock(lock_);
  waits_.push_back(ms);
  now_ = std::max(now_, ms);
}

void ManualEffectClock::Advance(int64_t ms) {
  std::lock_guard lock(lock_);
  now_ += ms;
}

std::vector<int64_t> ManualEffectClock::Waits() const {
  std::lock_guard lock(lock_);
  return waits_;
}

StepClock::StepClock(EffectClock& clock, int64_t durationMs, Pacing pacing, std::function<bool()> interrupted)
    : clock_(clock), duration_(std::max<int64_t>(durationMs, 0)), pacing_(pacing),
      interruptedBy_(std::move(interrupted)) {}

void StepClock::Start(int steps) {
  steps_ = steps < 1 ? 1 : steps > 1 ? steps - 1 : 1;
  done_ = 0;
  start_ = clock_.NowMs();
}

bool StepClock::CheckInterrupted() {
  if (!interrupted_ && interruptedBy_ && interruptedBy_()) interrupted_ = true;
  return interrupted_;
}

bool StepClock::Wait() {
  if (CheckInterrupted()) return false;
  if (pacing_ == Pacing::kNone) return true;
  const int64_t now = clock_.NowMs();
  const int64_t left = start_ + duration_ - now;
  // Past the last counted step the remaining share goes to one step, never
  // to a division by zero steps.
  const int64_t toCome = std::max(steps_ - done_, 1);
  ++done_;
  const int64_t sleep = (steps_ == 1 ? left : left / toCome) - 1;
  if (sleep > 0) clock_.WaitUntil(now + sleep);
  return !CheckInterrupted();
}

bool StepClock::Delay(int64_t ms) {
  if (CheckInterrupted()) return false;
  if (pacing_ != Pacing::kNone && ms > 0) clock_.WaitUntil(clock_.NowMs() + ms);
  return !CheckInterrupted();
}

}  // namespace kv
