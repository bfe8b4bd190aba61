#include "stage/compositor.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include "tests/stage/test_presenter.h"
#include "tests/stage/stage_test_util.h"

namespace kv {
namespace {

using namespace kv::test;

// Every golden test runs at both stage formats; expected colours are those
// the format stores (channels of 5-6-5 pictures read back shifted).
class StageCompositor : public ::testing::TestWithParam<PixelFormat> {
 protected:
  void SetUp() override {
    ASSERT_EQ(c.Initialise({0, 0, 64, 48}, kBack, GetParam(), &presenter), 0);
    c.SetEnvironment(&env);
  }

  ColorRef E(ColorRef x) const { return GetParam() == PixelFormat::kRgb565 ? FromRgb565(ToRgb565(x)) : x; }
  ColorRef At(int x, int y) const { return c.Offscreen().GetPixel(x, y); }
  void UpdateAll() { c.Update({0, 0, 64, 48}); }
  bool Is565() const { return GetParam() == PixelFormat::kRgb565; }

  FakeEnvironment env;
  RecordingPresenter presenter;
  Compositor c{CompositorRole::kStage};
};

INSTANTIATE_TEST_SUITE_P(Formats, StageCompositor, ::testing::Values(PixelFormat::kXrgb32, PixelFormat::kRgb565),
                         [](const auto& info) { return info.param == PixelFormat::kXrgb32 ? "xrgb32" : "rgb565"; });

TEST_P(StageCompositor, BackgroundFillsTheStage) {
  UpdateAll();
  EXPECT_EQ(At(0, 0), E(kBack));
  EXPECT_EQ(At(63, 47), E(kBack));
  ASSERT_EQ(presenter.Presented().size(), 1u);
  EXPECT_EQ(presenter.Presented()[0], (Rect{0, 0, 64, 48}));
  EXPECT_EQ(c.Sprites().front(), &c.Background());
}

TEST_P(StageCompositor, EqualLayersPutTheNewestInFrontAndSmallerLayersNearer) {
  StageSprite red{GetParam()}, blue{GetParam()}, green{GetParam()};
  Place(red, Solid24(20, 20, kRed), {0, 0, 20, 20}, 5);
  Place(blue, Solid24(20, 20, kBlue), {10, 0, 30, 20}, 5);
  Place(green, Solid24(20, 20, kGreen), {20, 0, 40, 20}, 3);
  c.Add(green, true);  // added first but with the smaller layer
  c.Add(red, true);
  c.Add(blue, true);
  UpdateAll();
  EXPECT_EQ(At(5, 5), E(kRed));
  EXPECT_EQ(At(15, 5), E(kBlue));   // blue is newer at the same layer
  EXPECT_EQ(At(25, 5), E(kGreen));  // layer 3 is in front of layer 5
  EXPECT_EQ(At(35, 5), E(kGreen));
  EXPECT_EQ(At(45, 5), E(kBack));
  const std::vector<StageSprite*> order = c.Sprites();
  ASSERT_EQ(order.size(), 4u);
  EXPECT_EQ(order[1], &red);
  EXPECT_EQ(order[2], &blue);
  EXPECT_EQ(order[3], &green);
}

struct FakeWindow : ChildWindow {
  Rect Geometry() const override { return geometry; }
  void Move(const Rect& r) override { geometry = r, ++moves; }
  void SetVisible(bool v) override { visible = v; }
  void Repaint() override { ++repaints; }
  void StackBehind(ChildWindow* a) override { above = a; }
  void AttachToStage() override { attached = true; }
  void ForwardMouseToStage(bool on) override { forwarding = on; }
  ColorRef PixelAt(int, int) const override { return kGreen; }
  Rect geometry;
  int moves = 0, repaints = 0;
  bool visible = false, attached = false, forwarding = false;
  ChildWindow* above = nullptr;
};

TEST_P(StageCompositor, WindowSpriteIsInFrontOfDrawnSpriteOfTheSameLayer) {
  FakeWindow child;
  StageSprite win{GetParam()}, drawn{GetParam()};
  win.BecomeWindowSprite(child);
  win.Setup({0, 0, 10, 10}, {}, 5, false, {}, 0, 0);
  Place(drawn, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  c.Add(win, true);
  c.Add(drawn, true);  // newer, but a window's key is its layer, a drawn sprite's layer + 255
  EXPECT_EQ(c.Sprites().back(), &win);
  EXPECT_EQ(c.WindowSpriteCount(), 1);
  EXPECT_TRUE(child.attached && child.visible && child.forwarding);
  EXPECT_EQ(c.HitTest(5, 5), &win);
  EXPECT_EQ(win.PixelAt(5, 5), kGreen);  // read from the window
  UpdateAll();
  EXPECT_EQ(child.geometry, (Rect{0, 0, 10, 10}));  // placed by the update
  EXPECT_EQ(At(5, 5), E(kRed));                    // the window paints itself
  c.Remove(win, true);
  EXPECT_FALSE(child.visible);
  EXPECT_EQ(c.WindowSpriteCount(), 0);
}

TEST_P(StageCompositor, KeyedCopyAtToleranceZeroAndAbove) {
  const ColorRef key = ColorRef::FromRgb(0x80, 0x80, 0x80);
  const ColorRef near = ColorRef::FromRgb(0x84, 0x84, 0x84);  // 4 away in every channel
  const DecodedPicture pic = Picture24(4, 1, [&](int x, int) {
    const ColorRef row[] = {key, near, kRed, key};
    return row[x];
  });
  struct Case {
    uint8_t tolerance;
    bool nearDrawn;
  };
  // A 16-bit display raises every tolerance to at least 8.
  const Case cases[] = {{0, !Is565()}, {3, !Is565()}, {10, false}};
  for (const Case& k : cases) {
    StageSprite s{GetParam()};
    Place(s, pic, {0, 0, 4, 1}, 5, true, key, k.tolerance);
    c.Add(s, true);
    UpdateAll();
    EXPECT_EQ(At(0, 0), E(kBack)) << int(k.tolerance);
    EXPECT_EQ(At(1, 0), k.nearDrawn ? E(near) : E(kBack)) << int(k.tolerance);
    EXPECT_EQ(At(2, 0), E(kRed)) << int(k.tolerance);
    EXPECT_EQ(At(3, 0), E(kBack)) << int(k.tolerance);
    c.Remove(s, true);
  }
}

TEST_P(StageCompositor, SixteenBitPictureWithoutToleranceIsKeyedOnKey16) {
  // Key 0x00123456 (R 0x56, G 0x34, B 0x12) as 5-6-5: 0x5000 | 0x01A0 | 0x0002.
  const ColorRef key(0x00123456);
  DecodedPicture pic;
  pic.width = 2, pic.height = 1, pic.bitsPerPixel = 16, pic.layout16 = Layout16::k565, pic.stride = 4;
  pic.bits = {0xA2, 0x51, 0x00, 0xF8};  // 0x51A2 (the key), 0xF800 (red)
  StageSprite s{GetParam()};
  Place(s, pic, {0, 0, 2, 1}, 5, true, key, 0);
  EXPECT_EQ(s.key16, 0x51A2);
  c.Add(s, true);
  UpdateAll();
  EXPECT_EQ(At(0, 0), E(kBack));
  EXPECT_EQ(At(1, 0), E(kRed));
}

TEST_P(StageCompositor, EightBitPictureWithoutToleranceKeysOnlyTheKeyIndex) {
  const ColorRef key = ColorRef::FromRgb(0x80, 0x80, 0x80);
  DecodedPicture pic;
  pic.width = 3, pic.height = 1, pic.bitsPerPixel = 8, pic.stride = 4;
  pic.bits = {1, 2, 3, 0};
  pic.colorTable.assign(256, kBlack);
  pic.colorTable[1] = key;
  pic.colorTable[2] = key;  // the same colour at another index
  pic.colorTable[3] = kRed;
  StageSprite s{GetParam()};
  Place(s, pic, {0, 0, 3, 1}, 5, true, key, 0);
  EXPECT_EQ(s.keyIndex, 1);
  c.Add(s, true);
  UpdateAll();
  EXPECT_EQ(At(0, 0), E(kBack));
  // With tolerance 0 only index 1 is transparent; a 16-bit display forces a
  // tolerance, so there the colour decides.
  EXPECT_EQ(At(1, 0), Is565() ? E(kBack) : E(key));
  EXPECT_EQ(At(2, 0), E(kRed));
}

TEST_P(StageCompositor, StretchTwoToFiveWritesTwoThenThreeColumns) {
  const DecodedPicture pic = Picture24(2, 1, [](int x, int) { return x == 0 ? kRed : kBlue; });
  StageSprite s{GetParam()};
  Place(s, pic, {0, 0, 5, 2}, 5);
  c.Add(s, true);
  UpdateAll();
  const ColorRef expected[] = {kRed, kRed, kBlue, kBlue, kBlue};
  for (int x = 0; x < 5; ++x) {
    EXPECT_EQ(At(x, 0), E(expected[x])) << x;
    EXPECT_EQ(At(x, 1), E(expected[x])) << x;
  }
  EXPECT_EQ(At(5, 0), E(kBack));
}

TEST_P(StageCompositor, KeyedStretchKeepsTransparency) {
  const ColorRef key = ColorRef::FromRgb(0x80, 0x80, 0x80);
  const DecodedPicture pic = Picture24(2, 1, [&](int x, int) { return x == 0 ? key : kBlue; });
  StageSprite s{GetParam()};
  Place(s, pic, {0, 0, 5, 1}, 5, true, key, 0);
  c.Add(s, true);
  UpdateAll();
  const ColorRef expected[] = {kBack, kBack, kBlue, kBlue, kBlue};
  for (int x = 0; x < 5; ++x) EXPECT_EQ(At(x, 0), E(expected[x])) << x;
}

TEST_P(StageCompositor, UnstretchedPictureIsCutToItsRectangle) {
  const DecodedPicture pic = Picture24(4, 4, [](int x, int y) { return x == 1 && y == 1 ? kRed : kBlue; });
  StageSprite s{GetParam()};
  s.SetPicture(pic.View());
  s.stretch = 0;
  s.Setup({10, 10, 12, 12}, {1, 1, 4, 4}, 5, false, {}, 0, 0);
  s.Fit();
  EXPECT_EQ(s.srcRect, (Rect{1, 1, 3, 3}));
  c.Add(s, true);
  UpdateAll();
  EXPECT_EQ(At(10, 10), E(kRed));
  EXPECT_EQ(At(11, 11), E(kBlue));
  EXPECT_EQ(At(12, 12), E(kBack));
}

// Rectangles from stored files may span more than int's range; a stretched
// picture must still map every stage pixel inside itself (ASan catches a read
// outside it) and hit tests must agree with what was drawn.
TEST_P(StageCompositor, ExtremeRectanglesStretchInsideThePicture) {
  constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();
  struct Case {
    Rect rect;
    ColorRef atOrigin;  // stage pixel (0, 0)
    bool hit;           // the hit test at (5, 5)
  };
  // The picture is red | blue. Column of stage x: ((x - left + 1) * 2 - 1) / width.
  const Case cases[] = {
      // x - left = 2^31, width 2^32 - 1: (2^32 + 1) / (2^32 - 1) = 1, blue.
      {{kMin, kMin, kMax, kMax}, kBlue, true},
      // x - left = 0, width 2^31 - 1: 1 / (2^31 - 1) = 0, red.
      {{0, 0, kMax, kMax}, kRed, true},
      // x - left = 2^31, width 2^31: (2^32 + 1) / 2^31 = 2 outside without the
      // exact width; the sprite ends at 0, so nothing shows.
      {{kMin, kMin, 0, 0}, kBack, false},
      {{kMax, kMax, kMin, kMin}, kBack, false},
  };
  for (const Case& k : cases) {
    const DecodedPicture pic = Picture24(2, 1, [](int x, int) { return x == 0 ? kRed : kBlue; });
    StageSprite s{GetParam()};
    Place(s, pic, k.rect, 5);
    c.Add(s, true);
    UpdateAll();
    EXPECT_EQ(At(0, 0), E(k.atOrigin)) << k.rect.left << "," << k.rect.right;
    EXPECT_EQ(At(63, 47), E(k.atOrigin)) << k.rect.left << "," << k.rect.right;
    EXPECT_EQ(c.HitTest(5, 5) == &s, k.hit) << k.rect.left << "," << k.rect.right;
    c.Remove(s, true);
  }
}

TEST_P(StageCompositor, DisplayStatesDecideDrawing) {
  struct Case {
    uint8_t state;
    ColorRef expected;
  };
  const Case cases[] = {{kStateShown, kRed},        {kStateHidden, kBack},       {kStateDisabled, kRed},
                        {kStateAppearing, kRed},    {kStatePlaceholder, kGrey},  {kStateTransitional, kRed},
                        {kStateDeferred, kBack},    {kStateDisappearing, kRed}};
  for (const Case& k : cases) {
    StageSprite s{GetParam()};
    Place(s, Solid24(8, 8, kRed), {0, 0, 8, 8}, 5);
    s.displayState = k.state;
    c.Add(s, true);
    UpdateAll();
    EXPECT_EQ(At(4, 4), E(k.expected)) << int(k.state);
    c.Remove(s, true);
  }
}

TEST_P(StageCompositor, FullyCoveredSpriteIsDrawnZeroTimes) {
  struct Case {
    const char* what;
    int draws;
    std::function<void(StageSprite&)> front;
  };
  const Case cases[] = {
      {"opaque picture in front", 0, [](StageSprite&) {}},
      {"keyed picture in front", 1, [](StageSprite& f) { f.keyed = 1; }},
      {"appearing sprite in front", 1, [](StageSprite& f) { f.displayState = kStateAppearing; }},
      {"disabled sprite in front", 0, [](StageSprite& f) { f.displayState = kStateDisabled; }},
      {"front only partly covering", 1, [](StageSprite& f) { f.rect = {0, 0, 9, 10}; }},
  };
  for (const Case& k : cases) {
    CountingSprite back(kBlue);
    back.Setup({0, 0, 10, 10}, {}, 10, false, {}, 0, 0);
    StageSprite front{GetParam()};
    Place(front, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
    k.front(front);
    c.Add(back, true);
    c.Add(front, true);
    c.Update({0, 0, 10, 10});
    EXPECT_EQ(back.draws.load(), k.draws) << k.what;
  }
}

TEST_P(StageCompositor, SelfDrawnSpriteCoversOnlyWhenItsKindFillsItsRectangle) {
  for (bool fills : {false, true}) {
    CountingSprite back(kBlue), front(kRed, fills);
    back.Setup({0, 0, 10, 10}, {}, 10, false, {}, 0, 0);
    front.Setup({0, 0, 10, 10}, {}, 5, false, {}, 0, 0);
    c.Add(back, true);
    c.Add(front, true);
    c.Update({0, 0, 10, 10});
    EXPECT_EQ(back.draws.load(), fills ? 0 : 1) << fills;
    EXPECT_EQ(front.draws.load(), 1);
    EXPECT_EQ(At(5, 5), E(kRed));
  }
}

TEST_P(StageCompositor, HitTestsPassThroughTransparentPixelsAndSkipStates) {
  const ColorRef key = ColorRef::FromRgb(0x80, 0x80, 0x80);
  FakeOwner owner;
  StageSprite back{GetParam()}, front{GetParam()};
  Place(back, Solid24(20, 10, kBlue), {0, 0, 20, 10}, 10);
  // Left half of the front picture is the key colour.
  Place(front, Picture24(20, 10, [&](int x, int) { return x < 10 ? key : kRed; }), {0, 0, 20, 10}, 5, true,
        key, 0);
  back.owner = front.owner = &owner;
  c.Add(back, true);
  c.Add(front, true);
  EXPECT_EQ(c.HitTest(15, 5), &front);
  EXPECT_EQ(c.HitTest(5, 5), &back);
  EXPECT_EQ(c.HitTest(30, 5), &c.Background());
  for (uint8_t state : {kStateHidden, kStateDisabled, kStateDeferred}) {
    front.displayState = state;
    EXPECT_EQ(c.HitTest(15, 5), &back) << int(state);
  }
  front.displayState = kStateShown;
  // While the player runs, sprites without an owner take no clicks.
  env.running = true;
  EXPECT_EQ(c.HitTest(30, 5), nullptr);
  EXPECT_EQ(c.HitTest(15, 5), &front);
  front.owner = nullptr;
  EXPECT_EQ(c.HitTest(15, 5), &back);
  // A sprite without a picture catches clicks only when it draws itself.
  StageSprite empty{GetParam()};
  empty.rect = empty.srcRect = {0, 0, 20, 10};
  empty.layer = 1;
  empty.owner = &owner;
  c.Add(empty, false);
  EXPECT_EQ(c.HitTest(15, 5), &back);
  empty.selfDrawn = 1;
  EXPECT_EQ(c.HitTest(15, 5), &empty);
}

TEST_P(StageCompositor, PixelAtMapsFromTheDisplayedRectangle) {
  const DecodedPicture pic = Picture24(2, 2, [](int x, int y) {
    const ColorRef q[2][2] = {{kRed, kGreen}, {kBlue, kGrey}};
    return q[y][x];
  });
  StageSprite s{GetParam()};
  Place(s, pic, {10, 10, 14, 14}, 5);
  // Layer-based scaling at 200 % both ends: displayed (8, 8, 16, 16).
  s.scaling.enabled = true;
  s.scaling.mode = 1417;
  s.scaling.atFront = s.scaling.atBack = 200;
  c.Add(s, true);
  EXPECT_EQ(s.DisplayedRect(), (Rect{8, 8, 16, 16}));
  EXPECT_EQ(s.PixelAt(8, 8), E(kRed));
  EXPECT_EQ(s.PixelAt(15, 8), E(kGreen));
  EXPECT_EQ(s.PixelAt(8, 15), E(kBlue));
  EXPECT_EQ(s.PixelAt(15, 15), E(kGrey));
  UpdateAll();
  EXPECT_EQ(At(8, 8), E(kRed));
  EXPECT_EQ(At(15, 15), E(kGrey));
  // A modal dialog turns scaling off.
  env.modal = true;
  EXPECT_EQ(s.DisplayedRect(), (Rect{10, 10, 14, 14}));
}

TEST_P(StageCompositor, StampAtLayer255SurvivesRemoval) {
  auto s = std::make_unique<StageSprite>();
  Place(*s, Solid24(10, 10, kGreen), {10, 10, 20, 20}, kStampLayer);
  s->compositor = &c;
  s->Show(ShowParams::kSrcCopy, 0, 0, 0, 0, nullptr, 0, 0, 0, kStateDeferred);
  EXPECT_TRUE(c.Contains(*s));
  EXPECT_EQ(s->arrival, 0);
  c.RevealDeferred();
  EXPECT_FALSE(c.Contains(*s));
  EXPECT_EQ(s->displayState, kStateShown);
  EXPECT_EQ(presenter.Screen().GetPixel(15, 15), E(kGreen));  // shown at once, not only stamped
  s.reset();
  UpdateAll();
  EXPECT_EQ(At(15, 15), E(kGreen));
  EXPECT_EQ(At(25, 15), E(kBack));
}

TEST_P(StageCompositor, DeferredSpritesAreRevealedAndDrawn) {
  StageSprite s{GetParam()};
  Place(s, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  s.compositor = &c;
  s.Show(ShowParams::kSrcCopy, 0, 0, 0, 0, nullptr, 0, 0, 0, kStateDeferred);
  UpdateAll();
  EXPECT_EQ(At(5, 5), E(kBack));  // registered, not drawn yet
  presenter.Reset();
  c.RevealDeferred();
  EXPECT_EQ(At(5, 5), E(kRed));
  EXPECT_EQ(s.arrival, -1);
  EXPECT_FALSE(presenter.Presented().empty());
}

TEST_P(StageCompositor, ShowWithoutPictureGetsTheDefaultKey) {
  StageSprite s{GetParam()};
  s.compositor = &c;
  s.Setup({0, 0, 5, 5}, {}, 5, false, {}, 0, 0);
  s.Show(ShowParams::kSrcCopy, 0, 0, 0, 0, nullptr, 0, 0, 0, kStateShown);
  EXPECT_TRUE(s.keyed);
  EXPECT_EQ(s.keyColor, ColorRef(0x00F0F8F8));
  EXPECT_EQ(s.redMin, 248);
  EXPECT_EQ(s.greenMax, 248);
  EXPECT_EQ(s.blueMin, 240);
  EXPECT_EQ(s.keyIndex, 246);
  EXPECT_EQ(s.key16, 0xFFDE);
  EXPECT_TRUE(c.Contains(s));
}

struct FakeEffects : EffectEngine {
  void RunShow(StageSprite& s, const ShowParams& p) override {
    stateDuring = s.displayState;
    effect = p.effect;
    s.compositor->Add(s, true);
  }
  void RunHide(StageSprite& s, const ShowParams& p) override {
    stateDuring = s.displayState;
    effect = p.effect;
    s.compositor->Remove(s, true);
  }
  uint8_t stateDuring = 0;
  uint32_t effect = 0;
};

TEST_P(StageCompositor, EffectsGoThroughTheTransitionEngine) {
  StageSprite s{GetParam()};
  Place(s, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  s.compositor = &c;
  EXPECT_THROW(s.Show(ShowParams::kSrcCopy, 7, 0, 0, 0, nullptr, 0, 0, 1, kStateShown), std::runtime_error);
  FakeEffects effects;
  c.SetEffectEngine(&effects);
  s.Show(ShowParams::kSrcCopy, 7, 0, 0, 0, nullptr, 0, 0, 1, kStateShown);
  EXPECT_EQ(effects.stateDuring, kStateAppearing);
  EXPECT_EQ(effects.effect, 7u);
  EXPECT_EQ(s.displayState, kStateShown);
  EXPECT_TRUE(c.Contains(s));
  EXPECT_TRUE(s.Hide(true, 9, 0, 0, 0));
  EXPECT_EQ(effects.stateDuring, kStateDisappearing);
  EXPECT_FALSE(c.Contains(s));
  EXPECT_FALSE(s.Hide(true, 0, 0, 0, 0));  // no longer on the stage
  c.SetEffectEngine(nullptr);
}

// Walks three steps to the right, watching the sprite's flags.
struct FakePathPlayer : PathPlayer {
  void Play(StageSprite& s, const MotionPath&) override {
    movingDuring = s.moving;
    for (int i = 1; i <= 3 && !s.motion.stopMotion; ++i)
      s.MoveTo(s.rect.Offset(1, 0), s.layer, false);
  }
  int movingDuring = 0;
};

TEST_P(StageCompositor, PathsArePlayedThroughThePathPlayer) {
  StageSprite s{GetParam()};
  Place(s, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  s.compositor = &c;
  const MotionPath* path = reinterpret_cast<const MotionPath*>(&s);  // opaque to the compositor
  EXPECT_THROW(s.PlayPath(*path), std::runtime_error);
  FakePathPlayer player;
  c.SetPathPlayer(&player);
  s.Show(ShowParams::kSrcCopy, 0, 0, 0, 0, path, 0, 0, 0, kStateShown);
  EXPECT_EQ(player.movingDuring, 1);
  EXPECT_EQ(s.moving, 0);
  EXPECT_EQ(s.rect, (Rect{3, 0, 13, 10}));
  EXPECT_EQ(At(1, 5), E(kBack));
  EXPECT_EQ(At(12, 5), E(kRed));
  // A deferred sprite with a path plays it when revealed, after being drawn.
  StageSprite d{GetParam()};
  Place(d, Solid24(5, 5, kBlue), {0, 20, 5, 25}, 5);
  d.compositor = &c;
  d.Show(ShowParams::kSrcCopy, 0, 0, 0, 0, path, 0, 0, 0, kStateDeferred);
  c.RevealDeferred();
  EXPECT_EQ(d.rect, (Rect{3, 20, 8, 25}));
  EXPECT_EQ(d.pendingPath, nullptr);
  EXPECT_EQ(d.arrival, -1);
  EXPECT_EQ(At(7, 22), E(kBlue));
  c.SetPathPlayer(nullptr);
}

TEST_P(StageCompositor, DeferredSpriteWithAnEffectIsShownThroughIt) {
  FakeEffects effects;
  c.SetEffectEngine(&effects);
  StageSprite s{GetParam()};
  Place(s, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  s.compositor = &c;
  s.Show(ShowParams::kSrcCopy, 12, 0, 0, 0, nullptr, 0, 0, 0, kStateDeferred);
  EXPECT_EQ(s.pending.effect, 12u);
  c.RevealDeferred();
  EXPECT_EQ(effects.effect, 12u);
  EXPECT_EQ(effects.stateDuring, kStateAppearing);
  EXPECT_EQ(s.displayState, kStateShown);
  EXPECT_TRUE(c.Contains(s));
  c.SetEffectEngine(nullptr);
}

TEST_P(StageCompositor, WindowSpriteStatesShowAndHideTheChildWindow) {
  FakeWindow child;
  StageSprite win{GetParam()};
  win.BecomeWindowSprite(child);
  win.Setup({5, 5, 15, 15}, {}, 5, false, {}, 0, 0);
  c.Add(win, true);
  EXPECT_EQ(child.geometry, (Rect{5, 5, 15, 15}));  // restacked: moved to its rectangle
  const int repaints = child.repaints;
  win.SetDisplayState(kStateHidden);
  EXPECT_FALSE(child.visible);
  EXPECT_GT(child.repaints, repaints);
  EXPECT_EQ(c.HitTest(8, 8), &c.Background());
  win.SetDisplayState(kStateShown);
  EXPECT_TRUE(child.visible);
  EXPECT_EQ(c.HitTest(8, 8), &win);
  win.Clear();
  EXPECT_FALSE(child.forwarding);
}

// A loader double: one red 24-bit pixel for "red", its error code otherwise.
class OnePixelLoader : public PictureLoader {
 public:
  int error = 11;
  std::string asked;
  int Load(const std::string& path, DecodedPicture& out) override {
    asked = path;
    if (path != "red") return error;
    out.width = out.height = 1;
    out.bitsPerPixel = 24;
    out.stride = 4;
    out.bits = {0x00, 0x00, 0xF8, 0x00};
    return 0;
  }
};

TEST_P(StageCompositor, LoadPictureTakesPixelsAndErrorsFromItsLoader) {
  OnePixelLoader loader;
  StageSprite s{GetParam()};
  EXPECT_EQ(s.LoadPicture(loader, "red", {0, 0, 4, 4}, 5, false, {}, 0), 0);
  EXPECT_EQ(s.srcRect, (Rect{0, 0, 1, 1}));
  c.Add(s, true);
  UpdateAll();
  EXPECT_EQ(At(3, 3), E(kRed));
  StageSprite t{GetParam()};
  EXPECT_EQ(t.LoadPicture(loader, "missing.pcx", {0, 0, 4, 4}, 5, false, {}, 0), 11);
  EXPECT_EQ(loader.asked, "missing.pcx");
  EXPECT_FALSE(t.HasPicture());
}

// What may change a loaded picture's pixels; afterwards its file no
// longer shows what the sprite draws.
struct PixelChange {
  const char* label;
  void (*change)(StageSprite&);
  friend void PrintTo(const PixelChange& c, std::ostream* os) { *os << c.label; }
};

class LoadedFromTest : public ::testing::TestWithParam<PixelChange> {};

TEST_P(LoadedFromTest, NamesTheFileUntilThePixelsChange) {
  OnePixelLoader loader;
  StageSprite s;
  ASSERT_EQ(s.LoadPicture(loader, "red", {0, 0, 4, 4}, 5, false, {}, 0), 0);
  EXPECT_EQ(s.loadedFrom, "red");
  GetParam().change(s);
  EXPECT_EQ(s.loadedFrom, "");
}

INSTANTIATE_TEST_SUITE_P(
    Changes, LoadedFromTest,
    ::testing::Values(PixelChange{"fill", [](StageSprite& s) { s.Fill(ColorRef(0x00FF00)); }},
                      PixelChange{"pixels written", [](StageSprite& s) { s.MutablePicture().SetPixel(0, 0, {}); }},
                      PixelChange{"changed", [](StageSprite& s) { s.PictureChanged(); }},
                      PixelChange{"new surface", [](StageSprite& s) { s.CreateSurface({0, 0, 2, 2}, 5); }},
                      PixelChange{"picture set", [](StageSprite& s) {
                                    const uint8_t blue[4] = {0xFF, 0, 0, 0};
                                    s.SetPicture(PictureView{1, 1, 24, Layout16::k555, blue, 4, {}});
                                  }}),
    [](const ::testing::TestParamInfo<PixelChange>& info) { return "Case" + std::to_string(info.index); });

TEST_P(StageCompositor, HideWithoutEffectRemovesAndRedraws) {
  StageSprite s{GetParam()};
  Place(s, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  c.Add(s, true);
  UpdateAll();
  EXPECT_TRUE(s.Hide(false, 0, 0, 0, 0));
  EXPECT_EQ(c.DirtyRects(), std::vector<Rect>{(Rect{0, 0, 10, 10})});
  EXPECT_EQ(At(5, 5), E(kRed));  // only marked
  c.Flush(false);
  EXPECT_EQ(At(5, 5), E(kBack));
}

TEST_P(StageCompositor, MoveToRedrawsOldAndNewPlaces) {
  StageSprite s{GetParam()};
  Place(s, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  c.Add(s, true);
  UpdateAll();
  presenter.Reset();
  s.MoveTo({20, 0, 30, 10}, 5, false);
  EXPECT_EQ(At(5, 5), E(kBack));
  EXPECT_EQ(At(25, 5), E(kRed));
  EXPECT_EQ(presenter.Presented().size(), 2u);
  EXPECT_TRUE(c.DirtyRects().empty());
  // The union form and a batch: one entry, nothing drawn yet.
  s.MoveToUnion({22, 0, 32, 10}, 5, true);
  EXPECT_EQ(c.DirtyRects(), std::vector<Rect>{(Rect{20, 0, 32, 10})});
  c.Flush(false);
  EXPECT_EQ(At(21, 5), E(kBack));
  EXPECT_EQ(At(31, 5), E(kRed));
  EXPECT_EQ(presenter.Screen().GetPixel(31, 5), E(kRed));
}

TEST_P(StageCompositor, ChangedSpritesAreCollectedByFlush) {
  StageSprite s{GetParam()};
  Place(s, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  c.Add(s, true);
  presenter.Reset();
  s.changed = 1;
  c.Flush(false);
  EXPECT_TRUE(presenter.Presented().empty());
  s.changed = 1;
  c.Flush(true);
  EXPECT_EQ(presenter.Presented(), std::vector<Rect>{(Rect{0, 0, 10, 10})});
  EXPECT_EQ(s.changed, 0);
}

TEST_P(StageCompositor, ReplaceAndClear) {
  StageSprite a{GetParam()}, b{GetParam()};
  Place(a, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  Place(b, Solid24(10, 10, kBlue), {0, 0, 10, 10}, 5);
  c.Add(a, true);
  c.Replace(a, b);
  EXPECT_FALSE(a.onStage);
  EXPECT_TRUE(b.onStage);
  EXPECT_EQ(c.Sprites().back(), &b);
  UpdateAll();
  EXPECT_EQ(At(5, 5), E(kBlue));
  c.Clear();
  // The objects go; the background stays listed, so an update paints it.
  ASSERT_EQ(c.Sprites().size(), 1u);
  EXPECT_EQ(c.Sprites().front(), &c.Background());
  EXPECT_FALSE(b.onStage);
  UpdateAll();
  EXPECT_EQ(At(5, 5), E(kBack));
}

TEST_P(StageCompositor, SetLayerWithResortRestacks) {
  StageSprite a{GetParam()}, b{GetParam()};
  Place(a, Solid24(10, 10, kRed), {0, 0, 10, 10}, 5);
  Place(b, Solid24(10, 10, kBlue), {0, 0, 10, 10}, 6);
  c.Add(a, true);
  c.Add(b, true);
  UpdateAll();
  EXPECT_EQ(At(5, 5), E(kRed));
  b.SetLayer(4, true);
  EXPECT_EQ(At(5, 5), E(kBlue));
  a.SetLayer(1, false);  // value only
  EXPECT_EQ(c.Sprites().back(), &b);
}

TEST_P(StageCompositor, ViewportCompositorTouchesOnlyItsViewport) {
  PixelBuffer target(40, 30, GetParam());
  target.Fill(kBlack);
  Compositor print;
  ASSERT_EQ(print.InitialiseOver(target, {10, 10, 20, 20}), 0);
  StageSprite s{GetParam()};
  Place(s, Solid24(40, 30, kRed), {0, 0, 40, 30}, 5);
  print.Add(s, true);
  print.Update({0, 0, 40, 30});
  EXPECT_EQ(target.GetPixel(15, 15), E(kRed));
  EXPECT_EQ(target.GetPixel(10, 10), E(kRed));
  EXPECT_EQ(target.GetPixel(9, 15), kBlack);
  EXPECT_EQ(target.GetPixel(20, 15), kBlack);
  EXPECT_EQ(target.GetPixel(5, 5), kBlack);
  print.Remove(s, false);
}

}  // namespace
}  // namespace kv
