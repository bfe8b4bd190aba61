// The page-flip thread: whole frames while nothing covers the stage, the
// parity rule while a message box shows, re-exposure recomposing the whole
// stage, pacing by the delay read on every pass, and its states.
#include "stage/page_flip.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "stage/compositor.h"
#include "tests/stage/stage_test_util.h"
#include "tests/stage/test_presenter.h"

namespace kv {
namespace {

using namespace kv::test;

class PageFlip : public RecordedStage {};

TEST_F(PageFlip, MessageBoxParityTable) {
  // Each step: whether a message shows, then one change and one pass; what
  // went out (a whole frame or rectangles) and the parity after it.
  struct Step {
    bool message;
    bool whole;
    int parity;
  } const steps[] = {
      {false, true, 1},   // a frame flips: parity 1
      {true, true, 0},    // a message appears at parity 1: one more flip
      {true, false, 0},   // then rectangles, the parity stays
      {true, false, 0},
      {false, true, 1},   // the box has gone: frames again
      {false, true, 0},
      {true, false, 0},   // a message at parity 0: rectangles at once
  };
  PageFlipThread flipper(c, [] { return int64_t{30}; });
  c.SetPageFlipCollecting(true);
  int step = 0;
  for (const Step& s : steps) {
    flipper.SetMessageShowing(s.message);
    const int frames = presenter.FrameCount();
    const size_t rects = presenter.Presented().size();
    c.Update({step, 0, step + 10, 10});
    EXPECT_TRUE(presenter.Presented().size() == rects && presenter.FrameCount() == frames) << "collected, not shown";
    flipper.FlipOnce();
    EXPECT_EQ(presenter.FrameCount() - frames, s.whole ? 1 : 0) << "step " << step;
    // A whole frame is recorded as its bounds: one rectangle either way.
    EXPECT_EQ(presenter.Presented().size() - rects, 1u) << "step " << step;
    EXPECT_EQ(flipper.FlipParity(), s.parity) << "step " << step;
    ++step;
  }
  // Nothing changed: nothing goes out, the parity stays.
  const int frames = presenter.FrameCount();
  flipper.FlipOnce();
  EXPECT_EQ(presenter.FrameCount(), frames);
  c.SetPageFlipCollecting(false);
}

TEST_F(PageFlip, WithoutWholeFramesRectanglesAreCopied) {
  PageFlipThread flipper(c, [] { return int64_t{30}; }, false);
  c.SetPageFlipCollecting(true);
  c.Update({0, 0, 10, 10});
  c.Update({100, 0, 110, 10});
  flipper.FlipOnce();
  EXPECT_EQ(presenter.FrameCount(), 0);
  EXPECT_EQ(presenter.Presented(), (std::vector<Rect>{{0, 0, 10, 10}, {100, 0, 110, 10}}));
  EXPECT_EQ(flipper.FlipParity(), 0);
  c.SetPageFlipCollecting(false);
}

TEST_F(PageFlip, LostSurfaceRecomposesTheWholeStage) {
  PageFlipThread flipper(c, [] { return int64_t{30}; }, false);
  c.SetPageFlipCollecting(true);
  flipper.FlipOnce();
  EXPECT_TRUE(presenter.Presented().empty());
  flipper.SurfaceLost();
  flipper.FlipOnce();
  EXPECT_EQ(presenter.Presented(), std::vector<Rect>{(Rect{0, 0, 200, 100})});
  flipper.FlipOnce();  // recovered once only
  EXPECT_EQ(presenter.Presented().size(), 1u);
  c.SetPageFlipCollecting(false);
}

TEST_F(PageFlip, ThreadStatesAndOnlyOneRuns) {
  std::atomic<int> reads{0};
  PageFlipThread flipper(c, [&] {
    ++reads;
    return int64_t{1};
  });
  EXPECT_EQ(flipper.state(), PageFlipThread::State::kStopped);
  ASSERT_TRUE(flipper.Start());
  EXPECT_FALSE(flipper.Start());  // a second start ends at once
  EXPECT_EQ(flipper.state(), PageFlipThread::State::kRunning);
  EXPECT_TRUE(c.PageFlipCollecting());
  c.Update({0, 0, 10, 10});
  for (int i = 0; i < 2000 && presenter.FrameCount() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(presenter.FrameCount(), 1);
  flipper.Stop();
  EXPECT_EQ(flipper.state(), PageFlipThread::State::kStopped);
  EXPECT_FALSE(c.PageFlipCollecting());
  EXPECT_GE(reads.load(), 1);  // the delay is read on every pass
  // Stopped, the compositor presents directly again; and it can start anew.
  const size_t before = presenter.Presented().size();
  c.Update({0, 0, 5, 5});
  EXPECT_EQ(presenter.Presented().size(), before + 1);
  EXPECT_TRUE(flipper.Start());
  flipper.Stop();
}

TEST_F(PageFlip, StopShowsWhatWasCollected) {
  PageFlipThread flipper(c, [] { return int64_t{1000}; });
  ASSERT_TRUE(flipper.Start());
  // The thread's first pass may already have run; this change waits a second.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  c.Update({0, 0, 10, 10});
  const auto start = std::chrono::steady_clock::now();
  flipper.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900)) << "Stop wakes the sleep";
  EXPECT_EQ(presenter.Presented().back(), (Rect{0, 0, 10, 10}));
}

}  // namespace
}  // namespace kv
