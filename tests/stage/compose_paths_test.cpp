// The shortcuts of composition: the flush's sprite index, the dirty list when
// it fills, the background drawn only where nothing opaque hides it (as a
// fill while it is one colour). Each must leave the picture that composing
// everything leaves.
#include "stage/sprite_index.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "stage/compositor.h"
#include "tests/stage/stage_test_util.h"

namespace kv {
namespace {

using namespace kv::test;

TEST(StageSpriteIndex, QueryAnswersEachTouchingEntryOnceInListOrder) {
  // A 300 x 200 stage: cells of 64 make a 5 x 4 grid, the last column and row partial.
  StageSprite a, b, c, d, e, f;
  SpriteIndex index;
  index.Reset(300, 200);
  index.Add(&a, {0, 0, 300, 200}, true);       // 0: the whole stage
  index.Add(&b, {60, 60, 70, 70}, true);       // 1: on the corner of four cells
  index.Add(&c, {250, 150, 400, 260}, true);   // 2: partly off the stage
  index.Add(&d, {-50, -50, -10, -10}, true);   // 3: off the stage
  index.Add(&e, {100, 10, 100, 50}, true);     // empty: never an entry
  index.Add(&f, {128, 0, 192, 64}, false);     // 4: exactly one cell, covering only
  ASSERT_EQ(index.Size(), 5);
  EXPECT_FALSE(index[4].drawn);
  struct Case {
    Rect query;
    std::vector<uint32_t> want;
  };
  const Case cases[] = {
      {{65, 65, 66, 66}, {0, 1}},              // one cell, inside b
      {{0, 0, 60, 60}, {0}},                   // b's corner is not touched: edges are exclusive
      {{55, 55, 140, 75}, {0, 1, 4}},          // several cells: b once, f by its cell
      {{192, 0, 200, 10}, {0}},                // right of f: touching an edge is no pixel
      {{290, 190, 300, 200}, {0, 2}},          // the partial last cell
      {{280, 180, 500, 500}, {0, 2}},          // asked beyond the stage: only the stage counts
      {{-100, -100, 0, 0}, {}},                // off the stage: nothing, not even d
      {{0, 0, 300, 200}, {0, 1, 2, 4}},        // most of the grid: the one-pass branch
      {{10, 10, 10, 20}, {}},                  // an empty query
  };
  std::vector<uint32_t> got;
  index.Finish();
  for (const Case& k : cases) {
    index.Query(k.query, got);
    EXPECT_EQ(got, k.want) << k.query.left << "," << k.query.top << " " << k.query.right << "," << k.query.bottom;
  }
}

TEST(StageSpriteIndex, AZeroSizedStageAnswersNothing) {
  StageSprite a;
  SpriteIndex index;
  index.Reset(0, 0);
  index.Add(&a, {0, 0, 10, 10}, true);
  index.Finish();
  std::vector<uint32_t> got{7};
  index.Query({0, 0, 10, 10}, got);
  EXPECT_TRUE(got.empty());
}

class StageDirtyList : public RecordedStage {};

TEST_F(StageDirtyList, AFullListJoinsOverlappingEntriesBeforeGrowingOne) {
  struct Case {
    const char* what;
    std::vector<Rect> marks;  // after 18 distant entries in the top row
    std::vector<Rect> tail;   // the entries after those 18
  };
  const Case cases[] = {
      {"a moved sprite's two places join and the new rectangle takes the freed entry",
       {{10, 50, 30, 70}, {12, 51, 32, 71}, {150, 80, 160, 90}},
       {{10, 50, 32, 71}, {150, 80, 160, 90}}},
      {"entries whose union would cost more stay apart: the rectangle joins the one it grows least",
       {{10, 50, 30, 70}, {40, 50, 60, 70}, {62, 50, 70, 70}},
       {{10, 50, 30, 70}, {40, 50, 70, 70}}},
      {"a rectangle inside an entry is absorbed without compaction",
       {{10, 50, 30, 70}, {100, 50, 130, 80}, {110, 60, 120, 70}},
       {{10, 50, 30, 70}, {100, 50, 130, 80}}},
  };
  for (const Case& k : cases) {
    for (int i = 0; i < 18; ++i) c.MarkDirty({i * 11, 0, i * 11 + 5, 5}, false);
    for (const Rect& r : k.marks) c.MarkDirty(r, false);
    const std::vector<Rect> d = c.DirtyRects();
    ASSERT_GE(d.size(), 18u) << k.what;
    EXPECT_EQ(std::vector<Rect>(d.begin() + 18, d.end()), k.tail) << k.what;
    for (int i = 0; i < 18; ++i) EXPECT_EQ(d[size_t(i)], (Rect{i * 11, 0, i * 11 + 5, 5})) << k.what;
    c.Flush(false);
  }
}

// Sprites of every drawing path scattered over a stage, moved in batches; after
// each flush the off-screen picture must equal a composition of everything.
class StageFlushIndex : public ::testing::TestWithParam<int> {};

TEST_P(StageFlushIndex, FlushedFramesEqualAWholeComposition) {
  const int count = GetParam();
  PixelBuffer screen(320, 240);  // outlives the compositor, which presents into it to the end
  BufferPresenter presenter(screen);
  Compositor c(CompositorRole::kStage);
  ASSERT_EQ(c.Initialise({0, 0, 320, 240}, kBack, PixelFormat::kXrgb32, &presenter), 0);
  uint32_t seed = uint32_t(count) * 7919u;
  auto next = [&seed](int range) {
    seed = seed * 1103515245u + 12345u;
    return int((seed >> 8) % uint32_t(range));
  };
  auto colour = [](int x, int y) { return (x / 3 + y / 2) % 3 == 0 ? kGrey : ColorRef::FromRgb(uint8_t(x * 8), uint8_t(y * 4), 0x40); };
  const DecodedPicture pic = Picture24(24, 18, colour);
  std::vector<std::unique_ptr<StageSprite>> sprites;
  for (int i = 0; i < count; ++i) {
    auto s = std::make_unique<StageSprite>();
    const int w = 6 + next(60), h = 6 + next(40), x = next(340) - 10, y = next(260) - 10;
    s->SetPicture(pic.View());
    // Keyed or opaque, at picture size or stretched either way.
    s->Setup({x, y, x + w, y + h}, {0, 0, 24, 18}, uint16_t(10 + next(5)), i % 3 != 0, kGrey, 0, 0);
    c.Add(*s, false);
    sprites.push_back(std::move(s));
  }
  c.Update({0, 0, 320, 240});
  for (int frame = 0; frame < 12; ++frame) {
    for (int m = 0; m < 1 + count / 4; ++m) {
      StageSprite& s = *sprites[size_t(next(count))];
      const int dx = next(41) - 20, dy = next(31) - 15;
      switch (next(4)) {
        case 0:  // hidden, moved while hidden, shown again later
          s.SetDisplayStateRedraw(s.displayState == kStateHidden ? kStateShown : kStateHidden, false);
          c.MarkDirty(s.DisplayedRect(), false);
          break;
        default:
          s.MoveTo(s.rect.Offset(dx, dy), s.layer, true);
      }
    }
    c.Flush(false);
    const PixelBuffer whole = c.Snapshot();
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 320; ++x)
        ASSERT_EQ(screen.GetPixel(x, y), whole.GetPixel(x, y)) << count << " sprites, frame " << frame << " at " << x
                                                               << "," << y;
  }
  for (auto& s : sprites) c.Remove(*s, false);
}

INSTANTIATE_TEST_SUITE_P(Counts, StageFlushIndex, ::testing::Values(3, 25, 120));

class StageBackground : public RecordedStage {
 protected:
  // The stage as composed now, and as composed from nothing.
  void ExpectWhole(const char* what) {
    const PixelBuffer now = c.Offscreen().Clone();
    const PixelBuffer whole = c.Snapshot();
    for (int y = 0; y < 100; ++y)
      for (int x = 0; x < 200; ++x)
        ASSERT_EQ(now.GetPixel(x, y), whole.GetPixel(x, y)) << what << " at " << x << "," << y;
  }
};

TEST_F(StageBackground, WhatLiesBehindARasterOperationIsDrawnFirst) {
  // An opaque picture drawn inverting the stage covers the updated part, but
  // its pixels depend on the background: the background must not be skipped.
  StageSprite inv;
  Place(inv, Solid24(60, 60, kRed), {20, 20, 80, 80}, 5);
  inv.pending.rop = 0x00660046;  // SRCINVERT
  c.Add(inv, false);
  c.Update({0, 0, 200, 100});
  const ColorRef once = c.Offscreen().GetPixel(35, 35);
  EXPECT_EQ(once.value, (kRed.value ^ kBack.value));
  // Once more (inverting a stale picture would give the background back).
  c.Update({30, 30, 40, 40});
  EXPECT_EQ(c.Offscreen().GetPixel(35, 35), once);
  c.Remove(inv, false);
}

TEST_F(StageBackground, StampedAndChangedBackgroundsAreCopiedNotFilled) {
  struct Step {
    const char* what;
    std::function<void(StageSprite& mover, StageSprite& stamp)> act;
    Point probe;
    ColorRef want;
  };
  StageSprite mover, stamp, opaque;
  Place(mover, Solid24(10, 10, kBlue), {0, 0, 10, 10}, 5);
  Place(opaque, Solid24(40, 40, kGreen), {100, 40, 140, 80}, 6);
  c.Add(mover, true);
  c.Add(opaque, true);
  c.Update({0, 0, 200, 100});
  const Step steps[] = {
      {"a plain background shows between opaque sprites", [](StageSprite& m, StageSprite&) { m.MoveTo({90, 50, 100, 60}, 5, false); }, {5, 5}, kBack},
      {"a stamp stays when the area is recomposed",
       [this](StageSprite& m, StageSprite& s) {
         Place(s, Solid24(30, 30, kRed), {10, 10, 40, 40}, kStampLayer);
         c.Add(s, false);
         c.Stamp(s);  // listed at the stamp layer: drawn into the background without an update
         c.Update({10, 10, 40, 40});
         m.MoveTo({20, 20, 30, 30}, 5, false);
         m.MoveTo({150, 20, 160, 30}, 5, false);
       },
       {25, 25}, kRed},
      {"a picture changed through the accessor shows",
       [this](StageSprite& m, StageSprite&) {
         c.Background().MutablePicture().Fill({150, 60, 200, 100}, kGrey);
         c.Update({150, 60, 200, 100});
         m.MoveTo({0, 0, 10, 10}, 5, false);
       },
       {155, 75}, kGrey},
      {"after a repaint the background is one colour again",
       [this](StageSprite& m, StageSprite&) {
         c.RepaintBackground(true);
         m.MoveTo({60, 60, 70, 70}, 5, false);
       },
       {25, 25}, kBack},
  };
  for (const Step& k : steps) {
    k.act(mover, stamp);
    EXPECT_EQ(c.Offscreen().GetPixel(k.probe.x, k.probe.y), k.want) << k.what;
    ExpectWhole(k.what);
  }
  c.Remove(mover, false);
  c.Remove(opaque, false);
}

}  // namespace
}  // namespace kv
