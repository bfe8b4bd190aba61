#include "stage/sprite_strip.h"

#include <algorithm>

namespace kv {

namespace {

uint32_t U16(std::span<const uint8_t> b, size_t at) { return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8; }
uint32_t U32(std::span<const uint8_t> b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

}  // namespace

StripLayout ReadStripLayout(std::span<const uint8_t> bytes, int pictureWidth, std::string* note) {
  const StripLayout single{1, std::max(pictureWidth, 0)};
  // File header (14 bytes) and at least the size word of the info header.
  if (bytes.size() < 18 || bytes[0] != 'B' || bytes[1] != 'M' || pictureWidth <= 0) return single;
  const uint64_t pixelsAt = U32(bytes, 10);
  const uint64_t infoSize = U32(bytes, 14);
  uint64_t at = 14 + infoSize;
  if (infoSize >= 40 && bytes.size() >= 54) {
    const uint32_t bits = U16(bytes, 28);
    const uint32_t compression = U32(bytes, 30);
    uint64_t colours = U32(bytes, 46);
    if (colours == 0 && bits <= 8) colours = uint64_t(1) << bits;
    at += colours * 4;
    if (compression == 3 && infoSize == 40) at += 12;  // the three masks
  } else if (infoSize == 12 && bytes.size() >= 26) {
    const uint32_t bits = U16(bytes, 24);
    if (bits <= 8) at += (uint64_t(1) << bits) * 3;
  } else {
    return single;
  }
  const uint64_t end = at + 7;
  if (end > bytes.size() || end > pixelsAt) return single;
  if (U16(bytes, size_t(at)) != kStripMarker || bytes[size_t(at) + 2] != kStripKind) return single;
  const int count = int(U16(bytes, size_t(at) + 3));
  const int width = int(U16(bytes, size_t(at) + 5));
  if (count == 0 || width == 0) {
    if (note) *note = "a strip block of no cells; the picture is one cell";
    return single;
  }
  const int fit = std::min(count, pictureWidth / width);
  if (fit == 0) {
    if (note) *note = "strip cells wider than the picture; the picture is one cell";
    return single;
  }
  if (fit < count && note)
    *note = "only " + std::to_string(fit) + " of " + std::to_string(count) + " strip cells fit the picture";
  return {fit, width};
}

}  // namespace kv
