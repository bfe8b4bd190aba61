// Cursor and icon files: hand-built files of each depth, the entry chosen,
// hostile files with the failure each must name, and files of every depth
// compared with the pixels Pillow's icon reader takes from them.
#include "imaging/cursor_file.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/imaging/png_bytes.h"

namespace kv::imaging {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Be32;

void Le16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Le32(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }

// A 2x2 1-bit cursor with its hotspot at (1, 0), one pixel of each
// AND/XOR pair.
const Bytes kMono = {
    0, 0, 2, 0, 1, 0,        // reserved 0, type 2 (cursor), one entry
    2, 2, 2, 0,              // 2 x 2, two colours, reserved
    1, 0, 0, 0,              // hotspot x 1, y 0 (the planes and bit-count fields)
    64, 0, 0, 0, 22, 0, 0, 0,  // 64 bytes of image (40 header + 8 table + 8 XOR + 8 AND) at 6 + 16 = 22
    40, 0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0,  // header size 40, width 2, height 2 doubled
    1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // one plane, 1 bit, uncompressed, no image size
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // resolution, colours used 0 (all 2), important
    0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0,  // table: 0 black, 1 white (B, G, R, 0)
    0x40, 0, 0, 0,  // XOR row y=1 (bottom-up first): pixel 0 index 0, pixel 1 index 1 -> 01xxxxxx
    0x80, 0, 0, 0,  // XOR row y=0: pixel 0 white, pixel 1 black -> 10xxxxxx
    0xC0, 0, 0, 0,  // AND row y=1: both 1
    0x00, 0, 0, 0,  // AND row y=0: both 0
};
// Opaque white, opaque black; below: AND 1 over black is transparent, AND 1
// over white would invert and shows opaque black.
const std::vector<uint32_t> kMonoArgb = {0xFFFFFFFF, 0xFF000000, 0x00000000, 0xFF000000};

// A 3x1 8-bit cursor with a table of three colours.
const Bytes kPal8 = {
    0, 0, 2, 0, 1, 0,          // cursor, one entry
    3, 1, 0, 0, 2, 0, 0, 0,    // 3 x 1, colour count 0, hotspot (2, 0)
    60, 0, 0, 0, 22, 0, 0, 0,  // 40 header + 12 table + 4 XOR + 4 AND = 60 bytes at 22
    40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0,  // width 3, height 1 doubled
    1, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // one plane, 8 bits, uncompressed
    0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0,  // colours used 3
    0, 0, 0, 0, 0x30, 0x20, 0x10, 0, 0xCC, 0xBB, 0xAA, 0,  // black, 0x102030, 0xAABBCC as B, G, R, 0
    2, 1, 0, 0,     // the row: indexes 2, 1, 0 and one byte of padding
    0x20, 0, 0, 0,  // AND: 0x80 is the first pixel, so 0x20 makes the third transparent
};

// A 1x2 24-bit cursor.
const Bytes kRgb24 = {
    0, 0, 2, 0, 1, 0,          // cursor, one entry
    1, 2, 0, 0, 0, 0, 1, 0,    // 1 x 2, hotspot (0, 1)
    56, 0, 0, 0, 22, 0, 0, 0,  // 40 header + 2 x 4 XOR + 2 x 4 AND = 56 bytes at 22
    40, 0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0,  // width 1, height 2 doubled
    1, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 24 bits, uncompressed
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x80, 0x01, 0xFE, 0,  // row y=1: B 0x80, G 0x01, R 0xFE, padding
    0x33, 0x22, 0x11, 0,  // row y=0: 0x112233
    0x80, 0, 0, 0,        // AND y=1: set over a non-black pixel (would invert)
    0x00, 0, 0, 0,        // AND y=0: opaque
};

// A 2x1 32-bit cursor; `alpha0` and `alpha1` are the pixels' alpha bytes.
Bytes Argb32(uint8_t alpha0, uint8_t alpha1, bool withMask = true) {
  Bytes b = {
      0, 0, 2, 0, 1, 0,          // cursor, one entry
      2, 1, 0, 0, 0, 0, 0, 0,    // 2 x 1, hotspot (0, 0)
      52, 0, 0, 0, 22, 0, 0, 0,  // 40 header + 8 XOR + 4 AND = 52 bytes at 22
      40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0,  // width 2, height 1 doubled
      1, 0, 32, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 32 bits, uncompressed
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      0x10, 0x20, 0x30, alpha0,  // B, G, R, A: 0x302010
      0xFF, 0xFF, 0xFF, alpha1,  // white
      0x40, 0, 0, 0,             // AND: the second pixel transparent
  };
  if (!withMask) {
    b.resize(b.size() - 4);
    b[14] = 48;  // the entry's byte count
  }
  return b;
}

// A PNG stream of one row of 8-bit RGBA pixels; IDAT holds one stored
// deflate block.
Bytes Png(uint32_t width, const Bytes& pixels) {
  Bytes png = test::PngSignature();
  auto chunk = [&png](const char* type, const Bytes& data) { test::PngChunk(png, type, data); };
  Bytes ihdr;
  Be32(ihdr, width), Be32(ihdr, 1), ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA
  chunk("IHDR", ihdr);
  Bytes raw = {0};  // filter type none
  raw.insert(raw.end(), pixels.begin(), pixels.end());
  // zlib header 0x78 0x01 (32K window, 0x7801 divisible by 31), a final
  // stored block: length and its complement, the bytes, Adler-32 of them.
  Bytes idat = {0x78, 0x01, 0x01, uint8_t(raw.size()), uint8_t(raw.size() >> 8), uint8_t(~raw.size()),
                uint8_t(~raw.size() >> 8)};
  idat.insert(idat.end(), raw.begin(), raw.end());
  Be32(idat, uint32_t(adler32(1, raw.data(), uInt(raw.size()))));
  chunk("IDAT", idat);
  chunk("IEND", {});
  return png;
}

// One entry of a directory: its directory sizes (256 written as 0), the two
// hotspot fields and the image.
struct Image {
  int width, height;
  uint16_t field4 = 0, field6 = 0;
  Bytes data;
};

Bytes Directory(uint16_t type, const std::vector<Image>& images) {
  Bytes b = {0, 0};
  Le16(b, type), Le16(b, uint32_t(images.size()));
  uint32_t offset = uint32_t(6 + 16 * images.size());
  for (const Image& i : images) {
    b.insert(b.end(), {uint8_t(i.width), uint8_t(i.height), 0, 0});
    Le16(b, i.field4), Le16(b, i.field6), Le32(b, uint32_t(i.data.size())), Le32(b, offset);
    offset += uint32_t(i.data.size());
  }
  for (const Image& i : images) b.insert(b.end(), i.data.begin(), i.data.end());
  return b;
}

// An opaque one-colour bitmap: header with the height doubled, rows of
// B, G, R (and 255 alpha at 32 bits) padded to four bytes, a zero AND mask.
Bytes SolidBitmap(int width, int height, int bits, uint32_t rgb) {
  Bytes b;
  Le32(b, 40), Le32(b, uint32_t(width)), Le32(b, uint32_t(2 * height)), Le16(b, 1), Le16(b, uint32_t(bits));
  b.resize(b.size() + 24, 0);
  const size_t stride = (size_t(width) * bits + 31) / 32 * 4, maskStride = (size_t(width) + 31) / 32 * 4;
  for (int y = 0; y < height; ++y) {
    Bytes row;
    for (int x = 0; x < width; ++x) {
      row.insert(row.end(), {uint8_t(rgb), uint8_t(rgb >> 8), uint8_t(rgb >> 16)});
      if (bits == 32) row.push_back(0xFF);
    }
    row.resize(stride, 0);
    b.insert(b.end(), row.begin(), row.end());
  }
  b.resize(b.size() + maskStride * size_t(height), 0);
  return b;
}

CursorImage MustDecode(const Bytes& bytes) {
  std::string error;
  const auto image = DecodeCursorFile(bytes, &error);
  if (!image) ADD_FAILURE() << error;
  return image.value_or(CursorImage{});
}

TEST(CursorFile, HandBuiltImagesOfEachDepth) {
  struct Case {
    const char* what;
    Bytes bytes;
    int width, height, hotX, hotY;
    std::vector<uint32_t> argb;
  };
  Bytes pngCursor = Directory(2, {{2, 1, 5, 7, Png(2, {0x10, 0x20, 0x30, 0xFF, 0xA0, 0xB0, 0xC0, 0x40})}});
  const Case cases[] = {
      {"1 bit with its mask", kMono, 2, 2, 1, 0, kMonoArgb},
      {"8-bit palette", kPal8, 3, 1, 2, 0, {0xFFAABBCC, 0xFF102030, 0x00000000}},
      {"24 bits", kRgb24, 1, 2, 0, 1, {0xFF112233, 0xFF000000}},
      // Alpha decides and the mask is ignored.
      {"32-bit alpha", Argb32(0x80, 0), 2, 1, 0, 0, {0x80302010, 0x00FFFFFF}},
      {"32-bit alpha without a mask", Argb32(0xFF, 0x01, false), 2, 1, 0, 0, {0xFF302010, 0x01FFFFFF}},
      // Every alpha 0: an image older than alpha; the mask decides.
      {"32 bits with no alpha", Argb32(0, 0), 2, 1, 0, 0, {0xFF302010, 0xFF000000}},
      // The hotspot (5, 7) lies outside the 2x1 image and is held at its edge.
      {"PNG", pngCursor, 2, 1, 1, 0, {0xFF102030, 0x40A0B0C0}},
      // An icon points with its centre; its directory fields are planes and bits.
      {"icon", Directory(1, {{2, 2, 1, 1, SolidBitmap(4, 2, 24, 0x123456)}}), 4, 2, 2, 1,
       std::vector<uint32_t>(8, 0xFF123456)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CursorImage image = MustDecode(c.bytes);
    EXPECT_EQ(image.width, c.width);
    EXPECT_EQ(image.height, c.height);
    EXPECT_EQ(image.hotX, c.hotX);
    EXPECT_EQ(image.hotY, c.hotY);
    EXPECT_EQ(image.argb, c.argb);
  }
}

TEST(CursorFile, ChoosesTheEntryClosestTo32) {
  struct Case {
    const char* what;
    std::vector<Image> images;
    uint32_t chosen;  // the colour of the entry expected
  };
  auto solid = [](int side, int bits, uint32_t rgb) { return Image{side, side, 0, 0, SolidBitmap(side, side, bits, rgb)}; };
  Image damaged32 = solid(32, 24, 0xDDDDDD);
  damaged32.data.resize(60);  // the rows cut short
  const Case cases[] = {
      {"exact size wins", {solid(16, 8, 0x111111), solid(48, 24, 0x222222), solid(32, 24, 0x333333)}, 0x333333},
      {"equally far: the larger", {solid(16, 24, 0x111111), solid(48, 24, 0x222222)}, 0x222222},
      {"nearer smaller beats farther larger", {solid(64, 24, 0x111111), solid(16, 24, 0x222222)}, 0x222222},
      {"0 in the directory is 256", {solid(256, 24, 0x111111), solid(128, 24, 0x222222)}, 0x222222},
      {"same size: the deeper", {solid(32, 8, 0x111111), solid(32, 32, 0x222222), solid(32, 24, 0x333333)}, 0x222222},
      {"same size and depth: the first", {solid(32, 24, 0x111111), solid(32, 24, 0x222222)}, 0x111111},
      {"a damaged best gives way", {damaged32, solid(16, 24, 0x222222)}, 0x222222},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CursorImage image = MustDecode(Directory(2, c.images));
    ASSERT_FALSE(image.argb.empty());
    EXPECT_EQ(image.argb[0], 0xFF000000 | c.chosen);
  }
}

Bytes Patched(Bytes b, size_t at, std::initializer_list<uint8_t> with) {
  std::copy(with.begin(), with.end(), b.begin() + ptrdiff_t(at));
  return b;
}

TEST(CursorFile, MalformedFilesNameTheirFault) {
  // Offsets into kMono: directory 0, entry 6, image 22 (its width at 26,
  // height 30, planes 34, bits 36, compression 38).
  Bytes cut = kMono;
  cut.resize(20);  // inside the entry
  Bytes shortMask = Patched(kMono, 14, {60});
  Bytes png = Directory(2, {{2, 1, 0, 0, Png(2, {1, 2, 3, 4, 5, 6, 7, 8})}});
  Bytes badCrc = png;
  badCrc[22 + 8 + 4 + 4 + 13] ^= 1;  // the IHDR CRC after signature, length, type and 13 bytes of data
  Bytes pngCut = png;
  pngCut.resize(pngCut.size() - 20);
  pngCut[14] = uint8_t(pngCut.size() - 22);
  struct Case {
    const char* what;
    Bytes bytes;
    std::string error;  // a PNG failure carries libpng's own text after this
  };
  const Case cases[] = {
      {"empty", {}, "not a cursor file"},
      {"shorter than the directory", {0, 0, 2, 0, 1}, "not a cursor file"},
      {"reserved word set", Patched(kMono, 0, {1}), "not a cursor file"},
      {"type 3", Patched(kMono, 2, {3}), "not a cursor file"},
      {"a BMP file", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "not a cursor file"},
      {"animated cursor without chunks", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'C', 'O', 'N'},
       "the animated cursor has no header"},
      {"no entries", Patched(kMono, 4, {0}), "the cursor file holds no images"},
      {"directory cut short", cut, "the cursor directory ends early"},
      {"offset past the end", Patched(kMono, 18, {0xFF}), "image data lies outside the file"},
      {"byte count past the end", Patched(kMono, 14, {65}), "image data lies outside the file"},
      {"header cut short", Patched(kMono, 14, {12}), "image data ends early"},
      {"mask cut short", shortMask, "image data ends early"},
      {"colour table cut short", Patched(kMono, 14, {44}), "image data ends early"},
      {"OS/2 header", Patched(kMono, 22, {12}), "the cursor image is neither a bitmap nor a PNG stream"},
      {"width 0", Patched(kMono, 26, {0}), "the cursor image has no pixels"},
      {"height 1 doubled", Patched(kMono, 30, {1}), "the cursor image has no pixels"},
      {"height negative", Patched(kMono, 30, {0xFC, 0xFF, 0xFF, 0xFF}), "the cursor image has no pixels"},
      {"width 257", Patched(kMono, 26, {1, 1}), "the cursor image is larger than 256x256"},
      {"height 257", Patched(kMono, 30, {2, 2}), "the cursor image is larger than 256x256"},
      {"two planes", Patched(kMono, 34, {2}), "the cursor image has a plane count other than 1"},
      {"16 bits", Patched(kMono, 36, {16}), "the cursor image has an unsupported bit count"},
      {"2 bits", Patched(kMono, 36, {2}), "the cursor image has an unsupported bit count"},
      {"RLE8", Patched(kMono, 38, {1}), "the cursor image is compressed"},
      {"PNG with a bad CRC", badCrc, "the PNG image is unreadable: "},
      {"PNG cut short", pngCut, "the PNG image is unreadable: "},
      {"PNG 257 wide", Directory(2, {{1, 1, 0, 0, Png(257, Bytes(257 * 4, 0))}}),
       "the cursor image is larger than 256x256"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    EXPECT_FALSE(DecodeCursorFile(c.bytes, &error));
    if (c.error.ends_with(": ")) {
      EXPECT_TRUE(error.starts_with(c.error)) << error;
      EXPECT_GT(error.size(), c.error.size());
    } else {
      EXPECT_EQ(error, c.error);
    }
  }
}

class CursorFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("kvcursor" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

// An animated cursor by the RIFF rules: "RIFF", the byte count after it,
// "ACON", then chunks (id, byte count, bytes, a pad byte to even length).
struct Ani {
  Bytes body;
  void Chunk(const char* id, const Bytes& data) {
    body.insert(body.end(), id, id + 4);
    Le32(body, uint32_t(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    if (data.size() & 1) body.push_back(0);
  }
  // anih: its size 36, frames, steps, width, height, bits, planes (unused
  // here), the default rate in sixtieths, the flags.
  void Header(uint32_t frames, uint32_t steps, uint32_t rate, uint32_t flags) {
    Bytes h;
    for (uint32_t v : {36u, frames, steps, 0u, 0u, 0u, 0u, rate, flags}) Le32(h, v);
    Chunk("anih", h);
  }
  void Words(const char* id, std::initializer_list<uint32_t> values) {
    Bytes b;
    for (uint32_t v : values) Le32(b, v);
    Chunk(id, b);
  }
  void Frames(const std::vector<Bytes>& icons) {
    Bytes list = {'f', 'r', 'a', 'm'};
    for (const Bytes& icon : icons) {
      list.insert(list.end(), {'i', 'c', 'o', 'n'});
      Le32(list, uint32_t(icon.size()));
      list.insert(list.end(), icon.begin(), icon.end());
      if (icon.size() & 1) list.push_back(0);
    }
    Chunk("LIST", list);
  }
  Bytes File() const {
    Bytes f = {'R', 'I', 'F', 'F'};
    Le32(f, uint32_t(body.size() + 4));
    f.insert(f.end(), {'A', 'C', 'O', 'N'});
    f.insert(f.end(), body.begin(), body.end());
    return f;
  }
};

TEST(AnimatedCursor, FramesAndStepsAsTheFileSays) {
  // Two frames (the 1-bit and the 8-bit cursor), three steps ordered 1, 0, 1,
  // timed 6, 12 and the default 3 sixtieths of a second.
  Ani a;
  a.Header(2, 3, 3, 3);
  a.Words("rate", {6, 12});
  a.Words("seq ", {1, 0, 1});
  a.Frames({kMono, kPal8});
  std::string error;
  const auto cursor = DecodeAnimatedCursor(a.File(), &error);
  ASSERT_TRUE(cursor) << error;
  ASSERT_EQ(cursor->frames.size(), 2u);
  EXPECT_EQ(cursor->frames[0].argb, kMonoArgb);
  EXPECT_EQ(cursor->frames[1].width, 3);
  ASSERT_EQ(cursor->steps.size(), 3u);
  const std::pair<size_t, int> steps[] = {{1, 100}, {0, 200}, {1, 50}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(cursor->steps[i].frame, steps[i].first) << i;
    EXPECT_EQ(cursor->steps[i].ms, steps[i].second) << i;
  }
  // The one-image reader gives the first step's frame.
  const auto first = DecodeCursorFile(a.File(), &error);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->width, 3);

  // Without a sequence the frames go in order; a rate of 0 lasts a sixtieth.
  Ani plain;
  plain.Header(2, 0, 0, 1);
  plain.Frames({kMono, kPal8});
  const auto inOrder = DecodeAnimatedCursor(plain.File(), &error);
  ASSERT_TRUE(inOrder) << error;
  ASSERT_EQ(inOrder->steps.size(), 2u);
  EXPECT_EQ(inOrder->steps[1].frame, 1u);
  EXPECT_EQ(inOrder->steps[0].ms, 17);

  // A still cursor is one frame shown by one step.
  const auto still = DecodeAnimatedCursor(kMono, &error);
  ASSERT_TRUE(still);
  EXPECT_EQ(still->frames.size(), 1u);
  EXPECT_EQ(still->steps.size(), 1u);
}

TEST(AnimatedCursor, MalformedFilesNameTheirFault) {
  auto with = [](auto build) {
    Ani a;
    build(a);
    return a.File();
  };
  const struct {
    const char* what;
    Bytes bytes;
    const char* error;
  } cases[] = {
      {"no header", with([](Ani& a) { a.Frames({kMono}); }), "the animated cursor has no header"},
      {"raw frames", with([](Ani& a) { a.Header(1, 1, 1, 0); a.Frames({kMono}); }),
       "animated cursor frames that are not icon resources are not supported"},
      {"no frames", with([](Ani& a) { a.Header(1, 1, 1, 1); }), "the animated cursor has no frames"},
      {"fewer frames than said", with([](Ani& a) { a.Header(2, 2, 1, 1); a.Frames({kMono}); }),
       "the animated cursor has fewer frames than its header says"},
      {"a step past the frames", with([](Ani& a) { a.Header(1, 2, 1, 3); a.Words("seq ", {0, 5}); a.Frames({kMono}); }),
       "an animated cursor step shows a frame it does not have"},
      {"too many frames", with([](Ani& a) { a.Header(300, 1, 1, 1); a.Frames({kMono}); }),
       "the animated cursor has too many frames"},
      {"a chunk past the end", [] { Ani a; a.Header(1, 1, 1, 1); Bytes f = a.File(); Le32(f, 0); f.insert(f.end() - 4, {'L', 'I', 'S', 'T'}); f[4] += 8; f.back() = 0x7F; return f; }(),
       "an animated cursor chunk lies outside the file"},
      {"a damaged frame", with([](Ani& a) { a.Header(1, 1, 1, 1); a.Frames({Bytes(kMono.begin(), kMono.begin() + 30)}); }),
       "image data lies outside the file"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(DecodeAnimatedCursor(c.bytes, &error)) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
}

TEST_F(CursorFileOnDisk, LoadsAndRefusesWhatItCannotRead) {
  std::ofstream(dir_ / "mono.cur", std::ios::binary).write(reinterpret_cast<const char*>(kMono.data()),
                                                            std::streamsize(kMono.size()));
  std::string error;
  const auto image = LoadCursorFile(dir_ / "mono.cur", &error);
  ASSERT_TRUE(image) << error;
  EXPECT_EQ(image->argb, kMonoArgb);

  std::filesystem::copy_file(dir_ / "mono.cur", dir_ / "huge.cur");
  std::filesystem::resize_file(dir_ / "huge.cur", kMaxCursorFileBytes + 1);
  struct Case {
    std::filesystem::path file;
    std::string error;
  };
  const Case cases[] = {
      {dir_ / "huge.cur", "the cursor file is too large"},
      {dir_ / "none.cur", "cannot read " + (dir_ / "none.cur").string() + ": no such file or directory"},
      {dir_, "cannot read " + dir_.string() + ": is a directory"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(LoadCursorFile(c.file, &error));
    EXPECT_EQ(error, c.error);
  }
}

// Files of every depth (make_cursors.py, run at build time) against the
// RGBA pixels Pillow's icon reader takes from them. Pillow keeps the colour
// of an AND-1 pixel under alpha 0; the decoder's rule turns a non-black one
// opaque black. Colours under alpha 0 are not compared.
TEST(CursorFile, MatchesPillow) {
  const std::string dir = KV_CURSORS_DIR;
  std::ifstream list(dir + "/cases.tsv");
  std::string line;
  int files = 0;
  while (std::getline(list, line)) {
    std::istringstream fields(line);
    std::string file, reference;
    int masked = 0, hotX = 0, hotY = 0;
    fields >> file >> reference >> masked >> hotX >> hotY;
    SCOPED_TRACE(file);
    ++files;
    std::string error;
    const auto image = LoadCursorFile(dir + "/" + file, &error);
    ASSERT_TRUE(image) << error;
    std::ifstream in(dir + "/" + reference, std::ios::binary);
    const Bytes ref{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GE(ref.size(), 8u);
    const int width = ref[0] | ref[1] << 8, height = ref[4] | ref[5] << 8;
    ASSERT_EQ(image->width, width);
    ASSERT_EQ(image->height, height);
    ASSERT_EQ(ref.size(), 8 + size_t(width) * height * 4);
    EXPECT_EQ(image->hotX, hotX);
    EXPECT_EQ(image->hotY, hotY);
    int mismatches = 0;
    for (size_t i = 0; i < size_t(width) * height; ++i) {
      const uint8_t* p = &ref[8 + 4 * i];
      uint32_t expected = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
      if (masked && p[3] == 0 && (expected & 0xFFFFFF)) expected = 0xFF000000;
      uint32_t ours = image->argb[i];
      if ((expected >> 24) == 0) ours &= 0xFF000000, expected &= 0xFF000000;
      if (ours != expected && mismatches++ < 3)
        ADD_FAILURE() << "pixel " << i % width << ", " << i / width << ": ours " << std::hex << image->argb[i]
                      << ", Pillow " << expected;
    }
    EXPECT_EQ(mismatches, 0);
  }
  EXPECT_GE(files, 11);
}

}  // namespace
}  // namespace kv::imaging
