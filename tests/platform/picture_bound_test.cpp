#include "platform/picture_bound.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

// The picture bound at its edges: a side of 16384, 4096 x 4096 pixels in
// all, and a display larger than that raising the stage's share.
TEST(PictureBound, EdgesOfTheSidesAndOfThePixelCount) {
  const struct {
    int64_t width, height, maxPixels;
    bool within;
  } kCases[] = {
      {4096, 4096, kMaxPicturePixels, true},   {4097, 4096, kMaxPicturePixels, false},
      {16384, 1024, kMaxPicturePixels, true},  {16384, 1025, kMaxPicturePixels, false},
      {16385, 1, kMaxPicturePixels, false},    {1, 16385, kMaxPicturePixels, false},
      {0, 16384, kMaxPicturePixels, true},     {-2000000000, 10, kMaxPicturePixels, true},
      {2000000000, 2000000000, kMaxPicturePixels, false},
      {7680, 4320, StagePixelBound(7680, 4320), true},  // an 8K display's own size
      {7680, 4321, StagePixelBound(7680, 4320), false},
      {4096, 4096, StagePixelBound(640, 480), true},
      {16384, 16384, StagePixelBound(1 << 30, 1 << 30), true},  // a display is counted up to a side each
      {16385, 16384, StagePixelBound(1 << 30, 1 << 30), false},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(WithinPictureBound(c.width, c.height, c.maxPixels), c.within)
        << c.width << " x " << c.height << " of " << c.maxPixels;
  EXPECT_EQ(PictureBoundText(), "at most 16384 pixels on a side and 16777216 in all");
}

}  // namespace
}  // namespace kv
