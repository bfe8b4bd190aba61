// The run's clock as a movie's clock: one waiting party of the engine's
// clock, so a movie's thread takes part in the virtual clock.
#pragma once

#include "engine/clock.h"
#include "media/movie_clock.h"

namespace kv {

class EngineMovieClock : public MovieClock {
 public:
  explicit EngineMovieClock(Clock& clock) : clock_(clock) {}
  int64_t NowMs() override { return clock_.NowMs(); }
  void Join() override { clock_.Join(waiter_); }
  void Leave() override { clock_.Leave(waiter_); }
  void Wait(int64_t deadline, const std::function<bool()>& done) override;
  void Wake() override { clock_.Wake(waiter_); }
  bool Halted() override { return clock_.Halted(); }

 private:
  Clock& clock_;
  Waiter waiter_;
};

}  // namespace kv
