// The cell layout of a directional sprite's frame picture: a bitmap file may
// carry a strip block between its colour table and its pixels (the 16-bit
// marker 25200, the kind byte 1, then a 16-bit cell count and a 16-bit cell
// width, little-endian); its cells lie side by side from the left, each as
// high as the picture. A picture without the block is one cell.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kv {

inline constexpr uint16_t kStripMarker = 25200;
inline constexpr uint8_t kStripKind = 1;

struct StripLayout {
  int cellCount = 1;
  int cellWidth = 0;  // the picture's width when there is one cell
};

// Reads the layout of the bitmap file `bytes` whose picture is
// `pictureWidth` pixels wide. Cells that do not fit the picture are cut to
// those that do (at least one, the whole width), and `note` says why.
StripLayout ReadStripLayout(std::span<const uint8_t> bytes, int pictureWidth, std::string* note = nullptr);

}  // namespace kv
