// The strip block of sprite frame pictures, from bytes laid out by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "stage/sprite_strip.h"

namespace kv {
namespace {

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF), Put16(b, at + 2, v >> 16);
}

// A bitmap file's headers with `bits` per pixel and `colours` table entries,
// then `block` where the block goes, and pixels from `pixelsAt` on.
std::vector<uint8_t> File(int bits, uint32_t colours, const std::vector<uint8_t>& block, uint32_t pixelsAt) {
  const size_t table = (colours ? colours : (bits <= 8 ? 1u << bits : 0u)) * 4;
  std::vector<uint8_t> b(std::max<size_t>(pixelsAt, 54 + table + block.size()) + 16, 0);
  b[0] = 'B', b[1] = 'M';
  Put32(b, 10, pixelsAt);
  Put32(b, 14, 40);
  Put16(b, 28, uint32_t(bits));
  Put32(b, 46, colours);
  std::copy(block.begin(), block.end(), b.begin() + 54 + ptrdiff_t(table));
  return b;
}

// Marker 25200 is 0x6270: bytes 70 62.
std::vector<uint8_t> Block(uint8_t kind, uint16_t count, uint16_t width) {
  return {0x70, 0x62, kind, uint8_t(count), uint8_t(count >> 8), uint8_t(width), uint8_t(width >> 8)};
}

TEST(SpriteStrip, LayoutFromTheBlock) {
  struct {
    const char* what;
    std::vector<uint8_t> file;
    int pictureWidth;
    int cells, cellWidth;
    bool noted;
  } cases[] = {
      {"24 bits, four cells", File(24, 0, Block(1, 4, 8), 64), 32, 4, 8, false},
      {"8 bits, after 256 entries", File(8, 0, Block(1, 3, 10), 54 + 1024 + 8), 30, 3, 10, false},
      {"8 bits, after the entries used", File(8, 16, Block(1, 2, 5), 54 + 64 + 8), 10, 2, 5, false},
      {"no block: one cell", File(24, 0, {}, 64), 32, 1, 32, false},
      {"another kind: one cell", File(24, 0, Block(2, 4, 8), 64), 32, 1, 32, false},
      {"block past the pixels' start", File(24, 0, Block(1, 4, 8), 58), 32, 1, 32, false},
      {"more cells than fit", File(24, 0, Block(1, 9, 8), 64), 20, 2, 8, true},
      {"cells wider than the picture", File(24, 0, Block(1, 2, 50), 64), 20, 1, 20, true},
      {"no cells", File(24, 0, Block(1, 0, 8), 64), 20, 1, 20, true},
      {"cells of no width", File(24, 0, Block(1, 3, 0), 64), 20, 1, 20, true},
      {"not a bitmap", std::vector<uint8_t>(80, 0), 20, 1, 20, false},
      {"truncated", {'B', 'M', 0, 0}, 20, 1, 20, false},
  };
  for (const auto& c : cases) {
    std::string note;
    const StripLayout l = ReadStripLayout(c.file, c.pictureWidth, &note);
    EXPECT_EQ(l.cellCount, c.cells) << c.what;
    EXPECT_EQ(l.cellWidth, c.cellWidth) << c.what;
    EXPECT_EQ(!note.empty(), c.noted) << c.what << ": " << note;
  }
}

}  // namespace
}  // namespace kv
