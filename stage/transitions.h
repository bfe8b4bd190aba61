// The transition engine: shows or hides a stage sprite through one of the
// effects, step by step, drawing every step through the compositor (a
// working sprite in the object's place, with a reveal mask or pieces of the
// old and new images), paced by a StepClock and ended early, in the final
// state, when the abort check or a stop says so. One per compositor,
// installed with Compositor::SetEffectEngine; kvtool runs it with an observer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "stage/compositor.h"
#include "stage/hooks.h"
#include "stage/step_clock.h"

namespace kv {

class TransitionEngine : public EffectEngine {
 public:
  // Whether the input seen so far ends an effect with this abort key.
  using AbortCheck = std::function<bool(uint16_t abortKey)>;
  // Called after each step has been drawn.
  using StepObserver = std::function<void(int step, int steps)>;

  TransitionEngine(Compositor& compositor, EffectClock& clock, Pacing pacing = Pacing::kSleep,
                   AbortCheck abort = {});

  void RunShow(StageSprite& sprite, const ShowParams& params) override;
  void RunHide(StageSprite& sprite, const ShowParams& params) override;

  void SetObserver(StepObserver observer) { observer_ = std::move(observer); }
  // Of the last effect: the steps drawn and whether it was cut short.
  int LastSteps() const { return lastSteps_; }
  bool LastInterrupted() const { return lastInterrupted_; }

 private:
  void Run(StageSprite& sprite, const ShowParams& params, bool hide);

  Compositor& compositor_;
  EffectClock& clock_;
  Pacing pacing_;
  AbortCheck abort_;
  StepObserver observer_;
  std::atomic<int> lastSteps_{0};
  std::atomic<bool> lastInterrupted_{false};
};

}  // namespace kv
