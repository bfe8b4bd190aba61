// Palettes as data and colour reduction: the player's default palette, the
// 32 x 32 x 32 colour histogram, popularity and median-cut palettes, the
// reduction of a picture to 8 bits, the translation table of a picture's
// palette onto a stage palette, and pictures of 1, 4 and 8 bits kept packed
// with their palette and translated to the emulated display depths. Used by
// the picture object, the display kind and the tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/picture_codec.h"
#include "stage/pixel_buffer.h"

namespace kv::imaging {

// At most 256 colours; index order is the palette's.
struct Palette {
  std::vector<ColorRef> entries;
  friend bool operator==(const Palette&, const Palette&) = default;
};

// 256 entries: the ten low and ten high static system colours at 0 to 9 and
// 246 to 255, a 6 x 6 x 6 colour cube at 10 to 225 and a grey ramp of
// twenty between. The key colour's nearest entry is 246, the default key index.
const Palette& DefaultPalette();

// Counts of pixels per cell of 5 bits a channel (index r << 10 | g << 5 | b);
// a counter stops at 0xFFFF.
struct ColorHistogram {
  std::vector<uint16_t> cells = std::vector<uint16_t>(32768, 0);
  static constexpr int Cell(ColorRef c) { return (c.Red() >> 3) << 10 | (c.Green() >> 3) << 5 | c.Blue() >> 3; }
  // A cell's colour: each 5-bit channel widened by repeating its top bits,
  // so black and white stay black and white.
  static constexpr ColorRef CellColor(int cell) {
    const auto widen = [](int v) { return uint8_t(v << 3 | v >> 2); };
    return ColorRef::FromRgb(widen(cell >> 10 & 31), widen(cell >> 5 & 31), widen(cell & 31));
  }
};

// Over 16-, 24- and 32-bit pictures; none for other depths.
std::optional<ColorHistogram> BuildHistogram(const PictureView& picture);

// The `maxColors` (1 to 256) most frequent cells, most frequent first (ties:
// lower cell first); none when the picture cannot be counted.
std::optional<Palette> Popularity(const PictureView& picture, int maxColors = 256);

// Up to `maxColors` (1 to 256) colours: the box of all counted cells is split
// at the median of its longest side, the box holding most pixels first, and
// each box gives the count-weighted mean of its cells. None for an empty histogram.
std::optional<Palette> MedianCut(const ColorHistogram& histogram, int maxColors = 256);

// The index of the entry nearest to `c` (squared distance; ties: lowest index).
int NearestIndex(const Palette& palette, ColorRef c);

// The picture reduced to 8 bits: the palette by popularity (by median cut
// when popularity cannot serve, the default palette when neither can), each
// histogram cell mapped once to its nearest entry and every pixel through its
// cell. 8-bit pictures are returned as they are.
DecodedPicture ReduceColors(const PictureView& picture);

// Translation of a picture palette onto a stage palette: entries equal to the
// stage entry of the same index keep their index, others go to the nearest
// stage colour; `active` when any entry moved.
struct ColorTranslation {
  std::array<uint8_t, 256> map{};
  bool active = false;
};
ColorTranslation TranslationTable(const Palette& picture, const Palette& stage);

// A picture of 1, 4 or 8 bits a pixel kept packed as its file held it (rows
// top-down, leftmost pixel in the high bits, rows padded to four bytes) with
// its 2^bits-entry palette.
struct IndexedPicture {
  int width = 0;
  int height = 0;
  int bits = 8;
  ptrdiff_t stride = 0;
  std::vector<uint8_t> rows;
  Palette palette;

  uint8_t IndexAt(int x, int y) const;
};

// Packs an 8-bit picture into `bits` (1, 4 or 8); the palette is cut or filled
// with black to 2^bits entries. None when an index does not fit.
std::optional<IndexedPicture> PackIndexed(const PictureView& eightBit, int bits);
// The 8-bit picture the stage and the encoders take.
DecodedPicture Widen(const IndexedPicture& picture);
// The picture at the display depth: XRGB32, or RGB565 truncating each channel.
PixelBuffer Translate(const IndexedPicture& picture, PixelFormat format);

}  // namespace kv::imaging
