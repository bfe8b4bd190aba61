// PNG streams built chunk by chunk for tests that spell out a picture: the
// signature, then chunks of big-endian length, type, data and the CRC of
// type and data (zlib's crc32).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

namespace kv::imaging::test {

inline void Be32(std::vector<uint8_t>& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}

inline std::vector<uint8_t> PngSignature() { return {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}; }

inline void PngChunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  Be32(png, uint32_t(data.size()));
  std::vector<uint8_t> typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  png.insert(png.end(), typed.begin(), typed.end());
  Be32(png, uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
}

}  // namespace kv::imaging::test
