// Hand-built BMP bytes for the reader and compose tool tests: "BM", file
// size, reserved, pixel offset, then the 40-byte info header.
#pragma once

#include <cstdint>
#include <vector>

namespace kv::test {

inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
inline void Put16(std::vector<uint8_t>& v, uint16_t x) { v.push_back(uint8_t(x)), v.push_back(uint8_t(x >> 8)); }

inline std::vector<uint8_t> Header(int32_t w, int32_t h, uint16_t bpp, uint32_t compression, uint32_t colors,
                            uint32_t offBits) {
  std::vector<uint8_t> v = {'B', 'M'};
  Put32(v, 0);  // file size: not checked
  Put32(v, 0);  // two reserved words
  Put32(v, offBits);
  Put32(v, 40);
  Put32(v, uint32_t(w));
  Put32(v, uint32_t(h));
  Put16(v, 1);  // planes
  Put16(v, bpp);
  Put32(v, compression);
  Put32(v, 0);  // image size
  Put32(v, 0);
  Put32(v, 0);  // resolution
  Put32(v, colors);
  Put32(v, 0);
  return v;
}

}  // namespace kv::test
