// Pixel loops, stretch stepping and picture conversion against values worked
// out by hand from the pixel layouts.
#include "stage/pixel_loops.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "stage/pixel_buffer.h"
#include "stage/stretch_map.h"
#include "tests/stage/stage_test_util.h"

namespace kv {
namespace {

using namespace kv::test;

std::vector<int32_t> Map(int src, int dst) {
  std::vector<int32_t> out(static_cast<size_t>(dst));
  BuildStretchMap(0, src, dst, 0, dst, out.data());
  return out;
}

TEST(StageStretchMap, EveryDestinationColumnComesFromTheRemainderStepping) {
  struct Case {
    int src, dst;
    std::vector<int32_t> cols;
  };
  const Case cases[] = {
      {2, 5, {0, 0, 1, 1, 1}},        // n 2, remainder 1: the second column gets the extra copy
      {3, 2, {1, 2}},                 // reduction: columns 1 and 2 overflow the accumulator
      {3, 7, {0, 0, 1, 1, 2, 2, 2}},  // n 2, remainder 1: the last column gets it
      {4, 4, {0, 1, 2, 3}},
      {1, 3, {0, 0, 0}},
      {5, 2, {2, 4}},
  };
  for (const Case& k : cases) EXPECT_EQ(Map(k.src, k.dst), k.cols) << k.src << " -> " << k.dst;
  // A clipped run starts where the full run would be.
  std::vector<int32_t> part(3);
  BuildStretchMap(10, 3, 7, 3, 3, part.data());
  EXPECT_EQ(part, (std::vector<int32_t>{11, 12, 12}));
}

TEST(StageStretchMap, NoSeamForAnyRatio) {
  // Every destination pixel written, every source column used when growing.
  for (int src = 1; src <= 24; ++src)
    for (int dst = 1; dst <= 48; ++dst) {
      const std::vector<int32_t> m = Map(src, dst);
      for (size_t i = 1; i < m.size(); ++i) ASSERT_LE(m[i - 1], m[i]);
      ASSERT_GE(m.front(), 0);
      ASSERT_EQ(m.back(), src - 1) << src << " -> " << dst;
      if (dst >= src) {
        for (size_t i = 1; i < m.size(); ++i) ASSERT_LE(m[i] - m[i - 1], 1);
      }
    }
}

TEST(StageStretchDraw, SeamCasesWriteEveryPixelInBothFormats) {
  for (PixelFormat f : {PixelFormat::kXrgb32, PixelFormat::kRgb565}) {
    struct Case {
      int sw, sh, dw, dh;
    };
    // Small ratios from the seam cases, and rows long enough for the
    // eight-pixel groups of the vector path (growing, near 1:1, shrinking).
    const Case cases[] = {{3, 3, 2, 2},  {3, 3, 7, 7},  {2, 2, 5, 5},  {7, 3, 3, 11},
                          {13, 5, 40, 9}, {30, 4, 31, 4}, {50, 2, 20, 2}, {9, 1, 64, 1}};
    // Pixel colour by source position; every third column is the key.
    auto colour = [](int x, int y) { return x % 3 == 2 ? kGrey : (x + y) % 2 ? kRed : kBlue; };
    for (const Case& k : cases)
      for (bool keyed : {false, true}) {
        StageSprite s(f);
        const DecodedPicture pic = Picture24(k.sw, k.sh, colour);
        s.SetPicture(pic.View());
        s.Setup({0, 0, k.dw, k.dh}, {0, 0, k.sw, k.sh}, 5, keyed, kGrey, 0, 0);
        PixelBuffer target(k.dw, k.dh, f);
        target.Fill(kGreen);  // the sentinel: no stretched pixel is green
        s.DrawStretchedTo(target);
        for (int y = 0; y < k.dh; ++y)
          for (int x = 0; x < k.dw; ++x) {
            const int sx = StretchSource(x, k.sw, k.dw), sy = StretchSource(y, k.sh, k.dh);
            const ColorRef want = keyed && sx % 3 == 2 ? kGreen : colour(sx, sy);
            ASSERT_EQ(target.GetPixel(x, y), want) << k.sw << "->" << k.dw << " keyed " << keyed << " at " << x
                                                   << "," << y;
          }
      }
  }
}

TEST(StagePixelLoops, KeyedCopy32ChecksEveryChannelRange) {
  // 0xFFRRGGBB words; ranges R 0x10-0x20, G 0x30-0x40, B 0x50-0x60.
  const uint32_t src[5] = {0xFF183858, 0xFF0F3858, 0xFF184158, 0xFF183861, 0xFF204050};
  uint32_t dst[5] = {1, 2, 3, 4, 5};
  loops::KeyedCopy32(reinterpret_cast<uint8_t*>(dst), 20, reinterpret_cast<const uint8_t*>(src), 20, 5, 1,
                     {0x10, 0x20, 0x30, 0x40, 0x50, 0x60});
  EXPECT_EQ(dst[0], 1u);           // inside all three: transparent
  EXPECT_EQ(dst[1], 0xFF0F3858u);  // red one below
  EXPECT_EQ(dst[2], 0xFF184158u);  // green one above
  EXPECT_EQ(dst[3], 0xFF183861u);  // blue one above
  EXPECT_EQ(dst[4], 5u);           // on the upper and lower bounds
  // The same pixels over a row long enough for the eight-pixel groups.
  uint32_t wideSrc[21], wideDst[21];
  for (int i = 0; i < 21; ++i) wideSrc[i] = src[i % 5], wideDst[i] = uint32_t(100 + i);
  loops::KeyedCopy32(reinterpret_cast<uint8_t*>(wideDst), 84, reinterpret_cast<const uint8_t*>(wideSrc), 84, 21, 1,
                     {0x10, 0x20, 0x30, 0x40, 0x50, 0x60});
  for (int i = 0; i < 21; ++i) {
    const bool clear = i % 5 == 0 || i % 5 == 4;
    EXPECT_EQ(wideDst[i], clear ? uint32_t(100 + i) : wideSrc[i]) << i;
  }
}

// The 32-bit keyed copy and stretches against a pixel-by-pixel model, for
// single-colour keys (a mask and a compare) and ranges (clamping), rows that
// end inside a group of eight, reductions (read one by one) and rows longer
// than one chunk of the column map.
TEST(StagePixelLoops, Keyed32LoopsMatchAPixelModel) {
  struct Case {
    const char* what;
    int sw, sh, dw, dh, from;  // `from`: first destination column of a clipped draw
    loops::KeyRanges key;
  };
  const loops::KeyRanges single{0x20, 0x20, 0x40, 0x40, 0x60, 0x60};
  const loops::KeyRanges ranges{0x1C, 0x24, 0x3C, 0x44, 0x5C, 0x64};
  const Case cases[] = {
      {"same size, single colour", 37, 5, 37, 5, 0, single},
      {"same size, ranges", 37, 5, 37, 5, 0, ranges},
      {"enlarged 2/3, single colour", 26, 4, 39, 6, 0, single},
      {"enlarged, ranges, clipped", 30, 3, 95, 7, 13, ranges},
      {"reduced: every column read alone", 50, 4, 21, 3, 0, single},
      {"near 1:1, the last group short", 31, 2, 33, 2, 0, ranges},
      {"longer than a chunk of the column map", 1500, 2, 2600, 3, 0, single},
      {"clipped far into a long row", 1500, 2, 4100, 2, 2100, ranges},
  };
  auto transparent = [](uint32_t p, const loops::KeyRanges& k) {
    const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    return r >= k.redMin && r <= k.redMax && g >= k.greenMin && g <= k.greenMax && b >= k.blueMin && b <= k.blueMax;
  };
  for (const Case& k : cases) {
    // Near-key values in every channel, and an unused byte that is not always
    // 0xFF: the key ignores it.
    std::vector<uint32_t> src(size_t(k.sw) * k.sh);
    for (int i = 0; i < int(src.size()); ++i) {
      const uint32_t x = uint32_t(i % 9);
      const uint32_t top = i % 5 == 0 ? 0x00000000u : 0xFF000000u;
      src[size_t(i)] = top | (x == 0 ? 0x204060u : x == 1 ? 0x1C3C5Cu : x == 2 ? 0x214060u : x == 3 ? 0x203F60u
                                                       : x == 4 ? 0x204065u : 0x100000u * x + uint32_t(i & 0xFFFF));
    }
    const int w = k.dw - k.from;
    std::vector<int32_t> cols(static_cast<size_t>(w)), rows(static_cast<size_t>(k.dh));
    BuildStretchMap(0, k.sw, k.dw, k.from, w, cols.data());
    BuildStretchMap(0, k.sh, k.dh, 0, k.dh, rows.data());
    const bool stretched = k.sw != k.dw || k.sh != k.dh;
    for (int mode = 0; mode < 2; ++mode) {  // 0 keyed, 1 plain stretch
      if (mode == 1 && !stretched) continue;
      std::vector<uint32_t> dst(size_t(w) * k.dh), want(size_t(w) * k.dh);
      for (size_t i = 0; i < dst.size(); ++i) dst[i] = want[i] = 0xAB000000u + uint32_t(i);
      for (int y = 0; y < k.dh; ++y)
        for (int x = 0; x < w; ++x) {
          const uint32_t p = src[size_t(rows[size_t(y)]) * k.sw + size_t(cols[size_t(x)])];
          if (mode == 1 || !transparent(p, k.key)) want[size_t(y) * w + x] = p;
        }
      auto* d = reinterpret_cast<uint8_t*>(dst.data());
      const auto* sp = reinterpret_cast<const uint8_t*>(src.data());
      if (!stretched)
        loops::KeyedCopy32(d, w * 4, sp, k.sw * 4, w, k.dh, k.key);
      else if (mode == 0)
        loops::StretchKeyed32(d, w * 4, sp, k.sw * 4, cols.data(), w, rows.data(), k.dh, k.key);
      else
        loops::Stretch32(d, w * 4, sp, k.sw * 4, cols.data(), w, rows.data(), k.dh);
      for (size_t i = 0; i < dst.size(); ++i)
        ASSERT_EQ(dst[i], want[i]) << k.what << (mode ? " (plain)" : " (keyed)") << " at " << i % size_t(w) << ","
                                   << i / size_t(w);
    }
  }
}

TEST(StagePixelLoops, KeyedCopy16ExpandsBeforeComparing) {
  // 0xF81F: R (0xF8), G (0x00), B (0xF8); 0x07E0: G 0xFC.
  const uint16_t src[3] = {0xF81F, 0x07E0, 0xFFDE};
  uint16_t dst[3] = {1, 2, 3};
  loops::KeyedCopy16(reinterpret_cast<uint8_t*>(dst), 6, reinterpret_cast<const uint8_t*>(src), 6, 3, 1,
                     {0xF0, 0xFF, 0x00, 0x08, 0xF0, 0xFF});
  EXPECT_EQ(dst[0], 1);
  EXPECT_EQ(dst[1], 0x07E0);
  EXPECT_EQ(dst[2], 0xFFDE);
  loops::KeyedCopyExact16(reinterpret_cast<uint8_t*>(dst), 6, reinterpret_cast<const uint8_t*>(src), 6, 3, 1,
                          0xFFDE);
  EXPECT_EQ(dst[0], 0xF81F);
  EXPECT_EQ(dst[2], 0xFFDE);  // kept from before: the key pixel is not written
}

TEST(StagePixelLoops, ConversionsToBothFormats) {
  // 24-bit B, G, R = 0x10, 0x20, 0x30: XRGB 0xFF302010; 5-6-5 (0x30 & 0xF8) << 8 |
  // (0x20 & 0xFC) << 3 | 0x10 >> 3 = 0x3000 | 0x0100 | 0x0002.
  const uint8_t bgr[3] = {0x10, 0x20, 0x30};
  uint32_t p32;
  uint16_t p16;
  loops::Convert24To32(reinterpret_cast<uint8_t*>(&p32), 4, bgr, 3, 1, 1);
  loops::Convert24To16(reinterpret_cast<uint8_t*>(&p16), 2, bgr, 3, 1, 1);
  EXPECT_EQ(p32, 0xFF302010u);
  EXPECT_EQ(p16, 0x3102);
  struct Case16 {
    uint16_t in;
    bool is565;
    uint32_t want32;
    uint16_t want16;
  };
  const Case16 cases[] = {
      {0x7FFF, false, 0xFFF8F8F8, 0xFFDF},  // 5-5-5 white: green 11111 becomes 111110
      {0x03E0, false, 0xFF00F800, 0x07C0},
      {0x7C00, false, 0xFFF80000, 0xF800},
      {0x07E0, true, 0xFF00FC00, 0x07E0},
      {0x001F, true, 0xFF0000F8, 0x001F},
  };
  for (const Case16& k : cases) {
    const uint8_t in[2] = {uint8_t(k.in), uint8_t(k.in >> 8)};
    if (k.is565) {
      loops::Convert565To32(reinterpret_cast<uint8_t*>(&p32), 4, in, 2, 1, 1);
      p16 = uint16_t(in[0] | in[1] << 8);
    } else {
      loops::Convert555To32(reinterpret_cast<uint8_t*>(&p32), 4, in, 2, 1, 1);
      loops::Convert555To16(reinterpret_cast<uint8_t*>(&p16), 2, in, 2, 1, 1);
    }
    EXPECT_EQ(p32, k.want32) << std::hex << k.in;
    EXPECT_EQ(p16, k.want16) << std::hex << k.in;
  }
  // A row long enough for the four-pixel shuffles: pixel i is B i, G 2i, R 3i.
  uint8_t row[23 * 3];
  for (int i = 0; i < 23; ++i) row[3 * i] = uint8_t(i), row[3 * i + 1] = uint8_t(2 * i), row[3 * i + 2] = uint8_t(3 * i);
  uint32_t wide[23];
  loops::Convert24To32(reinterpret_cast<uint8_t*>(wide), sizeof wide, row, sizeof row, 23, 1);
  for (uint32_t i = 0; i < 23; ++i) EXPECT_EQ(wide[i], 0xFF000000u | (3 * i) << 16 | (2 * i) << 8 | i) << i;
  const uint8_t bgrx[4] = {0x10, 0x20, 0x30, 0x00};
  loops::Convert32To32(reinterpret_cast<uint8_t*>(&p32), 4, bgrx, 4, 1, 1);
  EXPECT_EQ(p32, 0xFF302010u);
}

TEST(StagePixelBuffer, StrideIsAlignedTo64AndRowsAreTopDown) {
  struct Case {
    int width;
    PixelFormat format;
    ptrdiff_t stride;
  };
  for (const Case& k : {Case{1, PixelFormat::kXrgb32, 64}, Case{16, PixelFormat::kXrgb32, 64},
                        Case{17, PixelFormat::kXrgb32, 128}, Case{33, PixelFormat::kRgb565, 128}}) {
    PixelBuffer b(k.width, 3, k.format);
    EXPECT_EQ(b.Stride(), k.stride) << k.width;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b.Data()) % 64, 0u);
    b.SetPixel(0, 2, kRed);
    EXPECT_EQ(b.Row(2), b.At(0, 2));
    EXPECT_EQ(b.GetPixel(0, 2), kRed);
  }
  EXPECT_TRUE(PixelBuffer(0, 5).IsNull());
  EXPECT_TRUE(PixelBuffer(40000, 1).IsNull());
}

}  // namespace
}  // namespace kv
