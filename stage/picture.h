// A device-independent picture as a decoder hands it over (8, 16, 24 or 32
// bits, with a colour table for 8 bits), before StageSprite::SetPicture
// converts it once to the stage format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/geometry.h"

namespace kv {

enum class Layout16 : uint8_t { k555, k565 };

// Borrowed view: `bits` points at the top row, `stride` bytes between rows
// (negative for bottom-up data read in place).
struct PictureView {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;  // 8, 16, 24 or 32
  Layout16 layout16 = Layout16::k555;
  const uint8_t* bits = nullptr;
  ptrdiff_t stride = 0;
  std::span<const ColorRef> colorTable;  // 8 bits: up to 256 entries
};

// Owned pixels, top-down, rows padded to four bytes as in the files.
struct DecodedPicture {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
  Layout16 layout16 = Layout16::k555;
  ptrdiff_t stride = 0;
  std::vector<uint8_t> bits;
  std::vector<ColorRef> colorTable;

  PictureView View() const {
    return {width, height, bitsPerPixel, layout16, bits.data(), stride, colorTable};
  }
};

}  // namespace kv
