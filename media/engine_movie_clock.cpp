#include "media/engine_movie_clock.h"

namespace kv {

void EngineMovieClock::Wait(int64_t deadline, const std::function<bool()>& done) {
  clock_.Wait(waiter_, deadline == kNoDeadline ? kForever : deadline, done);
}

}  // namespace kv
