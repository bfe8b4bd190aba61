// Palettes and colour reduction: the default palette's fixed entries, the
// histogram's cells and saturation, popularity and median-cut palettes
// derived by hand, reduction to 8 bits, the translation table onto a stage
// palette, and packed 1-, 4- and 8-bit pictures at both display depths.
#include "imaging/palette.h"

#include <gtest/gtest.h>

#include <cstring>

#include "stage/pixel_format.h"

namespace kv::imaging {
namespace {

ColorRef C(uint8_t r, uint8_t g, uint8_t b) { return ColorRef::FromRgb(r, g, b); }

// A 24-bit picture of the given colours, `width` a row.
DecodedPicture Picture24(int width, const std::vector<ColorRef>& pixels) {
  DecodedPicture p;
  p.width = width;
  p.height = int(pixels.size()) / width;
  p.bitsPerPixel = 24;
  p.stride = (width * 3 + 3) / 4 * 4;
  p.bits.assign(size_t(p.stride) * p.height, 0);
  for (size_t i = 0; i < pixels.size(); ++i) {
    uint8_t* d = &p.bits[size_t(p.stride) * (i / width) + (i % width) * 3];
    d[0] = pixels[i].Blue(), d[1] = pixels[i].Green(), d[2] = pixels[i].Red();
  }
  return p;
}

TEST(DefaultPalette, HoldsTheStaticColoursAtBothEnds) {
  const Palette& p = DefaultPalette();
  ASSERT_EQ(p.entries.size(), 256u);
  EXPECT_EQ(p.entries[0], C(0, 0, 0));
  EXPECT_EQ(p.entries[9], C(166, 202, 240));
  EXPECT_EQ(p.entries[10], C(0, 0, 0));      // the cube starts at black
  EXPECT_EQ(p.entries[225], C(255, 255, 255));  // and ends at white
  EXPECT_EQ(p.entries[226], C(12, 12, 12));  // grey 1: 255 / 21 = 12
  EXPECT_EQ(p.entries[246], C(255, 251, 240));
  EXPECT_EQ(p.entries[255], C(255, 255, 255));
  // The stage's default key colour 0x00F0F8F8 is nearest to entry 246, its default key index.
  EXPECT_EQ(NearestIndex(p, kDefaultKeyColor), 246);
}

TEST(Histogram, CountsFiveBitCellsAndStopsAt0xFFFF) {
  // 70000 pixels of (255, 8, 0): cell 31 << 10 | 1 << 5 | 0 = 31776, saturated.
  const DecodedPicture many = Picture24(700, std::vector<ColorRef>(70000, C(255, 8, 0)));
  const auto h = BuildHistogram(many.View());
  ASSERT_TRUE(h);
  EXPECT_EQ(h->cells[31776], 0xFFFF);
  EXPECT_EQ(std::count_if(h->cells.begin(), h->cells.end(), [](uint16_t n) { return n != 0; }), 1);
  // 8-bit pictures are not counted.
  DecodedPicture indexed;
  indexed.width = indexed.height = 1, indexed.bitsPerPixel = 8, indexed.stride = 4;
  indexed.bits.assign(4, 0);
  EXPECT_FALSE(BuildHistogram(indexed.View()));
}

TEST(Histogram, CellColoursWidenByRepeatingTopBits) {
  EXPECT_EQ(ColorHistogram::CellColor(0), C(0, 0, 0));
  EXPECT_EQ(ColorHistogram::CellColor(32767), C(255, 255, 255));
  // r 16, g 1, b 30: 16 << 3 | 16 >> 2 = 132, 1 << 3 | 0 = 8, 30 << 3 | 7 = 247.
  EXPECT_EQ(ColorHistogram::CellColor(16 << 10 | 1 << 5 | 30), C(132, 8, 247));
}

TEST(Popularity, OrdersCellsByCount) {
  // Red five times, blue three, white once; the three most frequent in order, or the first two.
  std::vector<ColorRef> px(5, C(255, 0, 0));
  px.insert(px.end(), 3, C(0, 0, 255));
  px.push_back(C(255, 255, 255));
  const DecodedPicture pic = Picture24(9, px);
  const auto all = Popularity(pic.View());
  ASSERT_TRUE(all);
  EXPECT_EQ(all->entries, (std::vector<ColorRef>{C(255, 0, 0), C(0, 0, 255), C(255, 255, 255)}));
  const auto two = Popularity(pic.View(), 2);
  ASSERT_TRUE(two);
  EXPECT_EQ(two->entries, (std::vector<ColorRef>{C(255, 0, 0), C(0, 0, 255)}));
  EXPECT_FALSE(Popularity(pic.View(), 0));
  EXPECT_FALSE(Popularity(pic.View(), 257));
}

struct CutCase {
  const char* name;
  std::vector<std::pair<int, uint16_t>> cells;  // cell, count
  int maxColors;
  std::vector<ColorRef> expected;
};

class MedianCutCases : public ::testing::TestWithParam<CutCase> {};

TEST_P(MedianCutCases, SplitAtTheMedian) {
  const CutCase& c = GetParam();
  ColorHistogram h;
  for (auto [cell, count] : c.cells) h.cells[size_t(cell)] = count;
  const auto p = MedianCut(h, c.maxColors);
  ASSERT_TRUE(p) << c.name;
  EXPECT_EQ(p->entries, c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MedianCutCases,
    ::testing::Values(
        // Black (cell 0) 10 and white (cell 32767) 30: two boxes keep both colours.
        CutCase{"two colours", {{0, 10}, {32767, 30}}, 2, {C(0, 0, 0), C(255, 255, 255)}},
        // One box: the weighted mean (0 * 10 + 255 * 30) / 40 = 191.25, rounded to 191.
        CutCase{"one box", {{0, 10}, {32767, 30}}, 1, {C(191, 191, 191)}},
        // Blue (cell 31) 4, dark red (cell 8 << 10: 66, 0, 0) 2, red (cell 31 << 10) 4. Red and blue both
        // span 31; red, the first, is split: half of 10 is reached at dark red, so {blue, dark red} and
        // {red}. The heavier first box then splits on blue into {dark red} and {blue}.
        CutCase{"three cells",
                {{31, 4}, {8 << 10, 2}, {31 << 10, 4}},
                3,
                {C(66, 0, 0), C(255, 0, 0), C(0, 0, 255)}}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(MedianCut, EmptyHistogramHasNoPalette) { EXPECT_FALSE(MedianCut(ColorHistogram{}, 256)); }

TEST(ReduceColors, MapsEveryPixelToItsPaletteEntry) {
  // Four colours whose channels survive 5 bits exactly (0, 255, 132 = cell value 16).
  const std::vector<ColorRef> px = {C(255, 0, 0), C(0, 0, 255), C(132, 132, 132), C(255, 0, 0),
                                    C(0, 0, 0),   C(255, 0, 0), C(0, 0, 255),      C(132, 132, 132)};
  const DecodedPicture pic = Picture24(4, px);
  const DecodedPicture reduced = ReduceColors(pic.View());
  ASSERT_EQ(reduced.bitsPerPixel, 8);
  ASSERT_EQ(reduced.width, 4);
  ASSERT_EQ(reduced.height, 2);
  // Popularity: red 3, then blue 2 and grey 2 by cell order (blue's cell 31 first), black 1.
  EXPECT_EQ(reduced.colorTable, (std::vector<ColorRef>{C(255, 0, 0), C(0, 0, 255), C(132, 132, 132), C(0, 0, 0)}));
  const uint8_t expected[2][4] = {{0, 1, 2, 0}, {3, 0, 1, 2}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(reduced.bits[size_t(reduced.stride * y + x)], expected[y][x]) << x << "," << y;
}

TEST(ReduceColors, KeepsTheMostFrequentOfManyColours) {
  // 300 greys of cells (v, v, v) for v = 0..31 repeated, plus 1000 pixels of pure red: red is entry 0
  // and every grey pixel maps to its own grey, since there are only 32 grey cells.
  std::vector<ColorRef> px(1000, C(255, 0, 0));
  for (int i = 0; i < 300; ++i) {
    const auto v = uint8_t((i % 32) << 3 | (i % 32) >> 2);
    px.push_back(C(v, v, v));
  }
  const DecodedPicture pic = Picture24(100, px);
  const DecodedPicture reduced = ReduceColors(pic.View());
  ASSERT_EQ(reduced.colorTable.size(), 33u);
  EXPECT_EQ(reduced.colorTable[0], C(255, 0, 0));
  for (size_t i = 0; i < px.size(); ++i) {
    const uint8_t index = reduced.bits[size_t(reduced.stride) * (i / 100) + i % 100];
    EXPECT_EQ(reduced.colorTable[index], px[i]) << i;
  }
}

TEST(TranslationTable, MovesOnlyEntriesThatDiffer) {
  const Palette& stage = DefaultPalette();
  Palette picture = stage;
  picture.entries.resize(4);
  EXPECT_FALSE(TranslationTable(picture, stage).active);
  // Entry 2 becomes pure red, entry 3 near-white.
  picture.entries[2] = C(255, 0, 0);
  picture.entries[3] = C(254, 254, 254);
  const ColorTranslation t = TranslationTable(picture, stage);
  EXPECT_TRUE(t.active);
  EXPECT_EQ(t.map[0], 0);
  EXPECT_EQ(t.map[1], 1);
  EXPECT_EQ(t.map[2], 190);  // red is in the cube (10 + 5 * 36) before the static red at 249
  // White is at 225 (the cube's last) and at 255; the lower index wins.
  EXPECT_EQ(t.map[3], 225);
  EXPECT_EQ(t.map[100], 100);  // entries the picture lacks stay where they are
}

// An 8-bit picture of `width` from a row of indexes, with its colour table.
DecodedPicture Indexes(int width, const std::vector<uint8_t>& indexes, std::vector<ColorRef> table) {
  DecodedPicture p;
  p.width = width;
  p.height = int(indexes.size()) / width;
  p.bitsPerPixel = 8;
  p.stride = (width + 3) / 4 * 4;
  p.bits.assign(size_t(p.stride) * p.height, 0);
  for (size_t i = 0; i < indexes.size(); ++i) p.bits[size_t(p.stride) * (i / width) + i % width] = indexes[i];
  p.colorTable = std::move(table);
  return p;
}

struct PackCase {
  const char* name;
  int bits;
  int width;
  std::vector<uint8_t> indexes;
  std::vector<ColorRef> table;
  std::vector<uint8_t> packedFirstRow;  // the bytes of row 0, padding included
};

class Packed : public ::testing::TestWithParam<PackCase> {};

TEST_P(Packed, KeepTheirPaletteAndTranslateExactly) {
  const PackCase& c = GetParam();
  const DecodedPicture eight = Indexes(c.width, c.indexes, c.table);
  const auto packed = PackIndexed(eight.View(), c.bits);
  ASSERT_TRUE(packed) << c.name;
  EXPECT_EQ(packed->palette.entries.size(), size_t(1) << c.bits) << c.name;
  EXPECT_EQ(std::vector<uint8_t>(packed->rows.begin(), packed->rows.begin() + packed->stride), c.packedFirstRow)
      << c.name;
  const DecodedPicture back = Widen(*packed);
  for (size_t i = 0; i < c.indexes.size(); ++i)
    EXPECT_EQ(back.bits[size_t(back.stride) * (i / c.width) + i % c.width], c.indexes[i]) << c.name << " " << i;
  const PixelBuffer x32 = Translate(*packed, PixelFormat::kXrgb32);
  const PixelBuffer x16 = Translate(*packed, PixelFormat::kRgb565);
  for (size_t i = 0; i < c.indexes.size(); ++i) {
    const int x = int(i % c.width), y = int(i / c.width);
    const ColorRef colour = c.table[c.indexes[i]];
    uint32_t p32;
    uint16_t p16;
    std::memcpy(&p32, x32.At(x, y), 4);
    std::memcpy(&p16, x16.At(x, y), 2);
    EXPECT_EQ(p32, 0xFF000000u | uint32_t(colour.Red()) << 16 | uint32_t(colour.Green()) << 8 | colour.Blue())
        << c.name << " " << i;
    EXPECT_EQ(p16, uint16_t((colour.Red() >> 3) << 11 | (colour.Green() >> 2) << 5 | colour.Blue() >> 3))
        << c.name << " " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Packed,
    ::testing::Values(
        // 1 bit, 10 wide: 1011000011 -> 0xB0 0xC0, padded to four bytes.
        PackCase{"one bit", 1, 10, {1, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1},
                 {C(0, 0, 0), C(255, 255, 255)}, {0xB0, 0xC0, 0, 0}},
        // 4 bits, 3 wide: 0x2F 0x90, then two bytes of padding; colours chosen to lose low bits in 5-6-5.
        PackCase{"four bits", 4, 3, {2, 15, 9, 0, 1, 2},
                 {C(0, 0, 0), C(1, 2, 3), C(255, 7, 200), C(0, 0, 0), C(0, 0, 0), C(0, 0, 0), C(0, 0, 0),
                  C(0, 0, 0), C(0, 0, 0), C(13, 130, 250), C(0, 0, 0), C(0, 0, 0), C(0, 0, 0), C(0, 0, 0),
                  C(0, 0, 0), C(99, 98, 97)},
                 {0x2F, 0x90, 0, 0}},
        // 8 bits, 2 wide: the bytes themselves.
        PackCase{"eight bits", 8, 2, {3, 1}, {C(0, 0, 0), C(10, 20, 30), C(0, 0, 0), C(250, 251, 252)},
                 {3, 1, 0, 0}}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(PackIndexed, RefusesIndexesThatDoNotFit) {
  const DecodedPicture eight = Indexes(2, {0, 2}, {C(0, 0, 0), C(1, 1, 1), C(2, 2, 2)});
  EXPECT_FALSE(PackIndexed(eight.View(), 1));
  EXPECT_TRUE(PackIndexed(eight.View(), 4));
  EXPECT_FALSE(PackIndexed(eight.View(), 2));  // no 2-bit pictures here
}

TEST(Translate, RefusesRowsShorterThanThePicture) {
  IndexedPicture p;
  p.width = 8, p.height = 2, p.bits = 1, p.stride = 4;
  p.rows.assign(4, 0xFF);  // one row of two
  EXPECT_TRUE(Translate(p, PixelFormat::kXrgb32).IsNull());
  EXPECT_EQ(Widen(p).width, 0);
}

}  // namespace
}  // namespace kv::imaging
