// The arithmetic of printing: printable areas, the enlargement factor and
// rectangles in the print stage, each case worked out by hand.
#include <gtest/gtest.h>

#include "stage/print_layout.h"

namespace kv {
namespace {

TEST(PrintLayout, PrintableAreaFollowsMarginsAndTheSourceProportions) {
  const struct {
    const char* what;
    PrinterPage page;
    PageMargins margins, minimum;
    int sourceW, sourceH;
    Rect expected;
  } cases[] = {
      // A4 portrait at 300 dpi, no margins: 2480 wide, 2480 * 48 / 64 high.
      {"whole width", {300, 300, 2480, 3508}, {}, {}, 64, 48, {0, 0, 2480, 1860}},
      // One inch left and half an inch top beyond a quarter-inch minimum:
      // 300 * 750 / 1000 = 225 left, 300 * 250 / 1000 = 75 top; right
      // 300 * (500 - 250) / 1000 = 75; width 2480 - 225 - 75 = 2180.
      {"margins beyond the minimum", {300, 300, 2480, 3508}, {1000, 500, 500, 9999}, {250, 250, 250, 250}, 100, 50,
       {225, 75, 2405, 75 + 1090}},
      // Margins inside the printer's own count as none.
      {"margins below the minimum", {300, 300, 2480, 3508}, {100, 100, 100, 100}, {250, 250, 250, 250}, 10, 10,
       {0, 0, 2480, 2480}},
      // Unequal resolutions: height = 1200 * 600 * 30 / (300 * 40) = 1800.
      {"unequal dots per inch", {300, 600, 1200, 6000}, {}, {}, 40, 30, {0, 0, 1200, 1800}},
      // The bottom margin is not used: the height may pass the paper.
      {"tall source", {100, 100, 800, 1100}, {0, 0, 0, 5000}, {}, 10, 20, {0, 0, 800, 1600}},
      // Margins that leave nothing give an empty area.
      {"no width left", {300, 300, 600, 900}, {1000, 0, 1000, 0}, {}, 10, 10, {300, 0, 300, 0}},
  };
  for (const auto& c : cases) {
    const Rect r = PrintableArea(c.page, c.margins, c.minimum, c.sourceW, c.sourceH);
    EXPECT_EQ(r.left, c.expected.left) << c.what;
    EXPECT_EQ(r.top, c.expected.top) << c.what;
    EXPECT_EQ(r.right, c.expected.right) << c.what;
    EXPECT_EQ(r.bottom, c.expected.bottom) << c.what;
  }
}

TEST(PrintLayout, FactorIsTheWholeMultipleOfTheSourceOrOne) {
  const struct {
    bool hq;
    int printable, source, expected;
  } cases[] = {
      {false, 2480, 64, 38},   // 2480 / 64 = 38.75
      {false, 2480, 24, 103},  // 103.3
      {true, 2480, 64, 1},     // high quality renders at full size
      {false, 2480, 2480, 1},
      {false, 1000, 1024, 1},  // wider than the paper: 0 would divide by nothing
      {false, 0, 64, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PrintFactor(c.hq, c.printable, c.source), c.expected) << c.printable << "/" << c.source;
}

TEST(PrintLayout, RectanglesScaleFromTheSourceOriginTruncatingTowardZero) {
  const struct {
    Rect r;
    double sx, sy;
    int x, y;
    Rect expected;
  } cases[] = {
      // sx 65/64: 8 -> 8.125, 32 -> 32.5, truncated.
      {{8, 8, 32, 24}, 65.0 / 64, 1.0, 0, 0, {8, 8, 32, 24}},
      {{44, 28, 52, 36}, 65.0 / 64, 1.0, 0, 0, {44, 28, 52, 36}},
      {{36, 20, 60, 44}, 65.0 / 64, 1.0, 0, 0, {36, 20, 60, 44}},
      // Around an object: the origin moves to the source's.
      {{36, 20, 60, 44}, 1.0, 1.0, 36, 20, {0, 0, 24, 24}},
      {{8, 8, 32, 24}, 1.0, 1.0, 36, 20, {-28, -12, -4, 4}},
      // ox = trunc(2.5 * 3) = 7: left 10 * 2.5 - 7 = 18, right 21 * 2.5 - 7 = 45.5 -> 45.
      {{10, 4, 21, 9}, 2.5, 1.5, 3, 3, {18, 2, 45, 9}},
      // Negative products truncate toward zero, not down: -3 * 1.5 = -4.5 -> -4.
      {{-3, -3, 1, 1}, 1.5, 1.5, 0, 0, {-4, -4, 1, 1}},
  };
  for (const auto& c : cases) {
    const Rect r = ScalePrintRect(c.r, c.sx, c.sy, c.x, c.y);
    EXPECT_EQ(r.left, c.expected.left) << c.r.left << "," << c.r.top;
    EXPECT_EQ(r.top, c.expected.top) << c.r.left << "," << c.r.top;
    EXPECT_EQ(r.right, c.expected.right) << c.r.left << "," << c.r.top;
    EXPECT_EQ(r.bottom, c.expected.bottom) << c.r.left << "," << c.r.top;
  }
}

}  // namespace
}  // namespace kv
