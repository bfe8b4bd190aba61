// BMP files built byte by byte from the header layout: "BM", file size,
// reserved, pixel offset; then the info header (40 bytes, or 12 for OS/2 1.x).
#include <gtest/gtest.h>

#include <vector>

#include "imaging/picture_codec.h"
#include "tests/imaging/pixels.h"
#include "tests/stage/bmp_bytes.h"

namespace kv::imaging {
namespace {

using test::Rgb;

using namespace kv::test;

Outcome Read(const std::vector<uint8_t>& f, Picture& pic) { return Decode(f, FileType::kBmp, pic); }

std::vector<uint8_t> Append(std::vector<uint8_t> v, std::initializer_list<uint8_t> bytes) {
  v.insert(v.end(), bytes);
  return v;
}

TEST(ImagingBmp, TwentyFourBitBottomUpRowsArePaddedToFourBytes) {
  // 2 x 2, rows of 6 bytes padded to 8; the first stored row is the bottom one.
  const auto f = Append(Header(2, 2, 24, 0, 0, 54), {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0});
  Picture pic;
  const Outcome outcome = Read(f, pic);
  ASSERT_TRUE(outcome) << outcome.detail;
  EXPECT_EQ(pic.pixels.width, 2);
  EXPECT_EQ(pic.pixels.height, 2);
  EXPECT_EQ(pic.pixels.bitsPerPixel, 24);
  EXPECT_EQ(pic.pixels.stride, 8);
  EXPECT_EQ(pic.pixels.bits[0], 7);  // top row first after reading
  EXPECT_EQ(pic.pixels.bits[8], 1);
}

TEST(ImagingBmp, EightBitTopDownWithAShortColourTable) {
  // Height -1: top-down. Two table entries (B, G, R, 0); index 5 is past the
  // table and reads as black.
  const auto f = Append(Header(3, -1, 8, 0, 2, 54 + 8), {0x00, 0x00, 0xFF, 0, 0x10, 0x20, 0x30, 0, 1, 0, 5, 0});
  Picture pic;
  ASSERT_TRUE(Read(f, pic));
  ASSERT_EQ(pic.pixels.colorTable.size(), 2u);
  EXPECT_EQ(pic.pixels.colorTable[0], ColorRef::FromRgb(0xFF, 0, 0));
  EXPECT_EQ(pic.pixels.colorTable[1], ColorRef::FromRgb(0x30, 0x20, 0x10));
  EXPECT_EQ(pic.pixels.bits[0], 1);
  EXPECT_EQ(pic.pixels.bits[2], 5);
  uint8_t rgb[9];
  RowToRgb(pic.pixels.View(), 0, rgb);
  EXPECT_EQ(rgb[6] | rgb[7] | rgb[8], 0);
}

TEST(ImagingBmp, SixteenBitMasksChooseTheLayout) {
  std::vector<uint8_t> f = Header(1, 1, 16, 3, 0, 54 + 12);
  Put32(f, 0xF800);
  Put32(f, 0x07E0);
  Put32(f, 0x001F);
  Put32(f, 0xF800);  // one pixel, padded
  Picture pic;
  ASSERT_TRUE(Read(f, pic));
  EXPECT_EQ(pic.pixels.layout16, Layout16::k565);
  std::vector<uint8_t> g = Header(1, 1, 16, 0, 0, 54);
  Put32(g, 0x7C00);
  ASSERT_TRUE(Read(g, pic));
  EXPECT_EQ(pic.pixels.layout16, Layout16::k555);
}

std::vector<uint8_t> Indexes(const Picture& pic) {
  std::vector<uint8_t> out;
  for (int y = 0; y < pic.pixels.height; ++y)
    for (int x = 0; x < pic.pixels.width; ++x) out.push_back(pic.pixels.bits[size_t(y * pic.pixels.stride + x)]);
  return out;
}

struct IndexCase {
  const char* what;
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> indexes;  // top row first
};

TEST(ImagingBmp, PackedAndRunLengthIndexes) {
  const std::vector<uint8_t> table16(64, 0);  // 16 entries; only the indexes matter here
  auto with = [](std::vector<uint8_t> v, const std::vector<uint8_t>& tail) {
    v.insert(v.end(), tail.begin(), tail.end());
    return v;
  };
  const IndexCase cases[] = {
      // RLE8, 4 x 2, bottom row first: run of 3 x index 5, run of 1 x 7, end of
      // line; absolute run of 3 (1, 2, 3) padded to a word; end of picture. The
      // top row's last pixel is never written and keeps index 0.
      {"RLE8 runs and an absolute run",
       with(with(Header(4, 2, 8, 1, 16, 54 + 64), table16), {3, 5, 1, 7, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1}),
       {1, 2, 3, 0, 5, 5, 5, 7}},
      // RLE4, 5 x 1: a run of 5 alternates the nibbles 1 and 2.
      {"RLE4 run alternates nibbles", with(with(Header(5, 1, 4, 2, 16, 54 + 64), table16), {5, 0x12, 0, 1}),
       {1, 2, 1, 2, 1}},
      // RLE4, 4 x 3: delta right 2 and up 1, then two pixels of 9.
      {"RLE4 delta", with(with(Header(4, 3, 4, 2, 16, 54 + 64), table16), {0, 2, 2, 1, 2, 0x99, 0, 1}),
       {0, 0, 0, 0, 0, 0, 9, 9, 0, 0, 0, 0}},
      // RLE4 absolute run of 3 nibbles (2 bytes, already a word).
      {"RLE4 absolute", with(with(Header(3, 1, 4, 2, 16, 54 + 64), table16), {0, 3, 0xAB, 0xC0, 0, 1}),
       {0xA, 0xB, 0xC}},
      // RLE8 runs longer than the row and deltas past the picture are dropped.
      {"RLE8 overruns are dropped",
       with(with(Header(2, 1, 8, 1, 16, 54 + 64), table16), {255, 4, 0, 2, 200, 200, 9, 9}), {4, 4}},
      // 4 bits, 3 x 1: 0x12 0x30 and padding: indexes 1, 2, 3.
      {"4 bits", with(with(Header(3, 1, 4, 0, 0, 54 + 64), table16), {0x12, 0x30, 0, 0}), {1, 2, 3}},
      // 1 bit, 10 x 1: 0b10100000 0b01000000: pixels 0, 2 and 9 set.
      {"1 bit", with(Header(10, 1, 1, 0, 0, 54 + 8), {0, 0, 0, 0, 255, 255, 255, 0, 0xA0, 0x40, 0, 0}),
       {1, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
  };
  for (const IndexCase& c : cases) {
    Picture pic;
    const Outcome outcome = Read(c.bytes, pic);
    ASSERT_TRUE(outcome) << c.what << ": " << outcome.detail;
    EXPECT_EQ(pic.pixels.bitsPerPixel, 8) << c.what;
    EXPECT_EQ(Indexes(pic), c.indexes) << c.what;
  }
}

TEST(ImagingBmp, OsTwoCoreHeaderHasThreeByteTableEntries) {
  // File header (offset 14 + 12 + 6 = 32), then the 12-byte header: size 12,
  // u16 width 2, u16 height 1, planes 1, 1 bit; table entries B, G, R: blue,
  // then red; one row 0b10000000 padded to four bytes.
  const std::vector<uint8_t> f = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 12, 0, 0, 0, 2, 0, 1, 0, 1, 0,
                                  1,   0,   0xFF, 0, 0, 0, 0, 0xFF, 0x80, 0, 0, 0};
  Picture pic;
  const Outcome outcome = Read(f, pic);
  ASSERT_TRUE(outcome) << outcome.detail;
  EXPECT_EQ(Rgb(pic), (std::vector<uint32_t>{0xFF0000, 0x0000FF}));
  EXPECT_EQ(pic.fileBits, 1);
}

TEST(ImagingBmp, UncommonBitFieldsWidenToEightBits) {
  // 16 bits with 4-4-4 masks: 0x0F80 has red 15 (shifted: 0xF0), green 8
  // (0x80), blue 0. 32 bits with red and blue swapped: bytes 10 20 30 00 are
  // the word 0x00302010, red 0x10, green 0x20, blue 0x30.
  std::vector<uint8_t> f = Header(1, 1, 16, 3, 0, 54 + 12);
  for (uint32_t m : {0x0F00u, 0x00F0u, 0x000Fu, 0x0F80u}) Put32(f, m);
  std::vector<uint8_t> g = Header(1, 1, 32, 3, 0, 54 + 12);
  for (uint32_t m : {0xFFu, 0xFF00u, 0xFF0000u, 0x302010u}) Put32(g, m);
  Picture pic;
  ASSERT_TRUE(Read(f, pic));
  EXPECT_EQ(Rgb(pic), (std::vector<uint32_t>{0xF08000}));
  ASSERT_TRUE(Read(g, pic));
  EXPECT_EQ(Rgb(pic), (std::vector<uint32_t>{0x102030}));
}

TEST(ImagingBmp, RefusesWhatItCannotRead) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    PicError error;
  };
  std::vector<uint8_t> ok = Header(2, 2, 32, 0, 0, 54);
  ok.resize(54 + 16);
  Picture probe;
  ASSERT_TRUE(Read(ok, probe));
  std::vector<uint8_t> cut = ok;
  cut.resize(54 + 15);
  std::vector<uint8_t> offset = Header(1, 1, 24, 0, 0, 0xFFFFFFF0);
  offset.resize(54 + 4);
  std::vector<uint8_t> gap = Header(1, 1, 32, 3, 0, 54 + 12);
  for (uint32_t m : {0xFF00FFu, 0xFF00u, 0u, 0u}) Put32(gap, m);
  std::vector<uint8_t> headerSize = Header(1, 1, 24, 0, 0, 54);
  headerSize[14] = 44;
  std::vector<uint8_t> os2Huffman = Header(8, 1, 1, 3, 0, 78);
  os2Huffman[14] = 64;
  os2Huffman.resize(14 + 64 + 8);
  const Case cases[] = {
      {"pixels cut short", cut, PicError::kTruncated},
      {"a side over 16384", Header(16385, 1, 24, 0, 0, 54), PicError::kTooLarge},
      {"both sides huge", Header(30000, -30000, 32, 0, 0, 54), PicError::kTooLarge},
      {"zero width", Header(0, 2, 24, 0, 0, 54), PicError::kCorrupt},
      {"offset past the end", offset, PicError::kTruncated},
      {"mask with a gap", gap, PicError::kCorrupt},
      {"RLE8 on 4 bits", Header(2, 2, 4, 1, 0, 54), PicError::kCorrupt},
      {"colour table cut short", Header(2, 2, 8, 0, 256, 54 + 1024), PicError::kTruncated},
      {"unknown header size", headerSize, PicError::kUnsupported},
      {"OS/2 Huffman", os2Huffman, PicError::kUnsupported},
      {"2 bits", Header(2, 2, 2, 0, 0, 54), PicError::kUnsupported},
      {"not BM", {'P', 'K', 3, 4}, PicError::kUnknownType},
  };
  for (const Case& k : cases) {
    Picture pic = probe.pixels.bits.empty() ? Picture{} : Picture{};
    pic.fileBits = 77;
    const Outcome outcome = Read(k.bytes, pic);
    EXPECT_EQ(outcome.error, k.error) << k.what << ": " << outcome.detail;
    EXPECT_FALSE(outcome.detail.empty()) << k.what;
    EXPECT_EQ(pic.fileBits, 77) << k.what << ": a failed decode leaves the picture alone";
  }
}

}  // namespace
}  // namespace kv::imaging
