// BMP files built byte by byte from the header layout: "BM", file size,
// reserved, pixel offset; then the 40-byte info header.
#include "stage/bmp.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/stage/bmp_bytes.h"

namespace kv {
namespace {

using namespace kv::test;

TEST(StageBmp, TwentyFourBitBottomUpRowsArePaddedToFourBytes) {
  // 2 x 2, rows of 6 bytes padded to 8; the first stored row is the bottom one.
  std::vector<uint8_t> f = Header(2, 2, 24, 0, 0, 54);
  const uint8_t rows[] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
  f.insert(f.end(), rows, rows + sizeof rows);
  std::string error;
  auto pic = ReadBmp(f, &error);
  ASSERT_TRUE(pic) << error;
  EXPECT_EQ(pic->width, 2);
  EXPECT_EQ(pic->height, 2);
  EXPECT_EQ(pic->bitsPerPixel, 24);
  EXPECT_EQ(pic->stride, 8);
  EXPECT_EQ(pic->bits[0], 7);  // top row first after reading
  EXPECT_EQ(pic->bits[8], 1);
}

TEST(StageBmp, EightBitTopDownWithAShortColourTable) {
  // Height -1: top-down. Two table entries (B, G, R, 0); index 5 is past the table.
  std::vector<uint8_t> f = Header(3, -1, 8, 0, 2, 54 + 8);
  const uint8_t table[] = {0x00, 0x00, 0xFF, 0, 0x10, 0x20, 0x30, 0};
  f.insert(f.end(), table, table + 8);
  const uint8_t row[] = {1, 0, 5, 0};
  f.insert(f.end(), row, row + 4);
  auto pic = ReadBmp(f);
  ASSERT_TRUE(pic);
  ASSERT_EQ(pic->colorTable.size(), 256u);
  EXPECT_EQ(pic->colorTable[0], ColorRef::FromRgb(0xFF, 0, 0));
  EXPECT_EQ(pic->colorTable[1], ColorRef::FromRgb(0x30, 0x20, 0x10));
  EXPECT_EQ(pic->colorTable[5], ColorRef());
  EXPECT_EQ(pic->bits[0], 1);
  EXPECT_EQ(pic->bits[2], 5);
}

TEST(StageBmp, SixteenBitMasksChooseTheLayout) {
  std::vector<uint8_t> f = Header(1, 1, 16, 3, 0, 54 + 12);
  Put32(f, 0xF800);
  Put32(f, 0x07E0);
  Put32(f, 0x001F);
  Put32(f, 0xF800);  // one pixel, padded
  auto pic = ReadBmp(f);
  ASSERT_TRUE(pic);
  EXPECT_EQ(pic->layout16, Layout16::k565);
  std::vector<uint8_t> g = Header(1, 1, 16, 0, 0, 54);
  Put32(g, 0x7C00);
  EXPECT_EQ(ReadBmp(g)->layout16, Layout16::k555);
}

TEST(StageBmp, RejectsWhatItCannotRead) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> ok = Header(2, 2, 32, 0, 0, 54);
  ok.resize(54 + 16);
  ASSERT_TRUE(ReadBmp(ok));
  std::vector<uint8_t> cut = ok;
  cut.resize(54 + 15);
  std::vector<uint8_t> rle = Header(2, 2, 8, 1, 0, 54 + 1024);
  rle.resize(54 + 1024 + 8);
  std::vector<uint8_t> four = Header(2, 2, 4, 0, 0, 54 + 64);
  four.resize(54 + 64 + 8);
  std::vector<uint8_t> huge = Header(30000, 30000, 32, 0, 0, 54);
  std::vector<uint8_t> zero = Header(0, 2, 24, 0, 0, 54);
  std::vector<uint8_t> offset = Header(1, 1, 24, 0, 0, 0xFFFFFFF0);
  offset.resize(54 + 4);
  std::vector<uint8_t> masks = Header(1, 1, 32, 3, 0, 54 + 12);
  Put32(masks, 0xFF);
  Put32(masks, 0xFF00);
  Put32(masks, 0xFF0000);
  Put32(masks, 0);
  const Case cases[] = {{"pixels cut short", cut},  {"run-length", rle},      {"4 bits", four},
                        {"too large", huge},        {"zero width", zero},     {"offset past the end", offset},
                        {"swapped masks", masks},   {"not BM", {'P', 'K', 3, 4}}};
  for (const Case& k : cases) {
    std::string error;
    EXPECT_FALSE(ReadBmp(k.bytes, &error)) << k.what;
    EXPECT_FALSE(error.empty()) << k.what;
  }
}

}  // namespace
}  // namespace kv
