#include "platform/audio_output.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kv {
namespace {

class CountingSource : public AudioSource {
 public:
  void Pull(float* stereo, size_t frames) override {
    for (size_t i = 0; i < 2 * frames; ++i) stereo[i] = 0.0f;
    std::lock_guard lock(mutex);
    pulled += frames;
    ++calls;
    cv.notify_all();
  }
  std::mutex mutex;
  std::condition_variable cv;
  size_t pulled = 0;
  int calls = 0;
};

// SDL's dummy driver paces callbacks as a card would, so no sound card is needed.
TEST(SdlAudioOutputTest, PullsStereoBlocksFromItsSource) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  CountingSource source;
  SdlAudioOutput out(source, 44100, 256);
  EXPECT_EQ(out.Rate(), 44100u);
  out.Start();
  {
    std::unique_lock lock(source.mutex);
    // A generous bound: this checks that blocks arrive, not how fast.
    ASSERT_TRUE(source.cv.wait_for(lock, std::chrono::seconds(10), [&] { return source.calls >= 3; }));
    EXPECT_EQ(source.pulled % out.BlockFrames(), 0u);
  }
  out.Stop();
}

TEST(SdlAudioOutputTest, MissingDriverIsAnError) {
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  CountingSource source;
  EXPECT_THROW(SdlAudioOutput(source, 44100), std::runtime_error);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
}

}  // namespace
}  // namespace kv
