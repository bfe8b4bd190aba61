// Several threads move their sprites while another flushes and a third hit
// tests; afterwards the composed stage must equal a fresh composition of the
// final positions. Run under the tsan preset to check the locking.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "stage/compositor.h"
#include "tests/stage/test_presenter.h"
#include "tests/stage/stage_test_util.h"

namespace kv {
namespace {

using namespace kv::test;

TEST(StageThreads, MovesFlushesAndHitTestsFromSeveralThreads) {
  RecordingPresenter presenter;
  Compositor c(CompositorRole::kStage);
  ASSERT_EQ(c.Initialise({0, 0, 160, 120}, kBack, PixelFormat::kXrgb32, &presenter), 0);
  constexpr int kMovers = 4, kSteps = 300;
  const ColorRef colours[kMovers] = {kRed, kGreen, kBlue, kGrey};
  std::vector<std::unique_ptr<StageSprite>> sprites;
  for (int i = 0; i < kMovers; ++i) {
    auto s = std::make_unique<StageSprite>();
    Place(*s, Solid24(12, 12, colours[i]), {0, i * 25, 12, i * 25 + 12}, uint16_t(10 + i), i % 2 == 1, kBack, 0);
    c.Add(*s, true);
    sprites.push_back(std::move(s));
  }
  c.Update({0, 0, 160, 120});
  std::atomic<bool> done{false};
  std::vector<std::thread> movers;
  for (int i = 0; i < kMovers; ++i)
    movers.emplace_back([&, i] {
      for (int step = 0; step < kSteps; ++step) {
        const int x = (step * (i + 1)) % 140, y = i * 25 + step % 10;
        sprites[i]->MoveTo({x, y, x + 12, y + 12}, uint16_t(10 + i), step % 3 == 0);
      }
    });
  std::thread flusher([&] {
    while (!done) c.Flush(true);
  });
  std::thread clicker([&] {
    while (!done) (void)c.HitTest(6, 30);
  });
  for (std::thread& t : movers) t.join();
  done = true;
  flusher.join();
  clicker.join();
  c.Flush(false);

  const PixelBuffer screen = presenter.Screen();
  const PixelBuffer fresh = c.Snapshot();
  ASSERT_FALSE(screen.IsNull());
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) ASSERT_EQ(screen.GetPixel(x, y), fresh.GetPixel(x, y)) << x << "," << y;
  for (int i = 0; i < kMovers; ++i) {
    const int x = ((kSteps - 1) * (i + 1)) % 140, y = i * 25 + (kSteps - 1) % 10;
    EXPECT_EQ(fresh.GetPixel(x + 6, y + 6), colours[i]) << i;
  }
  for (auto& s : sprites) c.Remove(*s, false);
}

}  // namespace
}  // namespace kv
