// Pixels of a decoded picture as 0xRRGGBB words, top row first, for tables
// of expected colours in the picture library's tests.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/picture_codec.h"

namespace kv::imaging::test {

inline std::vector<uint32_t> Rgb(const PictureView& pic) {
  std::vector<uint32_t> out;
  std::vector<uint8_t> row(size_t(pic.width) * 3);
  for (int y = 0; y < pic.height; ++y) {
    RowToRgb(pic, y, row.data());
    for (int x = 0; x < pic.width; ++x)
      out.push_back(uint32_t(row[3 * x]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x + 2]);
  }
  return out;
}
inline std::vector<uint32_t> Rgb(const Picture& pic) { return Rgb(pic.pixels.View()); }

}  // namespace kv::imaging::test
