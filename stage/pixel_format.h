// The two stage pixel formats and the per-pixel conversions between them and
// ColorRef. Used by PixelBuffer, the sprites and the PNG/BMP helpers.
#pragma once

#include <cstdint>

#include "platform/geometry.h"

namespace kv {

enum class PixelFormat : uint8_t {
  kXrgb32,  // 0xFFRRGGBB in a little-endian word (the default display)
  kRgb565,  // the emulated 16-bit display
};

constexpr int BytesPerPixel(PixelFormat f) { return f == PixelFormat::kXrgb32 ? 4 : 2; }

// The unused byte is written as 0xFF so that a QImage of Format_RGB32 over
// the same memory sees a valid pixel.
constexpr uint32_t ToXrgb32(ColorRef c) {
  return 0xFF000000u | uint32_t(c.Red()) << 16 | uint32_t(c.Green()) << 8 | c.Blue();
}
constexpr ColorRef FromXrgb32(uint32_t p) {
  return ColorRef::FromRgb(uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p));
}
// Truncating, as a 16-bit display stores colours.
constexpr uint16_t ToRgb565(ColorRef c) {
  return uint16_t((c.Red() & 0xF8) << 8 | (c.Green() & 0xFC) << 3 | c.Blue() >> 3);
}
// Expanded by shifting: the channel values a 16-bit pixel reads back as.
constexpr ColorRef FromRgb565(uint16_t p) {
  return ColorRef::FromRgb(uint8_t((p >> 8) & 0xF8), uint8_t((p >> 3) & 0xFC), uint8_t((p & 0x1F) << 3));
}
constexpr ColorRef FromRgb555(uint16_t p) {
  return ColorRef::FromRgb(uint8_t((p >> 7) & 0xF8), uint8_t((p >> 2) & 0xF8), uint8_t((p & 0x1F) << 3));
}

}  // namespace kv
