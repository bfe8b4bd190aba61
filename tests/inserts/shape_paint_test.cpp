// The shape painters against pixels worked out from the platform's drawing
// rules: outlines over [left, right) x [top, bottom), a fill one pixel short
// without a pen, the shadow swept along its line, patterns fixed to the
// object's corner, keyed colours dropped only on keyed sprites.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <functional>
#include <memory>

#include "inserts/ellipse.h"
#include "inserts/poly.h"
#include "inserts/rectangle.h"
#include "inserts/triangle.h"
#include "stage/compositor.h"
#include "stage/qt_painter.h"

namespace kv {
namespace {

constexpr uint32_t kRed = 0x0000FF, kBlue = 0xFF0000, kGreen = 0x00FF00, kGrey = 0x808080, kBlack = 0,
                   kWhite = 0xFFFFFF;
constexpr QRgb kBack = 0xFF102030;

QRgb Rgb(uint32_t colorRef) { return ToQColor(colorRef).rgb() | 0xFF000000; }

struct Painted {
  QImage image;
  std::unique_ptr<StageSprite> sprite;
  QRgb At(int x, int y) const { return image.pixel(x, y) | 0xFF000000; }
};

// Paints `shape` at `area` on a 64 x 48 picture over kBack, as its sprite would.
Painted Paint(CObjectFill& shape, const Rect& area, bool keyed = false, uint32_t key = 0) {
  EnsureGuiApplication();
  Painted out{QImage(64, 48, QImage::Format_RGB32), std::make_unique<StageSprite>()};
  out.image.fill(kBack);
  out.sprite->Setup(area, {}, 0, keyed, ColorRef(key), 0, 0);
  QPainter p(&out.image);
  p.setRenderHint(QPainter::Antialiasing, false);
  shape.PaintShape(p, *out.sprite, area);
  return out;
}

template <class Kind>
std::unique_ptr<Kind> Shape(std::function<void(Kind&)> set = {}) {
  auto s = std::make_unique<Kind>();
  s->Reset();
  s->penColor = kRed;
  s->fillColor = kBlue;
  s->shadowX = s->shadowY = 0;
  if (set) set(*s);
  return s;
}

struct PixelCase {
  const char* name;
  std::function<std::unique_ptr<CObjectFill>()> make;
  Rect area;
  std::vector<std::tuple<int, int, uint32_t>> pixels;  // colour as 0x00BBGGRR, or kOutside
  bool keyed = false;
  uint32_t key = 0;
};
constexpr uint32_t kOutside = 0xFFFFFFFF;
void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.name; }

class ShapePixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(ShapePixels, Match) {
  const PixelCase& c = GetParam();
  auto shape = c.make();
  const Painted out = Paint(*shape, c.area, c.keyed, c.key);
  for (const auto& [x, y, colour] : c.pixels)
    EXPECT_EQ(out.At(x, y), colour == kOutside ? kBack : Rgb(colour)) << "at " << x << "," << y;
}

// A rectangle with no pen filled with built-in pattern `index`, set bits black.
std::function<std::unique_ptr<CObjectFill>()> BlackOnWhitePattern(uint8_t index) {
  return [index] {
    return Shape<CRectangle>([index](CRectangle& r) {
      r.penStyle = 5;
      r.fillStyle = 1;
      r.patternIndex = index;
      r.fillColor = kBlack;
      r.fillBackColor = kWhite;
    });
  };
}

const PixelCase kPixelCases[] = {
    // [4, 20) x [4, 14): the outline on the first and last column and row, nothing beyond.
    {"RectangleOutlineExcludesRightAndBottom", [] { return Shape<CRectangle>(); }, {4, 4, 20, 14},
     {{4, 4, kRed}, {19, 4, kRed}, {4, 13, kRed}, {19, 13, kRed}, {20, 13, kOutside}, {19, 14, kOutside},
      {3, 4, kOutside}, {10, 8, kBlue}}},
    // Pen style 5: the fill alone, [4, 19) x [4, 13).
    {"NullPenFillsOnePixelLess", [] { return Shape<CRectangle>([](CRectangle& r) { r.penStyle = 5; }); },
     {4, 4, 20, 14}, {{4, 4, kBlue}, {18, 12, kBlue}, {19, 12, kOutside}, {18, 13, kOutside}}},
    // Shadow (3, 3) in [4, 24) x [4, 18): figure [4, 21) x [4, 15); copies at
    // (1, 1), (2, 2), (3, 3) make a staircase: (21, 5) needs step 1, (23, 7) step 3.
    {"ShadowIsSweptWithoutGaps",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.shadowX = r.shadowY = 3;
         r.shadowColor = kGrey;
       });
     },
     {4, 4, 24, 18},
     {{20, 14, kRed}, {21, 4, kOutside}, {21, 5, kGrey}, {22, 6, kGrey}, {23, 6, kOutside}, {23, 7, kGrey},
      {23, 17, kGrey}, {6, 17, kOutside}, {7, 17, kGrey}, {10, 10, kBlue}}},
    // A negative offset puts the figure at the bottom right and the shadow above left.
    {"NegativeShadowFallsUpAndLeft",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.shadowX = r.shadowY = -2;
         r.shadowColor = kGrey;
       });
     },
     {4, 4, 24, 18}, {{4, 4, kGrey}, {6, 6, kRed}, {23, 17, kRed}, {23, 4, kOutside}}},
    // Keyed on the pattern's background colour: no brush at all.
    {"KeyedFillBackColourIsHollow",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.fillStyle = 1;
         r.fillBackColor = kWhite;
       });
     },
     {4, 4, 20, 14}, {{4, 4, kRed}, {10, 8, kOutside}, {11, 8, kOutside}}, true, kWhite},
    // Keyed on the shadow colour: no shadow, the figure keeps its place.
    {"KeyedShadowIsLeftOut",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.shadowX = r.shadowY = 3;
         r.shadowColor = kGrey;
       });
     },
     {4, 4, 24, 18}, {{20, 14, kRed}, {23, 17, kOutside}, {21, 10, kOutside}, {10, 10, kBlue}}, true, kGrey},
    // The ellipse's shadow is the ellipse swept to (3, 3): figure in [4, 33) x [4, 21).
    {"EllipseShadow",
     [] {
       return Shape<CEllipse>([](CEllipse& e) {
         e.shadowX = e.shadowY = 3;
         e.shadowColor = kGrey;
       });
     },
     {4, 4, 36, 24},
     {{18, 4, kRed}, {18, 12, kBlue}, {21, 22, kGrey}, {34, 15, kGrey}, {35, 23, kOutside}, {4, 23, kOutside},
      {33, 5, kOutside}}},
    // The triangle's: vertices (4, 20), (18, 4), (32, 20), swept to (3, 3).
    {"TriangleShadow",
     [] {
       return Shape<CTriangle>([](CTriangle& t) {
         t.shadowX = t.shadowY = 3;
         t.shadowColor = kGrey;
       });
     },
     {4, 4, 36, 24},
     {{18, 4, kRed}, {4, 20, kRed}, {32, 20, kRed}, {18, 15, kBlue}, {20, 23, kGrey}, {33, 22, kGrey},
      {5, 23, kOutside}, {30, 6, kOutside}}},
    // The polygon's: a square of the full rectangle, figure in [0, 38) x [0, 38).
    {"PolygonShadow",
     [] {
       return Shape<CPoly>([](CPoly& p) {
         p.shadowX = p.shadowY = 2;
         p.shadowColor = kGrey;
         p.points = {{0, 0, 6}, {1024, 0, 2}, {1024, 1024, 2}, {0, 1024, 3}};
       });
     },
     {0, 0, 40, 40}, {{0, 0, kRed}, {10, 10, kBlue}, {39, 39, kGrey}, {39, 1, kOutside}, {1, 39, kOutside}, {20, 39, kGrey}}},
    // Black is not transparent on an unkeyed shape: the pen is drawn.
    {"BlackPenOnUnkeyedShape", [] { return Shape<CRectangle>([](CRectangle& r) { r.penColor = kBlack; }); },
     {4, 4, 20, 14}, {{4, 4, kBlack}, {19, 13, kBlack}}},
    // Keyed on the fill colour: hollow, only the outline.
    {"KeyedFillIsHollow", [] { return Shape<CRectangle>(); }, {4, 4, 20, 14},
     {{4, 4, kRed}, {10, 8, kOutside}}, true, kBlue},
    // Keyed on the pen colour: no outline, the fill one pixel short.
    {"KeyedPenIsLeftOut", [] { return Shape<CRectangle>(); }, {4, 4, 20, 14},
     {{4, 4, kBlue}, {19, 13, kOutside}}, true, kRed},
    // Pattern 0 (rows 0xAA, 0x55): a set bit takes fillColor, from the object's corner.
    {"PatternStartsAtTheObjectsCorner",
     BlackOnWhitePattern(0),
     {5, 3, 21, 19}, {{5, 3, kBlack}, {6, 3, kWhite}, {5, 4, kWhite}, {6, 4, kBlack}, {13, 11, kBlack}}},
    // Pattern 1 (horizontal lines every fourth row).
    {"HorizontalLinePattern",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.penStyle = 5;
         r.fillStyle = 1;
         r.patternIndex = 1;
         r.fillBackColor = kWhite;
       });
     },
     {0, 0, 16, 16}, {{3, 0, kBlue}, {3, 1, kWhite}, {3, 4, kBlue}, {3, 5, kWhite}}},
    // Pattern 2 (rows 0x88): columns 0 and 4 of every eight.
    {"VerticalLinePattern",
     BlackOnWhitePattern(2),
     {0, 0, 16, 16}, {{0, 0, kBlack}, {1, 0, kWhite}, {4, 3, kBlack}, {3, 3, kWhite}, {8, 5, kBlack}}},
    // Pattern 3 (0x80 >> row): column = row.
    {"DiagonalDownPattern",
     BlackOnWhitePattern(3),
     {0, 0, 16, 16}, {{0, 0, kBlack}, {1, 1, kBlack}, {1, 0, kWhite}, {9, 1, kBlack}, {7, 7, kBlack}, {6, 7, kWhite}}},
    // Pattern 4 (0x01 << row): column = 7 - row.
    {"DiagonalUpPattern",
     BlackOnWhitePattern(4),
     {0, 0, 16, 16}, {{7, 0, kBlack}, {0, 7, kBlack}, {0, 0, kWhite}, {6, 1, kBlack}, {14, 1, kBlack}}},
    // Pattern 5 (FF 88 88 88): a full row every fourth, columns 0 and 4.
    {"GridPattern",
     BlackOnWhitePattern(5),
     {0, 0, 16, 16}, {{3, 0, kBlack}, {0, 1, kBlack}, {4, 1, kBlack}, {1, 1, kWhite}, {5, 4, kBlack}, {5, 5, kWhite}}},
    // Pattern 6 (81 42 24 18 18 24 42 81): both diagonals.
    {"DiagonalCrossPattern",
     BlackOnWhitePattern(6),
     {0, 0, 16, 16}, {{0, 0, kBlack}, {7, 0, kBlack}, {1, 1, kBlack}, {3, 3, kBlack}, {4, 3, kBlack}, {2, 3, kWhite}, {1, 0, kWhite}}},
    // Pattern 7 (88 00 22 00): sparse dots.
    {"DotPattern",
     BlackOnWhitePattern(7),
     {0, 0, 16, 16}, {{0, 0, kBlack}, {4, 0, kBlack}, {1, 0, kWhite}, {0, 1, kWhite}, {2, 2, kBlack}, {6, 2, kBlack}, {2, 3, kWhite}}},
    // Pattern 3 on an object at (3, 5): the diagonal starts at its corner, not the stage's.
    {"PatternFollowsTheObject",
     BlackOnWhitePattern(3),
     {3, 5, 19, 21}, {{3, 5, kBlack}, {4, 6, kBlack}, {4, 5, kWhite}, {11, 13, kBlack}, {10, 13, kWhite}}},
    // Texture (fillStyle 2), three by two: red green white over green green
    // green, tiled from the object's corner.
    {"TextureTilesFromTheObjectsCorner",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.penStyle = 5;
         r.fillStyle = 2;
         QImage texture(3, 2, QImage::Format_RGB32);
         texture.fill(Rgb(kGreen));
         texture.setPixel(0, 0, Rgb(kRed));
         texture.setPixel(2, 0, Rgb(kWhite));
         r.SetTexture(texture);
       });
     },
     {5, 3, 21, 19},
     {{5, 3, kRed}, {6, 3, kGreen}, {7, 3, kWhite}, {8, 3, kRed}, {5, 4, kGreen}, {7, 4, kGreen}, {5, 5, kRed},
      {11, 7, kRed}}},
    // A texture that could not be read leaves the solid fill.
    {"MissingTextureIsSolid",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.fillStyle = 2;
         r.textureFile = "missing.bmp";
       });
     },
     {4, 4, 20, 14}, {{10, 8, kBlue}, {11, 9, kBlue}}},
    // An unknown pattern number falls back to the solid fill.
    {"UnknownPatternIsSolid",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.fillStyle = 1;
         r.patternIndex = 200;
       });
     },
     {4, 4, 20, 14}, {{10, 8, kBlue}, {11, 8, kBlue}}},
    // Dash (18 on, 6 off) along the top edge; the fill shows in the gap.
    {"DashedPen", [] { return Shape<CRectangle>([](CRectangle& r) { r.penStyle = 1; }); }, {0, 0, 60, 20},
     {{8, 0, kRed}, {21, 0, kBlue}, {30, 0, kRed}}},
    // Dot (3 on, 3 off).
    {"DottedPen", [] { return Shape<CRectangle>([](CRectangle& r) { r.penStyle = 2; }); }, {0, 0, 60, 20},
     {{1, 0, kRed}, {4, 0, kBlue}, {7, 0, kRed}}},
    // Dash-dot (9 on, 6 off, 3 on, 6 off). Where the pattern starts is not
    // fixed by the rules; it runs clockwise from the pixel right of the top left
    // corner, so the top row repeats every 24 pixels from x = 1.
    {"DashDotPen", [] { return Shape<CRectangle>([](CRectangle& r) { r.penStyle = 3; }); }, {0, 0, 60, 20},
     {{1, 0, kRed}, {9, 0, kRed}, {10, 0, kBlue}, {15, 0, kBlue}, {16, 0, kRed}, {18, 0, kRed}, {19, 0, kBlue},
      {24, 0, kBlue}, {25, 0, kRed}, {33, 0, kRed}, {34, 0, kBlue}}},
    // Dash-dot-dot (9, 3, 3, 3, 3, 3).
    {"DashDotDotPen", [] { return Shape<CRectangle>([](CRectangle& r) { r.penStyle = 4; }); }, {0, 0, 60, 20},
     {{1, 0, kRed}, {9, 0, kRed}, {10, 0, kBlue}, {12, 0, kBlue}, {13, 0, kRed}, {15, 0, kRed}, {16, 0, kBlue},
      {19, 0, kRed}, {22, 0, kBlue}, {24, 0, kBlue}, {25, 0, kRed}}},
    // Width 0 is one pixel, as width 1.
    {"ZeroWidthPenIsOnePixel", [] { return Shape<CRectangle>([](CRectangle& r) { r.penWidth = 0; }); },
     {4, 4, 20, 14}, {{4, 4, kRed}, {19, 13, kRed}, {5, 5, kBlue}, {18, 12, kBlue}, {20, 14, kOutside}}},
    // A styled pen wider than one pixel draws solid.
    {"WideStyledPenIsSolid",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.penStyle = 1;
         r.penWidth = 3;
       });
     },
     {4, 4, 60, 20}, {{25, 4, kRed}, {25, 5, kRed}, {25, 7, kBlue}}},
    // Rounded corners leave the corner pixel out.
    {"RoundedCorners",
     [] {
       return Shape<CRectangle>([](CRectangle& r) {
         r.cornerWidth = 8;
         r.cornerHeight = 8;
       });
     },
     {4, 4, 30, 20}, {{4, 4, kOutside}, {16, 4, kRed}, {4, 12, kRed}, {16, 12, kBlue}}},
    // The inscribed ellipse: edges at the middle of each side, corners out.
    {"Ellipse", [] { return Shape<CEllipse>(); }, {4, 4, 36, 24},
     {{4, 4, kOutside}, {35, 23, kOutside}, {20, 4, kRed}, {4, 14, kRed}, {20, 14, kBlue}, {20, 3, kOutside}}},
    // Vertices (4, 23), (19, 4), (35, 23).
    {"Triangle", [] { return Shape<CTriangle>(); }, {4, 4, 36, 24},
     {{19, 4, kRed}, {4, 23, kRed}, {35, 23, kRed}, {4, 4, kOutside}, {35, 4, kOutside}, {19, 18, kBlue},
      {19, 24, kOutside}}},
    // A diamond through the middles of the sides, from points in 1/1024.
    {"PolygonPoints",
     [] {
       return Shape<CPoly>([](CPoly& p) {
         p.points = {{512, 0, 6}, {1024, 512, 2}, {512, 1024, 2}, {0, 512, 3}};
       });
     },
     {0, 0, 40, 40}, {{20, 0, kRed}, {20, 20, kBlue}, {2, 2, kOutside}, {37, 37, kOutside}}},
    // A Bezier run cut short after two points is drawn as two lines.
    {"IncompleteBezierRunIsDrawnAsLines",
     [] {
       return Shape<CPoly>([](CPoly& p) {
         p.penColor = kRed;
         p.fillColor = kBlue;
         p.points = {{0, 0, 6}, {512, 0, 4}, {512, 512, 4}};
       });
     },
     {0, 0, 40, 40}, {{10, 0, kRed}, {20, 10, kRed}, {20, 30, kOutside}}},
};

INSTANTIATE_TEST_SUITE_P(Painters, ShapePixels, ::testing::ValuesIn(kPixelCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PolyCoordinates, RoundHalfAwayFromZeroIn64Bits) {
  struct Case {
    int low, high;
    int32_t stored;
    int want;
  } cases[] = {
      {0, 40, 512, 20},          // the centre
      {0, 3, 512, 2},            // 1.5 rounds up
      {0, -3, 512, -2},          // -1.5 rounds away from zero
      {10, 10, 1024, 10},        // an empty span
      {0, 1024, -2000, -2000},   // points outside the rectangle stay outside
      {-2000000000, 2000000000, 1 << 30, 1 << 24},  // would wrap in 32 bits; clamped for the painter
  };
  for (const Case& c : cases) EXPECT_EQ(PolyCoordinate(c.low, c.high, c.stored), c.want) << c.low << " " << c.stored;
}

TEST(ShapeShadow, HugeOffsetsFromTheFileStayBounded) {
  auto r = Shape<CRectangle>([](CRectangle& s) {
    s.shadowX = 0x7FFFFFFF;
    s.shadowY = -0x7FFFFFFF;
  });
  const Painted out = Paint(*r, {4, 4, 20, 14});  // would take 2^31 steps unbounded
  EXPECT_EQ(out.At(10, 8), kBack);               // no room is left for the figure
}

TEST(ShapeHitRegion, FollowsThePaintedFigureAndShadow) {
  auto e = Shape<CEllipse>();
  Painted out = Paint(*e, {0, 0, 40, 20});
  EXPECT_TRUE(e->HitsAt(*out.sprite, 20, 10));
  EXPECT_FALSE(e->HitsAt(*out.sprite, 1, 1));  // the rectangle's corner is not the ellipse's
  auto r = Shape<CRectangle>([](CRectangle& s) { s.shadowX = s.shadowY = 3; });
  out = Paint(*r, {0, 0, 20, 20});
  EXPECT_TRUE(r->HitsAt(*out.sprite, 19, 19));   // the shadow
  EXPECT_FALSE(r->HitsAt(*out.sprite, 19, 0));   // the corner the shadow does not reach
  auto fresh = Shape<CRectangle>();
  EXPECT_TRUE(fresh->HitsAt(*out.sprite, 19, 0));  // before any paint: the whole rectangle
}

// A figure keeps its regions when it moves; one the device's edge cut gets
// them anew. Either way it paints and hits as a fresh one at the new place.
TEST(ShapeRegions, AMovedFigureMatchesAFreshOne) {
  const auto make = [] {
    return Shape<CPoly>([](CPoly& p) {
      p.shadowX = 3;
      p.shadowY = 2;
      p.shadowColor = kGrey;
      p.points = {{512, -100, 6}, {1100, 512, 2}, {512, 1024, 2}, {0, 512, 3}};
    });
  };
  const Rect places[] = {{4, 4, 30, 30}, {20, 10, 46, 36}, {-16, -8, 10, 18}, {30, 20, 56, 46}, {31, 20, 57, 46}};
  auto moved = make();
  for (const Rect& at : places) {
    const Painted got = Paint(*moved, at);
    auto fresh = make();
    const Painted want = Paint(*fresh, at);
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        ASSERT_EQ(got.At(x, y), want.At(x, y)) << "at " << x << "," << y << " placed at " << at.left << "," << at.top;
        if (at.Contains(x, y)) {
          ASSERT_EQ(moved->HitsAt(*got.sprite, x, y), fresh->HitsAt(*want.sprite, x, y)) << x << "," << y;
        }
      }
  }
}

TEST(ShapeCovering, OnlyAFigureThatPaintsEveryPixelIsOpaque) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<CObjectFill>()> make;
    bool keyed;
    bool opaque;
  } cases[] = {
      {"solid rectangle", [] { return Shape<CRectangle>(); }, false, true},
      {"keyed, other colours", [] { return Shape<CRectangle>(); }, true, true},
      {"rounded", [] { return Shape<CRectangle>([](CRectangle& r) { r.cornerWidth = 4; }); }, false, false},
      {"shadow", [] { return Shape<CRectangle>([](CRectangle& r) { r.shadowX = 1; }); }, false, false},
      {"no pen", [] { return Shape<CRectangle>([](CRectangle& r) { r.penStyle = 5; }); }, false, false},
      {"dashed pen", [] { return Shape<CRectangle>([](CRectangle& r) { r.penStyle = 1; }); }, false, false},
      {"keyed fill", [] { return Shape<CRectangle>([](CRectangle& r) { r.fillColor = 0x123456; }); }, true, false},
      {"ellipse", [] { return Shape<CEllipse>(); }, false, false},
      {"triangle", [] { return Shape<CTriangle>(); }, false, false},
  };
  for (const Case& c : cases) {
    auto shape = c.make();
    PaintedSprite sprite(*shape, PixelFormat::kXrgb32);
    sprite.Setup({0, 0, 10, 10}, {}, 0, c.keyed, ColorRef(0x123456), 0, 0);
    EXPECT_EQ(sprite.IsOpaque(), c.opaque) << c.name;
  }
}

// Through the compositor: a shape in front hides only what it covers.
TEST(ShapeCovering, CompositorDrawsBehindAShapeThatLeavesPixels) {
  Compositor c(CompositorRole::kStage);
  ASSERT_EQ(c.Initialise({0, 0, 32, 32}, ColorRef(0x00102030), PixelFormat::kXrgb32, nullptr), 0);
  auto back = Shape<CRectangle>([](CRectangle& r) { r.fillColor = kGreen; });
  auto front = Shape<CEllipse>();
  PaintedSprite backSprite(*back, PixelFormat::kXrgb32), frontSprite(*front, PixelFormat::kXrgb32);
  backSprite.Setup({0, 0, 32, 32}, {}, 10, false, {}, 0, 0);
  frontSprite.Setup({0, 0, 32, 32}, {}, 5, false, {}, 0, 0);
  c.Add(backSprite, false);
  c.Add(frontSprite, false);
  c.Update({0, 0, 32, 32});
  EXPECT_EQ(c.Offscreen().GetPixel(1, 1), ColorRef(kGreen));  // the ellipse leaves its corners
  EXPECT_EQ(c.Offscreen().GetPixel(16, 16), ColorRef(kBlue));
  c.Remove(frontSprite, false);
  c.Remove(backSprite, false);
}

}  // namespace
}  // namespace kv
