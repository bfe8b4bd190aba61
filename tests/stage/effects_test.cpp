#include "stage/effects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/string_table.h"
#include "stage/effect_routines.h"
#include "stage/step_clock.h"
#include "stage/transitions.h"
#include "tests/stage/stage_test_util.h"

namespace kv {
namespace {

using namespace kv::test;
using Mask = std::vector<std::string>;

// A 12 x 8 stage with an 8 x 6 object at (2, 1); frames are read back as
// masks of the object's area, '#' where the object shows.
class EffectRun : public ::testing::Test {
 protected:
  static constexpr Rect kObject{2, 1, 10, 7};

  void SetUp() override {
    ASSERT_EQ(c.Initialise({0, 0, 12, 8}, kBack, PixelFormat::kXrgb32, nullptr), 0);
    c.SetEnvironment(&env);
    c.SetEffectEngine(&engine);
    engine.SetObserver([this](int, int) { frames.push_back(c.Snapshot()); });
  }

  void Show(const DecodedPicture& pic, uint32_t effect, int p1, int p2, int duration = 0) {
    Place(sprite, pic, kObject, 5);
    sprite.compositor = &c;
    sprite.Show(ShowParams::kSrcCopy, effect, uint32_t(p1), uint32_t(p2), uint32_t(duration), nullptr, 0, 0, 1, 0);
  }
  void ShowSolid(uint32_t effect, int p1, int p2) { Show(Solid24(8, 6, kRed), effect, p1, p2); }

  Mask MaskOf(const PixelBuffer& frame) const {
    Mask m;
    for (int y = kObject.top; y < kObject.bottom; ++y) {
      std::string row;
      for (int x = kObject.left; x < kObject.right; ++x) row += frame.GetPixel(x, y) == kBack ? '.' : '#';
      m.push_back(row);
    }
    return m;
  }

  FakeEnvironment env;
  Compositor c{CompositorRole::kStage};
  ManualEffectClock clock;
  TransitionEngine engine{c, clock, Pacing::kNone};
  StageSprite sprite;
  std::vector<PixelBuffer> frames;
};

// ---------------------------------------------------------------- the table

TEST(EffectTable, DefaultsScaleWithTheObjectSize) {
  struct Case {
    uint32_t effect;
    int w, h;
    EffectParams want;
  } cases[] = {
      {1, 320, 320, {2, 0, 1000}},    // top/bottom wipe at 320: the row itself
      {1, 100, 60, {1, 0, 625}},      // s = 80: 1 + 80 * 1 / 320 = 1; 500 + 80 * 500 / 320 = 625
      {3, 160, 160, {2, 0, 750}},     // 1 + 160 * 3 / 320 = 2 (truncated)
      {9, 40, 40, {8, 0, 562}},       // blinds: 500 + 40 * 500 / 320 = 562
      {59, 320, 320, {16, 0, 1500}},  // stretching wipe
      {100, 640, 0, {12, 1, 1000}},   // growing lines: s = 320
      {104, 0, 0, {2, 0, 500}},       // an empty object: the small values
      {68, 320, 320, {5, 0, 8000}},   // palette fade through a colour
      {0, 50, 50, {8, 8, 1000}},      // outside 1 to 107
      {200, 50, 50, {8, 8, 1000}},
  };
  for (const Case& k : cases) {
    const EffectParams p = ResolveEffectParams(k.effect, kEffectDefault, kEffectDefault, kEffectDefault, k.w, k.h);
    EXPECT_EQ(p.param1, k.want.param1) << k.effect;
    EXPECT_EQ(p.param2, k.want.param2) << k.effect;
    EXPECT_EQ(p.durationMs, k.want.durationMs) << k.effect;
  }
  const EffectParams given = ResolveEffectParams(1, 7, 3, 0, 320, 320);
  EXPECT_EQ(given.param1, 7);
  EXPECT_EQ(given.param2, 3);
  EXPECT_EQ(given.durationMs, 0);
}

TEST(EffectTable, NamesComeFromTheStringTable) {
  EXPECT_STREQ(EffectName(0), "(None)");
  EXPECT_STREQ(EffectName(44), "Clock");
  EXPECT_STREQ(EffectName(51), "Mosaic stage ");  // the stored text keeps its space
  EXPECT_STREQ(EffectName(73), "Palette fade color6");
  EXPECT_STREQ(EffectName(107), "Stretch right up");
  EXPECT_STREQ(EffectName(108), "");
  for (uint32_t e = 0; e <= kLastEffect; ++e) EXPECT_STRNE(EffectName(e), "") << e;
}

TEST(EffectTable, ShiftRegisterGivesEveryCellOnce) {
  struct Case {
    uint32_t n;
    int bits;
  } cases[] = {{1, 7}, {127, 7}, {128, 11}, {2047, 11}, {2048, 15}, {32767, 15}, {40000, 17}, {200000, 20}};
  for (const Case& k : cases)
    for (uint32_t seed : {0u, 12345u, 0x1FFFFFu}) {
      CellSequence seq(k.n, seed);
      EXPECT_EQ(seq.Bits(), k.bits) << k.n;
      std::vector<char> seen(k.n, 0);
      uint32_t distinct = 0;
      for (uint32_t i = 0; i < k.n; ++i) {
        const uint32_t g = seq.Next();
        ASSERT_LT(g, k.n);
        distinct += !seen[g];
        seen[g] = 1;
      }
      EXPECT_EQ(distinct, k.n) << k.n << " seed " << seed;
    }
}

// ---------------------------------------------------------------- step clock

TEST(StepClock, SpreadsTheStepsOverTheDuration) {
  // Ten steps over 900 ms, counted as nine: each wait sleeps (time left /
  // steps to come) - 1, e.g. 900 / 9 - 1 = 99, then 801 / 8 - 1 = 99, ...
  // 405 / 4 - 1 = 100, ... 104 / 1 - 1 = 103.
  ManualEffectClock clock;
  StepClock steps(clock, 900, Pacing::kSleep, {});
  steps.Start(10);
  std::vector<int64_t> at;
  for (int i = 0; i < 10; ++i) {
    at.push_back(clock.NowMs());
    ASSERT_TRUE(steps.Wait());
  }
  EXPECT_EQ(at, (std::vector<int64_t>{0, 99, 198, 297, 396, 495, 595, 695, 796, 899}));
  EXPECT_EQ(clock.NowMs(), 899);  // past the counted steps nothing is left to wait, and nothing divides by 0
}

TEST(StepClock, CountsAndPacingModes) {
  struct Case {
    int steps;
    int64_t duration;
    Pacing pacing;
    int counted;
    std::vector<int64_t> waits;  // targets after the first Wait
  } cases[] = {
      {1, 300, Pacing::kSleep, 1, {299}},  // one step: the whole duration less 1 ms
      {0, 300, Pacing::kSleep, 1, {299}},  // below 1 counts as 1
      {2, 300, Pacing::kSleep, 1, {299}},  // 2 counts as 1
      {5, 0, Pacing::kSleep, 4, {}},       // duration 0: never sleeps
      {5, 300, Pacing::kNone, 4, {}},
  };
  for (const Case& k : cases) {
    ManualEffectClock clock;
    StepClock steps(clock, k.duration, k.pacing, {});
    steps.Start(k.steps);
    EXPECT_EQ(steps.StepsCounted(), k.counted);
    EXPECT_TRUE(steps.Wait());
    EXPECT_EQ(clock.Waits(), k.waits) << k.steps << " " << k.duration;
  }
}

TEST(StepClock, InterruptionSticks) {
  ManualEffectClock clock;
  int asked = 0;
  StepClock steps(clock, 1000, Pacing::kSleep, [&] { return ++asked > 1; });
  steps.Start(10);
  EXPECT_FALSE(steps.Wait());  // clear before the sleep, set after it
  EXPECT_TRUE(steps.Interrupted());
  EXPECT_FALSE(steps.Wait());
  EXPECT_FALSE(steps.Delay(5));
}

// ---------------------------------------------------------------- Part-given masks

struct MaskCase {
  const char* name;
  uint32_t effect;
  int p1, p2;
  int steps;
  std::vector<std::pair<int, Mask>> at;  // step index and the mask after it
};

class GivenMasks : public EffectRun, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(GivenMasks, ShowTheRevealedPixelsAtEachStep) {
  const MaskCase& k = GetParam();
  ShowSolid(k.effect, k.p1, k.p2);
  ASSERT_EQ(int(frames.size()), k.steps);
  for (const auto& [step, mask] : k.at) EXPECT_EQ(MaskOf(frames[size_t(step)]), mask) << "step " << step;
  EXPECT_EQ(MaskOf(c.Snapshot()), Mask(6, "########"));
}

const Mask kNone(6, "........");

INSTANTIATE_TEST_SUITE_P(
    Effects, GivenMasks,
    ::testing::Values(
        // Bands of 2 rows: 6 / 2 = 3 steps.
        MaskCase{"WipeDown", 1, 2, 0, 3,
                 {{0, {"########", "########", "........", "........", "........", "........"}},
                  {1, {"########", "########", "########", "########", "........", "........"}}}},
        // 6 = 4 + 2: the first step shows the 2 rows the bands leave over.
        MaskCase{"WipeRemainderFirst", 1, 4, 0, 2,
                 {{0, {"########", "########", "........", "........", "........", "........"}}}},
        MaskCase{"WipeTallerThanObject", 1, 50, 0, 1, {}},
        MaskCase{"WipeUp", 2, 2, 0, 3,
                 {{0, {"........", "........", "........", "........", "########", "########"}}}},
        // 8 = 3 * 2 + 2.
        MaskCase{"WipeRight", 3, 3, 0, 3,
                 {{0, {"##......", "##......", "##......", "##......", "##......", "##......"}},
                  {1, {"#####...", "#####...", "#####...", "#####...", "#####...", "#####..."}}}},
        MaskCase{"WipeLeft", 4, 4, 0, 2,
                 {{0, {"....####", "....####", "....####", "....####", "....####", "....####"}}}},
        // Row i of every 3-row band.
        MaskCase{"Blinds", 9, 3, 0, 3,
                 {{0, {"########", "........", "........", "########", "........", "........"}},
                  {1, {"########", "########", "........", "########", "########", "........"}}}},
        MaskCase{"BlindsOfOneAreTwo", 9, 1, 0, 2,
                 {{0, {"########", "........", "########", "........", "########", "........"}}}},
        MaskCase{"BlindsVertical", 10, 4, 0, 4,
                 {{0, {"#...#...", "#...#...", "#...#...", "#...#...", "#...#...", "#...#..."}}}},
        // Cells 3 x 2: first row left to right, second right to left, the last column cut to 2.
        MaskCase{"BlocksDown", 16, 3, 2, 9,
                 {{0, {"###.....", "###.....", "........", "........", "........", "........"}},
                  {2, {"########", "########", "........", "........", "........", "........"}},
                  {3, {"########", "########", "......##", "......##", "........", "........"}},
                  {6, {"########", "########", "########", "########", "###.....", "###....."}}}},
        MaskCase{"BlocksUp", 17, 3, 2, 9,
                 {{0, {"........", "........", "........", "........", "###.....", "###....."}}}},
        // Even bands down from the top, odd bands up from the lowest.
        MaskCase{"SkipLines", 48, 1, 0, 3,
                 {{0, {"########", "........", "........", "........", "........", "########"}},
                  {1, {"########", "........", "########", "########", "........", "########"}}}},
        MaskCase{"HorizontalClose", 5, 1, 0, 3,
                 {{0, {"########", "........", "........", "........", "........", "########"}},
                  {1, {"########", "########", "........", "........", "########", "########"}}}},
        MaskCase{"HorizontalOpen", 6, 1, 0, 3,
                 {{0, {"........", "........", "########", "########", "........", "........"}}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EffectRun, ClockSweepsFromTwelveClockwise) {
  // 45-degree steps of one hand: 360 / 45 + 1 = 9 steps. Object (8 x 6), centre (4, 3).
  ShowSolid(44, 45, 1);
  ASSERT_EQ(frames.size(), 9u);
  const Mask first = MaskOf(frames[0]);
  EXPECT_EQ(first[0][5], '#');  // just right of 12 o'clock
  EXPECT_EQ(first[0][2], '.');  // just left of it
  EXPECT_EQ(first[3][7], '.');  // 3 o'clock comes in the third step (90 to 135 degrees)
  EXPECT_EQ(MaskOf(frames[1])[3][7], '.');
  EXPECT_EQ(MaskOf(frames[2])[3][7], '#');
  EXPECT_EQ(MaskOf(frames[6])[0][2], '.');  // about 329 degrees: the last step but one
  EXPECT_EQ(MaskOf(frames[7])[0][2], '#');
}

TEST_F(EffectRun, RandomRectanglesRevealOneCellPerStep) {
  ShowSolid(36, 4, 3);  // 2 x 2 cells
  ASSERT_EQ(frames.size(), 4u);
  int before = 0;
  for (const PixelBuffer& f : frames) {
    int shown = 0;
    for (const std::string& row : MaskOf(f)) shown += int(std::count(row.begin(), row.end(), '#'));
    EXPECT_EQ(shown - before, 12);
    before = shown;
  }
}

TEST_F(EffectRun, PuzzlePiecesComeInTheShiftRegistersOrder) {
  ShowSolid(46, 4, 4);  // 2 x 2 pieces of 4 x 4 (the lower ones cut to 2 rows); the clock's seconds (0) seed the order
  ASSERT_EQ(frames.size(), 4u);
  CellSequence seq(4, 0);
  std::vector<uint32_t> order;
  for (int i = 0; i < 4; ++i) order.push_back(seq.Next());
  // Each piece's centre, away from the knobs, shows from its own step on.
  for (size_t step = 0; step < 4; ++step) {
    const Mask m = MaskOf(frames[step]);
    for (size_t k = 0; k < 4; ++k) {
      const uint32_t cell = order[k];
      const int x = int(cell % 2) * 4 + 2, y = int(cell / 2) * 4 + 1;
      EXPECT_EQ(m[size_t(y)][size_t(x)], k <= step ? '#' : '.') << "piece " << cell << " at step " << step;
    }
  }
}

TEST_F(EffectRun, PixelFadeOfOneCellRevealsIt) {
  Place(sprite, Solid24(2, 4, kRed), {2, 1, 4, 5}, 5);
  sprite.compositor = &c;
  sprite.Show(ShowParams::kSrcCopy, 39, 0, 0, 0, nullptr, 0, 0, 1, 0);
  ASSERT_EQ(frames.size(), 1u);
  for (int y = 1; y < 5; ++y)
    for (int x = 2; x < 4; ++x) EXPECT_EQ(frames[0].GetPixel(x, y), kRed);
}

// Rows in distinct colours, so that moved pictures show where each row went.
ColorRef RowColor(int y) { return ColorRef::FromRgb(uint8_t(0x10 * (y + 1)), 0x80, 0x08); }
DecodedPicture Rows() { return Picture24(8, 6, [](int, int y) { return RowColor(y); }); }

TEST_F(EffectRun, SlideDownShowsTheBottomRowsFirst) {
  Show(Rows(), 12, 2, 0);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].GetPixel(3, 1), RowColor(4));
  EXPECT_EQ(frames[0].GetPixel(3, 2), RowColor(5));
  EXPECT_EQ(frames[0].GetPixel(3, 3), kBack);
  EXPECT_EQ(frames[1].GetPixel(3, 1), RowColor(2));
}

TEST_F(EffectRun, PushMovesTheOldImageAhead) {
  StageSprite under;
  Place(under, Picture24(12, 8, [](int, int y) { return ColorRef::FromRgb(0, uint8_t(0x10 * y), 0xF0); }),
        {0, 0, 12, 8}, 9);
  c.Add(under, true);
  Show(Rows(), 20, 2, 0);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].GetPixel(3, 1), RowColor(4));
  // Stage row 1 (the object's first) is now at stage row 3.
  EXPECT_EQ(frames[0].GetPixel(3, 3), ColorRef::FromRgb(0, 0x10, 0xF0));
  EXPECT_EQ(frames[0].GetPixel(1, 3), ColorRef::FromRgb(0, 0x30, 0xF0));  // outside the object: unmoved
}

TEST_F(EffectRun, StackCellsRiseFromTheBottomRow) {
  // Cells 4 x 4 on 8 x 6: 2 columns, 2 rows, 2 * 2 * 3 / 2 = 6 moves.
  Show(Picture24(8, 6, [](int x, int y) { return ColorRef::FromRgb(uint8_t(0x10 * x), uint8_t(0x10 * y), 0x40); }),
       24, 4, 4);
  ASSERT_EQ(frames.size(), 6u);
  // Step 0: the first cell, showing its own top-left corner, at the bottom row (cut there).
  EXPECT_EQ(frames[0].GetPixel(2, 5), ColorRef::FromRgb(0, 0, 0x40));
  EXPECT_EQ(frames[0].GetPixel(2, 1), kBack);
  // Step 1: it reached its row; its bottom place is the stage again.
  EXPECT_EQ(frames[1].GetPixel(2, 1), ColorRef::FromRgb(0, 0, 0x40));
  EXPECT_EQ(frames[1].GetPixel(2, 5), kBack);
}

// ---------------------------------------------------------------- every effect

TEST(EveryEffect, EndsInThePlainShowAndHide) {
  FakeEnvironment env;
  Compositor c{CompositorRole::kStage};
  ASSERT_EQ(c.Initialise({0, 0, 48, 32}, kBack, PixelFormat::kXrgb32, nullptr), 0);
  c.SetEnvironment(&env);
  StageSprite under;
  Place(under, Picture24(48, 32, [](int x, int y) { return ColorRef::FromRgb(uint8_t(x * 5), 0x20, uint8_t(y * 7)); }),
        {0, 0, 48, 32}, 9);
  c.Add(under, true);
  const DecodedPicture pic = Picture24(30, 20, [](int x, int y) { return ColorRef::FromRgb(0xF0, uint8_t(x * 8), uint8_t(y * 12)); });
  const PixelBuffer bare = c.Snapshot();
  StageSprite plain;
  Place(plain, pic, {10, 6, 40, 26}, 5);
  c.Add(plain, true);
  const PixelBuffer shown = c.Snapshot();
  c.Remove(plain, true);

  ManualEffectClock clock;
  TransitionEngine engine(c, clock, Pacing::kSleep);
  c.SetEffectEngine(&engine);
  auto same = [](const PixelBuffer& a, const PixelBuffer& b) {
    for (int y = 0; y < a.Height(); ++y)
      for (int x = 0; x < a.Width(); ++x)
        if (a.GetPixel(x, y) != b.GetPixel(x, y)) return false;
    return true;
  };
  for (uint32_t e = 1; e <= kLastEffect; ++e) {
    StageSprite s;
    Place(s, pic, {10, 6, 40, 26}, 5);
    s.compositor = &c;
    s.Show(ShowParams::kSrcCopy, e, kEffectDefault, kEffectDefault, 400, nullptr, 0, 0, 1, 0);
    EXPECT_TRUE(same(c.Snapshot(), shown)) << "show " << e << " " << EffectName(e);
    EXPECT_GE(engine.LastSteps(), 1) << e;
    EXPECT_LE(engine.LastSteps(), kMaxEffectSteps) << e;
    EXPECT_EQ(s.displayState, kStateShown);
    EXPECT_TRUE(c.Contains(s));
    EXPECT_TRUE(s.Hide(true, e, kEffectDefault, kEffectDefault, 400));
    EXPECT_TRUE(same(c.Snapshot(), bare)) << "hide " << e << " " << EffectName(e);
    EXPECT_FALSE(c.Contains(s));
    EXPECT_EQ(c.Sprites().size(), 2u) << e;  // the working sprite is gone too
  }
  EXPECT_TRUE(env.errors.empty());
}

// A step recomposes only the parts its routine names; after every step of
// every effect, shown and hidden over several tiles of an object, the
// presented screen must equal a composition of everything.
TEST(EveryEffect, EachStepPresentsEveryPixelItChanged) {
  FakeEnvironment env;
  PixelBuffer screen(170, 120);  // outlives the compositor, which presents into it to the end
  BufferPresenter presenter(screen);
  Compositor c{CompositorRole::kStage};
  ASSERT_EQ(c.Initialise({0, 0, 170, 120}, kBack, PixelFormat::kXrgb32, &presenter), 0);
  c.SetEnvironment(&env);
  StageSprite under;
  Place(under, Picture24(170, 120, [](int x, int y) { return ColorRef::FromRgb(uint8_t(x * 3), 0x20, uint8_t(y * 2)); }),
        {0, 0, 170, 120}, 9);
  c.Add(under, true);
  c.Update({0, 0, 170, 120});
  const DecodedPicture pic =
      Picture24(150, 100, [](int x, int y) { return ColorRef::FromRgb(0xF0, uint8_t(x * 5), uint8_t(y * 7)); });
  ManualEffectClock clock;
  TransitionEngine engine(c, clock, Pacing::kSleep);
  c.SetEffectEngine(&engine);
  uint32_t effect = 0;
  const char* way = "";
  int mismatches = 0;
  engine.SetObserver([&](int step, int) {
    const PixelBuffer whole = c.Snapshot();
    for (int y = 0; y < 120; ++y)
      if (std::memcmp(screen.Row(y), whole.Row(y), 170 * 4) != 0) {
        if (++mismatches < 5) ADD_FAILURE() << way << " " << effect << " " << EffectName(effect) << " step " << step << " row " << y;
        break;
      }
  });
  for (effect = 1; effect <= kLastEffect; ++effect) {
    StageSprite s;
    Place(s, pic, {12, 9, 162, 109}, 5);
    s.compositor = &c;
    way = "show";
    s.Show(ShowParams::kSrcCopy, effect, kEffectDefault, kEffectDefault, 400, nullptr, 0, 0, 1, 0);
    way = "hide";
    EXPECT_TRUE(s.Hide(true, effect, kEffectDefault, kEffectDefault, 400));
  }
  EXPECT_EQ(mismatches, 0);
  EXPECT_TRUE(env.errors.empty());
}

TEST(MaskRoutines, StepPartsHoldEveryPixelTheStepReveals) {
  // Effects whose pixels of one step lie far apart: random stars and circles,
  // pattern circles, pixel fade, random rectangles, the clock.
  for (uint32_t effect : {85u, 84u, 37u, 39u, 36u, 44u, 28u}) {
    auto r = MakeEffectRoutine({effect, 0, 0, 300, 200, 7});
    ASSERT_TRUE(r) << effect;
    if (!r->UsesMask()) continue;
    EffectFrame f;
    f.width = 300, f.height = 200;
    std::vector<uint8_t> before;
    for (int i = 0; i < r->Steps(); ++i) {
      before = f.mask;
      const Rect box = r->Step(i, f);
      if (before.empty()) before.assign(f.mask.size(), 0);
      for (const Rect& p : f.parts) EXPECT_TRUE(box.Contains(p)) << effect << " step " << i;
      for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x) {
          const size_t at = size_t(y) * 300 + size_t(x);
          if (f.mask[at] == before[at]) continue;
          const bool inPart = std::any_of(f.parts.begin(), f.parts.end(), [&](const Rect& p) { return p.Contains(x, y); });
          ASSERT_TRUE(inPart) << effect << " step " << i << " pixel " << x << "," << y;
        }
    }
  }
}

TEST(EveryEffect, DegenerateParametersNeverDivideByZero) {
  // Parameters of 0 and 1 and objects of one pixel go through every routine.
  for (uint32_t e = 1; e <= kLastEffect; ++e)
    for (int size : {1, 2, 7})
      for (int p : {0, 1}) {
        auto r = MakeEffectRoutine({e, p, p, size, size + 1, 3});
        if (!r) continue;
        EXPECT_LE(r->Steps(), kMaxEffectSteps);
        EffectFrame f{size, size + 1, {}, {}, {}};
        for (int i = 0; i < r->Steps(); ++i) r->Step(i, f);
      }
}

// The step at which each pixel of a mask routine first shows.
std::vector<int> RevealSteps(EffectRoutine& r, int w, int h) {
  std::vector<int> at(size_t(w) * h, -1);
  EffectFrame f{w, h, {}, {}, {}};
  for (int i = 0; i < r.Steps(); ++i) {
    r.Step(i, f);
    for (size_t p = 0; p < at.size(); ++p)
      if (at[p] < 0 && f.mask[p]) at[p] = i;
  }
  return at;
}

// Pattern circles and diamonds grow from every cell's centre: each cell is
// revealed the same way, mirror-symmetric in both axes and the diagonal,
// its centre first, whether the cell size is odd or even.
TEST(PatternShapes, EveryCellIsSymmetricAboutItsCentre) {
  for (uint32_t effect : {37u, 38u})
    for (int cell : {3, 4, 5, 7}) {
      SCOPED_TRACE(std::string(EffectName(effect)) + " cell " + std::to_string(cell));
      const int w = 3 * cell, h = 2 * cell;
      auto r = MakeEffectRoutine({effect, cell, 0, w, h, 1});
      ASSERT_TRUE(r);
      ASSERT_TRUE(r->UsesMask());
      const std::vector<int> at = RevealSteps(*r, w, h);
      auto step = [&](int x, int y) { return at[size_t(y) * w + x]; };
      ASSERT_EQ(*std::min_element(at.begin(), at.end()), 0);
      const int c = cell / 2;
      EXPECT_EQ(step(c, c), 0);
      if (cell % 2 == 0) {
        EXPECT_EQ(step(c - 1, c - 1), 0);
      }
      EXPECT_GT(step(0, 0), 0);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const int u = x % cell, v = y % cell, s = step(x, y);
          ASSERT_GE(s, 0) << x << "," << y;
          EXPECT_EQ(s, step(u, v)) << x << "," << y;
          EXPECT_EQ(s, step(cell - 1 - u, v)) << x << "," << y;
          EXPECT_EQ(s, step(u, cell - 1 - v)) << x << "," << y;
          EXPECT_EQ(s, step(v, u)) << x << "," << y;
        }
    }
}

TEST(EveryEffect, HugeGridsAreCapped) {
  for (uint32_t e : {16u, 24u, 36u, 39u, 45u, 46u, 47u}) {
    auto r = MakeEffectRoutine({e, 1, 1, 2000, 1500, 1});
    ASSERT_TRUE(r) << e;
    EXPECT_LE(r->Steps(), kMaxEffectSteps) << e;
    EXPECT_LE(r->ClockSteps(), kMaxEffectSteps) << e;
  }
}

// ---------------------------------------------------------------- engine rules

TEST_F(EffectRun, AbortEndsAtOnceInTheFinalState) {
  int checks = 0;
  TransitionEngine aborting(c, clock, Pacing::kSleep, [&](uint16_t key) {
    EXPECT_EQ(key, 0xFFFE);
    return ++checks > 5;  // two checks per wait: the third wait ends it
  });
  c.SetEffectEngine(&aborting);
  Place(sprite, Solid24(8, 6, kRed), kObject, 5);
  sprite.effectAbortKey = 0xFFFE;
  sprite.compositor = &c;
  sprite.Show(ShowParams::kSrcCopy, 1, 1, 0, 6000, nullptr, 0, 0, 1, 0);
  EXPECT_EQ(aborting.LastSteps(), 3);
  EXPECT_TRUE(aborting.LastInterrupted());
  EXPECT_EQ(MaskOf(c.Snapshot()), Mask(6, "########"));
  EXPECT_LT(clock.NowMs(), 6000);
}

TEST_F(EffectRun, StopRequestInterruptsToo) {
  env.stop = false;
  engine.SetObserver([this](int step, int) { env.stop = step == 1; });
  ShowSolid(1, 1, 0);
  EXPECT_EQ(engine.LastSteps(), 2);
  EXPECT_TRUE(engine.LastInterrupted());
}

TEST_F(EffectRun, PaletteFadesStandInAsRandomRectanglesWithoutDelay) {
  ManualEffectClock paced;
  TransitionEngine sleeping(c, paced, Pacing::kSleep);
  c.SetEffectEngine(&sleeping);
  ShowSolid(68, 50, 50);  // parameters 2 and 2: 4 x 3 cells of 2 x 2
  EXPECT_EQ(sleeping.LastSteps(), 12);
  EXPECT_TRUE(paced.Waits().empty());
}

TEST_F(EffectRun, BusySpriteRefusesASecondEffect) {
  Place(sprite, Solid24(8, 6, kRed), kObject, 5);
  sprite.busy = 1;
  engine.RunShow(sprite, {ShowParams::kSrcCopy, 1, 1, 0, 0, 0});
  EXPECT_TRUE(frames.empty());
  EXPECT_FALSE(c.Contains(sprite));
}

TEST_F(EffectRun, AnotherThreadCannotStartASecondEffectOnTheSprite) {
  std::promise<void> running, tried;
  std::shared_future<void> triedDone = tried.get_future().share();
  std::atomic<int> steps{0};
  engine.SetObserver([&](int step, int) {
    ++steps;
    if (step == 0) {
      running.set_value();
      triedDone.wait();  // hold the first effect until the second request returned
    }
  });
  Place(sprite, Solid24(8, 6, kRed), kObject, 5);
  sprite.compositor = &c;
  std::thread first([&] { engine.RunShow(sprite, {ShowParams::kSrcCopy, 1, 2, 0, 0, 0}); });
  running.get_future().wait();
  engine.RunShow(sprite, {ShowParams::kSrcCopy, 9, 2, 0, 0, 0});
  const int whileBusy = steps;
  tried.set_value();
  first.join();
  EXPECT_EQ(whileBusy, 1);
  EXPECT_EQ(steps, 3);  // only the wipe's own steps
  EXPECT_EQ(MaskOf(c.Snapshot()), Mask(6, "########"));
  EXPECT_EQ(sprite.busy, 0);
}

TEST_F(EffectRun, HideMasksTheObjectOut) {
  Place(sprite, Solid24(8, 6, kRed), kObject, 5);
  c.Add(sprite, true);
  ASSERT_TRUE(sprite.Hide(true, 1, 2, 0, 0));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(MaskOf(frames[0]), (Mask{"........", "........", "########", "########", "########", "########"}));
  EXPECT_EQ(MaskOf(c.Snapshot()), kNone);
}

// ---------------------------------------------------------------- reveal mask

TEST(RevealMask, CompositorDrawsOnlyMarkedPixelsWithTheSpritesOwnKey) {
  FakeEnvironment env;
  Compositor c{CompositorRole::kStage};
  ASSERT_EQ(c.Initialise({0, 0, 4, 2}, kBack, PixelFormat::kXrgb32, nullptr), 0);
  StageSprite s;
  // Column 1 is the key colour: never drawn, marked or not.
  Place(s, Picture24(4, 2, [](int x, int) { return x == 1 ? kGreen : kRed; }), {0, 0, 4, 2}, 5, true, kGreen);
  c.Add(s, true);
  RevealMask mask;
  mask.Reset({0, 0, 4, 2});
  mask.Fill({0, 0, 2, 1}, 1);
  mask.Fill({3, 1, 4, 2}, 1);
  s.reveal = &mask;
  PixelBuffer frame = c.Snapshot();
  const ColorRef want[2][4] = {{kRed, kBack, kBack, kBack}, {kBack, kBack, kBack, kRed}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(frame.GetPixel(x, y), want[y][x]) << x << "," << y;
  mask.on = 0;  // the complement
  frame = c.Snapshot();
  EXPECT_EQ(frame.GetPixel(0, 0), kBack);
  EXPECT_EQ(frame.GetPixel(2, 0), kRed);
  s.reveal = nullptr;
}

}  // namespace
}  // namespace kv
