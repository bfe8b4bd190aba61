#include "platform/geometry.h"

#include <gtest/gtest.h>

#include <limits>

namespace kv {
namespace {

constexpr int kMin = std::numeric_limits<int>::min(), kMax = std::numeric_limits<int>::max();

// Sizes of stored rectangles never wrap: exact in 64 bits, clamped as int.
TEST(Rect, SizesOfExtremeRectanglesAreExactOrClamped) {
  struct Case {
    Rect r;
    int64_t exact;
    int clamped;
  };
  const Case cases[] = {
      {{0, 0, 10, 10}, 10, 10},
      {{kMin, kMin, kMax, kMax}, 4294967295LL, kMax},  // 2^31 - 1 - (-2^31)
      {{kMax, kMax, kMin, kMin}, -4294967295LL, kMin},
      {{kMin, kMin, 0, 0}, 2147483648LL, kMax},  // one more than int holds
      {{-1, -1, kMax, kMax}, 2147483648LL, kMax},
      {{0, 0, kMax, kMax}, kMax, kMax},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(k.r.Width64(), k.exact) << k.r.left << ".." << k.r.right;
    EXPECT_EQ(k.r.Height64(), k.exact) << k.r.top << ".." << k.r.bottom;
    EXPECT_EQ(k.r.Width(), k.clamped) << k.r.left << ".." << k.r.right;
    EXPECT_EQ(k.r.Height(), k.clamped) << k.r.top << ".." << k.r.bottom;
  }
}

TEST(Rect, OffsetStopsAtTheEndsOfTheRange) {
  EXPECT_EQ((Rect{kMax - 5, 0, kMax, 10}.Offset(10, -5)), (Rect{kMax, -5, kMax, 5}));
  EXPECT_EQ((Rect{kMin, kMin, 0, 0}.Offset(-1, -1)), (Rect{kMin, kMin, -1, -1}));
  EXPECT_EQ((Rect{1, 2, 3, 4}.Offset(1, 1)), (Rect{2, 3, 4, 5}));
}

}  // namespace
}  // namespace kv
