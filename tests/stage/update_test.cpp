// The update path: dirty list rules, re-entry and stop handling, page-flip
// collection, suspension, the sprite registry and the 16-bit key rules.
#include <gtest/gtest.h>

#include <climits>

#include "stage/compositor.h"
#include "tests/stage/test_presenter.h"
#include "tests/stage/stage_test_util.h"

namespace kv {
namespace {

using namespace kv::test;

class StageUpdate : public RecordedStage {};

TEST_F(StageUpdate, TwentyFirstDirtyRectangleJoinsTheEntryItGrowsLeast) {
  for (int i = 0; i < 20; ++i) c.MarkDirty({i * 10, 0, i * 10 + 5, 5}, false);
  ASSERT_EQ(c.DirtyRects().size(), 20u);
  // Below the first entry: joining it adds 5 x 50 pixels, any other entry more.
  c.MarkDirty({0, 50, 5, 55}, false);
  std::vector<Rect> d = c.DirtyRects();
  ASSERT_EQ(d.size(), 20u);
  EXPECT_EQ(d[0], (Rect{0, 0, 5, 55}));
  EXPECT_EQ(d[19], (Rect{190, 0, 195, 5}));
  // Right of the last entry: it joins the last.
  c.MarkDirty({196, 0, 199, 5}, false);
  d = c.DirtyRects();
  ASSERT_EQ(d.size(), 20u);
  EXPECT_EQ(d[19], (Rect{190, 0, 199, 5}));
  EXPECT_EQ(d[18], (Rect{180, 0, 185, 5}));
}

TEST_F(StageUpdate, MarkDirtyMergesTouchingRectanglesOnlyWhenAsked) {
  c.MarkDirty({0, 0, 10, 10}, false);
  c.MarkDirty({10, 0, 20, 10}, false);  // touches, but no merge asked
  EXPECT_EQ(c.DirtyRects().size(), 2u);
  c.MarkDirty({20, 5, 30, 15}, true);  // shares an edge with the second entry
  EXPECT_EQ(c.DirtyRects(), (std::vector<Rect>{{0, 0, 10, 10}, {10, 0, 30, 15}}));
  c.MarkDirty({}, true);  // empty rectangles are ignored
  EXPECT_EQ(c.DirtyRects().size(), 2u);
}

TEST_F(StageUpdate, FlushMergesOverlappingNeighboursAndUpdatesFromTheLast) {
  c.MarkDirty({0, 0, 10, 10}, false);
  c.MarkDirty({50, 0, 60, 10}, false);
  c.MarkDirty({55, 5, 70, 20}, false);  // overlaps the one before it
  c.Flush(false);
  EXPECT_EQ(presenter.Presented(), (std::vector<Rect>{{50, 0, 70, 20}, {0, 0, 10, 10}}));
  EXPECT_TRUE(c.DirtyRects().empty());
}

TEST_F(StageUpdate, UpdateClipsToTheStage) {
  c.Update({-10, -10, 5, 5});
  EXPECT_EQ(presenter.Presented(), std::vector<Rect>{(Rect{0, 0, 5, 5})});
  c.Update({300, 0, 310, 10});
  EXPECT_EQ(presenter.Presented().size(), 1u);
}

TEST_F(StageUpdate, OutsideTheClientAreaOrOnQuitNothingIsDrawnWhileRunning) {
  env.running = true;
  c.Update({250, 0, 260, 10});
  env.quit = true;
  c.Update({0, 0, 10, 10});
  EXPECT_TRUE(presenter.Presented().empty());
  EXPECT_TRUE(c.DirtyRects().empty());
}

TEST_F(StageUpdate, RectangleSkippedForAPendingStopStaysDirty) {
  env.stop = true;
  c.Update({0, 0, 10, 10});
  EXPECT_TRUE(presenter.Presented().empty());
  EXPECT_EQ(c.DirtyRects(), std::vector<Rect>{(Rect{0, 0, 10, 10})});
  env.stop = false;
  c.Flush(false);
  EXPECT_EQ(presenter.Presented(), std::vector<Rect>{(Rect{0, 0, 10, 10})});
}

TEST_F(StageUpdate, ReentrantUpdateFromADrawingSpriteStaysDirty) {
  CountingSprite s(kRed);
  s.Setup({0, 0, 20, 20}, {}, 5, false, {}, 0, 0);
  s.onDraw = [this] { c.Update({40, 40, 50, 50}); };
  c.Add(s, true);
  c.Update({0, 0, 20, 20});
  EXPECT_EQ(s.draws.load(), 1);
  EXPECT_EQ(presenter.Presented(), std::vector<Rect>{(Rect{0, 0, 20, 20})});
  EXPECT_EQ(c.DirtyRects(), std::vector<Rect>{(Rect{40, 40, 50, 50})});
}

TEST_F(StageUpdate, FailingSpriteDoesNotStopTheUpdate) {
  CountingSprite bad(kRed), good(kBlue);
  bad.Setup({0, 0, 20, 20}, {}, 6, false, {}, 0, 0);
  good.Setup({10, 0, 30, 20}, {}, 5, false, {}, 0, 0);
  bad.onDraw = [] { throw std::runtime_error("broken paint code"); };
  c.Add(bad, true);
  c.Add(good, true);
  bad.changed = 1;
  c.Update({0, 0, 40, 20});
  EXPECT_EQ(good.draws.load(), 1);
  EXPECT_EQ(bad.changed, 0);
  ASSERT_EQ(env.errors.size(), 1u);
  EXPECT_NE(env.errors[0].find("broken paint code"), std::string::npos);
}

TEST_F(StageUpdate, PageFlipModeCollectsAndFlipFlushPresents) {
  c.SetPageFlipCollecting(true);
  c.Update({0, 0, 10, 10});
  c.Update({50, 0, 60, 10});
  c.Update({60, 0, 70, 10});  // touches the second: merged on the way in
  EXPECT_TRUE(presenter.Presented().empty());
  EXPECT_EQ(c.DirtyRects(), (std::vector<Rect>{{0, 0, 10, 10}, {50, 0, 70, 10}}));
  c.FlipFlush(false);
  EXPECT_EQ(presenter.Presented(), (std::vector<Rect>{{0, 0, 10, 10}, {50, 0, 70, 10}}));
  EXPECT_TRUE(c.DirtyRects().empty());
  c.FlipFlush(false);  // nothing to do
  EXPECT_EQ(presenter.Presented().size(), 2u);
  c.Update({0, 0, 5, 5});
  c.FlipFlush(true);
  EXPECT_EQ(presenter.FrameCount(), 1);
  c.SetPageFlipCollecting(false);
}

TEST_F(StageUpdate, RepaintBackgroundKeepsItsRedrawInPageFlipMode) {
  c.SetPageFlipCollecting(true);
  c.MarkDirty({0, 0, 5, 5}, false);
  c.RepaintBackground(true);
  EXPECT_EQ(c.DirtyRects(), std::vector<Rect>{(Rect{0, 0, 200, 100})});
  c.SetPageFlipCollecting(false);
}

TEST_F(StageUpdate, SuspendedDrawingDropsUpdatesAndInvalidatesOnResume) {
  c.SuspendDrawing(true);
  c.Update({0, 0, 10, 10});
  EXPECT_TRUE(presenter.Presented().empty());
  EXPECT_TRUE(c.Suspended());
  c.SuspendDrawing(false);
  EXPECT_EQ(presenter.Invalidated(), std::vector<Rect>{(Rect{0, 0, 200, 100})});
}

TEST_F(StageUpdate, SpriteRegistryCountsLiveSprites) {
  const int before = SpriteCount();
  {
    StageSprite a, b;
    EXPECT_EQ(SpriteCount(), before + 2);
    int seen = 0;
    ForEachRegisteredSprite([&](StageSprite& s) { seen += &s == &a || &s == &b; });
    EXPECT_EQ(seen, 2);
  }
  EXPECT_EQ(SpriteCount(), before);
}

TEST_F(StageUpdate, FindMarkedAndArrivals) {
  StageSprite a, b;
  c.Add(a, true);
  c.Add(b, true);
  b.marks = kMarkPressed;
  EXPECT_EQ(c.FindMarked(kMarkPressed), &b);
  EXPECT_EQ(c.FindMarked(kMarkInside), nullptr);
  const int first = c.NextArrival();
  EXPECT_EQ(c.NextArrival(), first + 1);
}

TEST(StageKeySetup, SixteenBitDisplayRules) {
  struct Case {
    PixelFormat format;
    uint8_t tolerance;
    uint8_t wantTolerance;
    uint8_t rMin, rMax, gMin, gMax, bMin, bMax;
  };
  // Key 0x00123456: R 0x56, G 0x34, B 0x12; key16 0x51A2 reads back as
  // R (0x51A2 >> 8) & 0xF8 = 0x50, G (0x51A2 >> 3) & 0xFC = 0x34, B (0x02) << 3 = 0x10.
  const Case cases[] = {
      {PixelFormat::kXrgb32, 3, 3, 0x53, 0x59, 0x31, 0x37, 0x0F, 0x15},
      {PixelFormat::kRgb565, 3, 8, 0x48, 0x58, 0x2C, 0x3C, 0x08, 0x18},
      {PixelFormat::kRgb565, 20, 20, 0x3C, 0x64, 0x20, 0x48, 0x00, 0x24},
  };
  for (const Case& k : cases) {
    StageSprite s(k.format);
    s.Setup({0, 0, 1, 1}, {0, 0, 1, 1}, 5, true, ColorRef(0x00123456), k.tolerance, 27);
    EXPECT_EQ(s.key16, 0x51A2);
    EXPECT_EQ(s.tolerance, k.wantTolerance);
    EXPECT_EQ(s.effectAbortKey, 27);
    EXPECT_EQ((std::array<int, 6>{s.redMin, s.redMax, s.greenMin, s.greenMax, s.blueMin, s.blueMax}),
              (std::array<int, 6>{k.rMin, k.rMax, k.gMin, k.gMax, k.bMin, k.bMax}));
  }
  StageSprite off;
  off.Setup({0, 0, 1, 1}, {0, 0, 1, 1}, 5, false, ColorRef(0x00123456), 9, 0);
  EXPECT_EQ(off.keyColor, ColorRef());
  EXPECT_EQ(off.tolerance, 0);
  EXPECT_EQ(off.redMax, 0);
}

TEST(StageFitting, StretchTakesTheWholePictureOtherwiseTheSmallerSize) {
  StageSprite s;
  const DecodedPicture pic = Solid24(10, 8, kRed);
  s.SetPicture(pic.View());
  s.Setup({5, 5, 25, 25}, {-3, -2, 20, 20}, 5, false, {}, 0, 0);
  EXPECT_EQ(s.srcRect, (Rect{0, 0, 10, 8}));  // clamped to the picture
  s.stretch = 0;
  s.Fit();
  EXPECT_EQ(s.rect, (Rect{5, 5, 15, 13}));
  EXPECT_EQ(s.srcRect, (Rect{0, 0, 10, 8}));
  s.srcRect = {2, 2, 4, 4};
  s.rect = {0, 0, 50, 50};
  s.stretch = 1;
  s.Fit();
  EXPECT_EQ(s.srcRect, (Rect{0, 0, 10, 8}));
  EXPECT_EQ(s.rect, (Rect{0, 0, 50, 50}));
}

TEST(StagePerspective, PercentagesByPositionAndLayer) {
  PerspectiveScaling p;
  p.enabled = true;
  p.mode = 1284;
  p.atTop = 50;
  p.atBottom = 150;
  int w, h;
  // Centre on the top edge: scaleAtTop; a centre above the stage clamps to 0 %.
  PerspectivePercent(p, {0, -10, 20, 10}, 0, false, 100, 100, &w, &h);
  EXPECT_EQ(w, 50);
  EXPECT_EQ(h, 50);
  PerspectivePercent(p, {0, -50, 20, -30}, 0, false, 100, 100, &w, &h);
  EXPECT_EQ(h, 50);
  PerspectivePercent(p, {0, 40, 20, 60}, 0, false, 100, 100, &w, &h);  // py 50: 50 + 50 * 100 / 100
  EXPECT_EQ(h, 100);
  p.mode = 1417;
  p.atBack = 50;
  p.atFront = 100;  // f < n: w = f + d * (k - t + 101) / 100, d 50
  PerspectivePercent(p, {}, 99, false, 100, 100, &w, &h);  // t 100, k 101: 50 + 50 * 102 / 100
  EXPECT_EQ(w, 101);
  PerspectivePercent(p, {}, 0, true, 100, 100, &w, &h);  // t 0, k 1: 50 + 50 * 102 / 100
  EXPECT_EQ(w, 101);
  EXPECT_EQ(ScaleRect({10, 10, 20, 30}, 50, 50), (Rect{12, 15, 17, 25}));
}

// Percentages from a file can be anything: the arithmetic does not overflow
// and the result stays between 0 and 10000 %.
TEST(StagePerspective, ExtremePercentagesAreClamped) {
  struct Case {
    int32_t mode, atA, atB;
    Rect at;
    uint16_t layer;
    int want;
  };
  const int32_t kMax = INT32_MAX, kMin = INT32_MIN;
  const Case cases[] = {
      // Halfway between the extremes: -2^31 + 50 * (2^32 - 1) / 100 = -1, clamped to 0.
      {1284, kMin, kMax, {0, 40, 20, 60}, 0, 0},
      {1284, kMax, kMin, {0, 40, 20, 60}, 0, 0},
      {1284, kMin, kMin, {0, 40, 20, 60}, 0, 0},
      {1285, kMax, kMax, {40, 0, 60, 20}, 0, 10000},
      // f < n at layer 99: -2^31 + (2^32 - 1) * 102 / 100, far past 10000.
      {1417, kMin, kMax, {}, 99, 10000},
      // f > n at layer 0: n + d * (0 - 101 - 1) / 100, far below 0.
      {1417, kMax, kMin, {}, 0, 0},
  };
  for (const Case& c : cases) {
    PerspectiveScaling p;
    p.enabled = true;
    p.mode = c.mode;
    p.atTop = p.atLeft = p.atBack = c.atA;
    p.atBottom = p.atRight = p.atFront = c.atB;
    int w = -1, h = -1;
    PerspectivePercent(p, c.at, c.layer, false, 100, 100, &w, &h);
    EXPECT_GE(w, 0) << c.mode << " " << c.atA << " " << c.atB;
    EXPECT_LE(w, 10000);
    EXPECT_EQ(h, c.want) << c.mode << " " << c.atA << " " << c.atB;
  }
}

}  // namespace
}  // namespace kv
