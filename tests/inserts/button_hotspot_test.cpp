// The button painter against pixels worked out from its frame and bevel
// rules in both states, its pressed state under events and hotkeys, and the
// hot spot's outline mask under both fill modes and where it is hit when
// shown stretched, squeezed or at its own size.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/events.h"
#include "inserts/button.h"
#include "inserts/hotspot.h"
#include "stage/qt_painter.h"
#include "tests/engine/bare_run.h"

namespace kv {
namespace {

constexpr uint32_t kFace = 0x00C0C0C0, kBorder = 0x00000001, kHigh = 0x00FFFFFF, kShade = 0x00808080;
constexpr ColorRef kUnder{0x00302010};

std::unique_ptr<CSDButton> MakeButton(uint16_t frame, uint16_t bevel) {
  auto b = std::make_unique<CSDButton>();
  b->Reset();
  b->faceColor = kFace;
  b->borderColor = kBorder;
  b->highlightColor = kHigh;
  b->bevelShadowColor = kShade;
  b->frameWidth = frame;
  b->bevelWidth = bevel;
  b->rect = {2, 2, 30, 20};
  return b;
}

PixelBuffer PaintButton(CSDButton& b) {
  EnsureGuiApplication();
  PixelBuffer buffer(40, 30, PixelFormat::kXrgb32);
  buffer.Fill(kUnder);
  DrawTarget target{buffer, {0, 0}};
  StageSprite sprite;
  b.PaintButton(sprite, target, {0, 0, 40, 30}, b.rect);
  return buffer;
}

struct BevelCase {
  const char* name;
  uint16_t frame, bevel;
  bool pressed;
  std::vector<std::tuple<int, int, uint32_t>> pixels;
};
void PrintTo(const BevelCase& c, std::ostream* os) { *os << c.name; }

class ButtonPixels : public ::testing::TestWithParam<BevelCase> {};

TEST_P(ButtonPixels, Match) {
  const BevelCase& c = GetParam();
  auto b = MakeButton(c.frame, c.bevel);
  b->pressed = c.pressed;
  const PixelBuffer out = PaintButton(*b);
  for (const auto& [x, y, colour] : c.pixels) EXPECT_EQ(out.GetPixel(x, y), ColorRef(colour)) << x << "," << y;
}

// Rectangle [2, 30) x [2, 20). Frame lines at insets 0..f-1; bevel line j at
// inset f + j: upper row and left column [inset, far - 1), lower row and right
// column to the far edge, so the top right and bottom left corners are the
// lower colour's.
const BevelCase kBevelCases[] = {
    {"NormalTwoAndTwo", 2, 2, false,
     {{2, 2, kBorder}, {29, 19, kBorder}, {3, 3, kBorder}, {4, 4, kHigh}, {27, 4, kShade}, {4, 17, kShade},
      {5, 5, kHigh}, {26, 5, kShade}, {10, 16, kShade}, {6, 6, kFace}, {25, 15, kFace}, {30, 19, kUnder.value}}},
    {"PressedSwapsTheBevelColours", 2, 2, true,
     {{2, 2, kBorder}, {4, 4, kShade}, {27, 4, kHigh}, {4, 17, kHigh}, {5, 5, kShade}, {26, 5, kHigh},
      {6, 6, kFace}, {25, 15, kFace}}},
    {"NoFrame", 0, 1, false, {{2, 2, kHigh}, {29, 2, kShade}, {29, 19, kShade}, {3, 3, kFace}}},
    {"NoBevel", 1, 0, false, {{2, 2, kBorder}, {3, 3, kFace}, {28, 18, kFace}}},
    // Widths far beyond the rectangle are cut to it: all border.
    {"HugeWidthsAreBounded", 65535, 65535, false, {{2, 2, kBorder}, {15, 10, kBorder}, {31, 10, kUnder.value}}},
};

INSTANTIATE_TEST_SUITE_P(Painter, ButtonPixels, ::testing::ValuesIn(kBevelCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ButtonPainter, SystemColoursReplaceTheStoredOnes) {
  auto b = MakeButton(1, 1);
  b->useSystemColors = 1;
  const PixelBuffer out = PaintButton(*b);
  EXPECT_EQ(out.GetPixel(10, 10), ColorRef(syscolor::kBtnFace));
  EXPECT_EQ(out.GetPixel(28, 10), ColorRef(syscolor::kBtnShadow));
}

TEST(ButtonPainter, PressedCaptionMovesOnePixelRightAndDown) {
  auto b = MakeButton(2, 2);
  b->rect = {2, 0, 38, 30};  // room for the whole caption inside the bevel
  b->caption = "I";
  b->textColor = 0x000000FF;
  b->textShadowColor = 0x0000FF00;
  auto inkBox = [](const PixelBuffer& out, ColorRef c) {
    Rect r{1000, 1000, -1, -1};
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 40; ++x)
        if (out.GetPixel(x, y) == c) r = {std::min(r.left, x), std::min(r.top, y), std::max(r.right, x), std::max(r.bottom, y)};
    return r;
  };
  const Rect up = inkBox(PaintButton(*b), ColorRef(0x000000FF));
  const Rect upShadow = inkBox(PaintButton(*b), ColorRef(0x0000FF00));
  b->pressed = 1;
  const Rect down = inkBox(PaintButton(*b), ColorRef(0x000000FF));
  ASSERT_LE(up.left, up.right);
  EXPECT_EQ(down.left, up.left + 1);
  EXPECT_EQ(down.top, up.top + 1);
  // The relief copy lies one pixel right of and below the caption.
  EXPECT_EQ(upShadow.right, up.right + 1);
  EXPECT_EQ(upShadow.bottom, up.bottom + 1);
}

TEST(ButtonState, PressReleaseAndLeaveSetThePressedState) {
  auto b = MakeButton(2, 2);
  struct Step {
    uint32_t event;
    int pressed;
  } steps[] = {{event::kLeftButtonPressed, 1}, {event::kCursorMoving, 1}, {event::kLeftNoAction, 0},
               {event::kLeftButtonPressed, 1}, {event::kLeftButtonReleased, 0}};
  test::BareRun run;
  for (const Step& s : steps) {
    b->HandleStageEventAt(run.ctx(), s.event, {5, 5});
    EXPECT_EQ(b->pressed, s.pressed) << s.event;
  }
}

TEST(ButtonState, HotkeyActsAsAClickAndARepeatedKeyDownDoesNothing) {
  auto b = MakeButton(2, 2);
  const struct {
    int phase;
    int pressed;
  } steps[] = {{1, 1}, {1, 1}, {2, 1}, {3, 0}, {3, 0}};
  test::BareRun run;
  for (const auto& s : steps) {
    b->OnHotkey(run.ctx(), 'A', 1, s.phase);
    EXPECT_EQ(b->pressed, s.pressed) << s.phase;
  }
  b->armed = 0;
  EXPECT_TRUE(b->ClearArmed());
  EXPECT_EQ(b->armed, 1);
}

// ---------------------------------------------------------------- hot spot

std::vector<OutlinePoint> Pentagram(int cx, int cy, int r) {
  std::vector<OutlinePoint> tips;
  for (int k = 0; k < 5; ++k) {
    const double a = (-90 + 72 * k) * M_PI / 180;
    tips.push_back({static_cast<int>(std::lround(cx + r * std::cos(a))), static_cast<int>(std::lround(cy + r * std::sin(a)))});
  }
  return {tips[0], tips[2], tips[4], tips[1], tips[3]};  // each tip joined to the next but one
}

TEST(HotSpotMask, PentagramCentreFollowsTheFillMode) {
  struct Case {
    uint32_t fillMode;
    bool centre;
  } cases[] = {{1, false}, {2, true}};
  for (const Case& c : cases) {
    CHotSpot h;
    h.Reset();
    h.fillMode = c.fillMode;
    h.outline = Pentagram(50, 50, 20);
    const CHotSpot::Mask mask = h.RenderMask();
    ASSERT_FALSE(mask.bits.isNull());
    // Tips at x 31 (50 - 20 cos 18 degrees, rounded) to 69 and y 30 to 66
    // (50 + 20 sin 54 degrees, rounded); the box reaches one past them.
    EXPECT_EQ(mask.boxWidth, 39);
    EXPECT_EQ(mask.boxHeight, 37);
    EXPECT_EQ(mask.bits.size(), QSize(39, 37));
    auto at = [&](int x, int y) { return mask.bits.pixelColor(x - 31, y - 30).value() != 0; };
    EXPECT_EQ(at(50, 50), c.centre) << c.fillMode;
    EXPECT_TRUE(at(50, 33));   // inside the top point
    EXPECT_TRUE(at(50, 30));   // the outline's own pixel
    EXPECT_FALSE(at(35, 65));  // between two points
  }
}

TEST(HotSpotMask, BoundedForAnyOutlineAndNoneWithoutOne) {
  CHotSpot h;
  h.Reset();
  h.outline = {{-1000000000, -1000000000}, {1000000000, -1000000000}, {1000000000, 1000000000}, {-1000000000, 1000000000}};
  const CHotSpot::Mask mask = h.RenderMask();
  EXPECT_EQ(mask.boxWidth, 2000000001);
  EXPECT_EQ(mask.bits.size(), QSize(CHotSpot::kMaxMaskSide, CHotSpot::kMaxMaskSide));
  EXPECT_NE(mask.bits.pixelColor(10, 10).value(), 0);
  h.outline = {{5, 5}};
  EXPECT_TRUE(h.RenderMask().bits.isNull());
}

// A hot spot is hit through its outline's mask as its sprite shows it: the
// whole bounding box stretched onto the displayed rectangle, nearest
// neighbour, source column ((d + 1) * source width - 1) / displayed width;
// unstretched, at its own size from the rectangle's corner.
struct MaskHitCase {
  const char* name;
  std::vector<OutlinePoint> outline;
  Rect rect;
  bool stretch;
  std::vector<std::tuple<int, int, bool>> points;
};
void PrintTo(const MaskHitCase& c, std::ostream* os) { *os << c.name; }

class HotSpotHits : public ::testing::TestWithParam<MaskHitCase> {};

TEST_P(HotSpotHits, FollowTheShownOutline) {
  const MaskHitCase& c = GetParam();
  CHotSpot h;
  h.Reset();
  h.outline = c.outline;
  const CHotSpot::Mask mask = h.RenderMask();
  StageSprite sprite;
  sprite.Setup(c.rect, {0, 0, c.rect.Width(), c.rect.Height()}, 0, false, ColorRef(), 0, 0);
  sprite.stretch = c.stretch;
  for (const auto& [x, y, in] : c.points) EXPECT_EQ(mask.Hits(sprite, x, y), in) << x << "," << y;
}

// The triangles have their right angle at the top left: the mask is white
// where column + row <= the short side's last index (the outline included).
const std::vector<OutlinePoint> kTriangle10{{0, 0}, {9, 0}, {0, 9}};   // box 10 x 10
const std::vector<OutlinePoint> kTriangle20{{0, 0}, {19, 0}, {0, 9}};  // box 20 x 10

INSTANTIATE_TEST_SUITE_P(
    Edges, HotSpotHits,
    ::testing::Values(
        // Box 10 x 10 shown in (100, 50, 120, 70): displayed column d reads
        // source column (2d + 1) / 2 = d / 2.
        MaskHitCase{"Doubled",
                    kTriangle10,
                    {100, 50, 120, 70},
                    true,
                    {{100, 60, true},     // left edge (source 0, 5)
                     {99, 60, false},     // left of it
                     {110, 50, true},     // top edge (source 5, 0)
                     {110, 49, false},    // above it
                     {119, 50, true},     // right tip: source 9, 0
                     {120, 50, false},    // right of the rectangle
                     {100, 69, true},     // bottom tip: source 0, 9
                     {100, 70, false},    // below the rectangle
                     {109, 59, true},     // source 4, 4: inside the slope
                     {111, 61, false}}},  // source 5, 5: outside it
        // Box 20 x 10 in (0, 0, 10, 10): column d reads source 2d + 1, rows 1:1.
        MaskHitCase{"Squeezed",
                    kTriangle20,
                    {0, 0, 10, 10},
                    true,
                    {{0, 5, true},     // source 1, 5
                     {9, 0, true},     // source 19, 0: the right tip
                     {10, 0, false},   // right of the rectangle
                     {0, 8, true},     // source 1, 8
                     {0, 9, false},    // source 1, 9: only column 0 reaches row 9
                     {4, 3, true},     // source 9, 3
                     {7, 5, false}}},  // source 15, 5: outside the slope
        // Unstretched: the 10 x 10 box at (100, 50), the rest of the rectangle empty.
        MaskHitCase{"AtOwnSize",
                    kTriangle10,
                    {100, 50, 120, 70},
                    false,
                    {{109, 50, true},     // the right tip
                     {110, 50, false},    // beyond the box, inside the rectangle
                     {100, 59, true},     // the bottom tip
                     {100, 60, false},    // below the box
                     {119, 69, false}}},  // the rectangle's far corner
        // An outline beyond the mask's resolution keeps its shape: box
        // 100000 x 100000 drawn 2048 a side; column d reads mask column
        // ((d + 1) * 2048 - 1) / 100.
        MaskHitCase{"Reduced",
                    {{0, 0}, {99999, 0}, {0, 99999}},
                    {0, 0, 100, 100},
                    true,
                    {{98, 0, true},       // mask 2027, 0: the top edge
                     {30, 30, true},      // mask 634, 634
                     {60, 60, false}}}),  // mask 1249, 1249: past the slope
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv
