// The time a movie plays by, as the movie's thread sees it: the run's clock
// (virtual or real) with one waiting party of the movie's own. The media
// layer below the engine knows the clock only through this.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>

namespace kv {

class MovieClock {
 public:
  static constexpr int64_t kNoDeadline = std::numeric_limits<int64_t>::max();
  virtual ~MovieClock() = default;
  virtual int64_t NowMs() = 0;
  // The movie's thread takes part in the clock from Join (before it starts)
  // to Leave (after it ended).
  virtual void Join() = 0;
  virtual void Leave() = 0;
  // Waits until the deadline, a Wake, or `done()` answers true.
  virtual void Wait(int64_t deadline, const std::function<bool()>& done) = 0;
  virtual void Wake() = 0;
  // The run is being torn down: no wait lasts any more.
  virtual bool Halted() = 0;
};

}  // namespace kv
