// The bound on every picture made to a size that a file or a script gives:
// the stage, saved copies of pictures, an object's own surface. The player,
// the stage builtins and the picture library refuse a size past it before
// anything is allocated.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

namespace kv {

// At most kMaxPictureSide on a side and kMaxPicturePixels in all: 4096 x 4096
// is past any display a title for 32-bit Windows could fill, and 64 MiB at
// 32 bits.
inline constexpr int kMaxPictureSide = 16384;
inline constexpr int64_t kMaxPicturePixels = int64_t{4096} * 4096;

// A size within the bound; sides of 0 and below make no picture and pass.
constexpr bool WithinPictureBound(int64_t width, int64_t height, int64_t maxPixels = kMaxPicturePixels) {
  return width <= kMaxPictureSide && height <= kMaxPictureSide &&
         std::max<int64_t>(width, 0) * std::max<int64_t>(height, 0) <= maxPixels;
}

// The stage may also be as large as the display it plays on.
constexpr int64_t StagePixelBound(int64_t screenWidth, int64_t screenHeight) {
  return std::max(kMaxPicturePixels, std::clamp<int64_t>(screenWidth, 0, kMaxPictureSide) *
                                         std::clamp<int64_t>(screenHeight, 0, kMaxPictureSide));
}

// "at most 16384 pixels on a side and 16777216 in all", for messages.
inline std::string PictureBoundText(int64_t maxPixels = kMaxPicturePixels) {
  return "at most " + std::to_string(kMaxPictureSide) + " pixels on a side and " + std::to_string(maxPixels) +
         " in all";
}

}  // namespace kv
