// The format dispatch, size limits and hand-built PCX and TGA pictures,
// each byte derived from the format's header layout.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "imaging/picture_codec.h"
#include "tests/imaging/pixels.h"
#include "tests/imaging/png_bytes.h"

namespace kv::imaging {
namespace {

using test::Be32;
using test::PngChunk;
using test::Rgb;

using Bytes = std::vector<uint8_t>;

void Le16(Bytes& b, uint32_t v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); }
void Le32(Bytes& b, uint32_t v) { Le16(b, v & 0xFFFF), Le16(b, v >> 16); }

// PCX header: 0x0A, version 5, RLE 1, bits per plane; window 0,0 to w-1,h-1;
// 72 dpi; 16-entry palette at 16; planes at 65; bytes per line at 66.
Bytes PcxHeader(int bits, int planes, int w, int h, int bytesPerLine) {
  Bytes b(128, 0);
  b[0] = 0x0A, b[1] = 5, b[2] = 1, b[3] = uint8_t(bits);
  b[8] = uint8_t(w - 1), b[9] = uint8_t((w - 1) >> 8), b[10] = uint8_t(h - 1), b[11] = uint8_t((h - 1) >> 8);
  b[65] = uint8_t(planes);
  b[66] = uint8_t(bytesPerLine), b[67] = uint8_t(bytesPerLine >> 8);
  return b;
}

// TGA header: id length 0, map type, image type, map first, map length, map
// entry bits, origin 0,0, width, height, depth, descriptor.
Bytes TgaHeader(int mapType, int type, int first, int length, int entryBits, int w, int h, int depth, int desc) {
  Bytes b = {0, uint8_t(mapType), uint8_t(type)};
  Le16(b, uint32_t(first)), Le16(b, uint32_t(length)), b.push_back(uint8_t(entryBits));
  Le32(b, 0), Le16(b, uint32_t(w)), Le16(b, uint32_t(h)), b.push_back(uint8_t(depth)), b.push_back(uint8_t(desc));
  return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}


TEST(ImagingCodec, TypeComesFromTheContentAndTgaFromTheName) {
  struct Case {
    Bytes bytes;
    const char* name;
    FileType type;
  };
  const Bytes junk = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const Case cases[] = {
      {{'B', 'M', 0, 0}, "a.tga", FileType::kBmp},
      {{'G', 'I', 'F', '8', '9', 'a'}, "a", FileType::kGif},
      {{'G', 'I', 'F', '8', '7', 'a'}, "a", FileType::kGif},
      {{0xFF, 0xD8, 0xFF, 0xE0}, "a.bmp", FileType::kJpeg},
      {{'I', 'I', '*', 0}, "a", FileType::kTiff},
      {{'M', 'M', 0, '*'}, "a", FileType::kTiff},
      {{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, "a", FileType::kPng},
      {PcxHeader(8, 1, 1, 1, 2), "a", FileType::kPcx},
      {junk, "PICTURE.TGA", FileType::kTga},
      {junk, "picture.tga", FileType::kTga},
      {junk, "picture.bmp", FileType::kUnknown},
      {{}, "empty.jpg", FileType::kUnknown},
  };
  for (const Case& c : cases) EXPECT_EQ(DetectType(c.bytes, c.name), c.type) << c.name;
}

TEST(ImagingCodec, EveryDecoderRefusesASideOver16384BeforeReadingPixels) {
  // Each header declares 16385 x 1 and no pixel data follows.
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  Le16(gif, 16385), Le16(gif, 1), gif.insert(gif.end(), {0, 0, 0});  // screen, no colour table
  gif.push_back(0x2C), Le16(gif, 0), Le16(gif, 0), Le16(gif, 16385), Le16(gif, 1), gif.push_back(0);  // frame
  gif.push_back(2);  // LZW minimum code size, read with the frame header
  // JPEG: SOI; SOF0 of length 11, 8 bits, height 1, width 0x4001, one
  // component (id 1, sampling 1x1, table 0); SOS of length 8 for it.
  const Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, 1, 0x40, 0x01, 1, 1, 0x11, 0,
                      0xFF, 0xDA, 0, 8,    1, 1,  0, 0, 63, 0};
  // TIFF: little-endian header, first directory at 8 with seven entries
  // (tag, type 3 short or 4 long, count 1, value), next directory 0.
  Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
  Le16(tiff, 7);
  for (const auto& [tag, type, value] : {std::tuple{256, 4, 16385}, {257, 3, 1}, {258, 3, 8}, {262, 3, 1},
                                        {273, 4, 8}, {277, 3, 1}, {279, 4, 16385}}) {
    Le16(tiff, uint32_t(tag)), Le16(tiff, uint32_t(type)), Le32(tiff, 1), Le32(tiff, uint32_t(value));
  }
  Le32(tiff, 0);
  // PNG: signature, IHDR (16385 x 1, 8-bit RGB) and an empty IDAT, each chunk
  // closed by the CRC of its type and data.
  Bytes png = test::PngSignature();
  Bytes ihdr;
  Be32(ihdr, 16385), Be32(ihdr, 1), ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  PngChunk(png, "IHDR", ihdr);
  PngChunk(png, "IDAT", {});
  struct Case {
    const char* what;
    Bytes bytes;
    FileType type;
  };
  const Case cases[] = {
      {"PCX", PcxHeader(8, 1, 16385, 1, 16386), FileType::kPcx},
      {"TGA", TgaHeader(0, 2, 0, 0, 0, 16385, 1, 24, 0), FileType::kTga},
      {"GIF", gif, FileType::kGif},
      {"JPEG", jpeg, FileType::kJpeg},
      {"TIFF", tiff, FileType::kTiff},
      {"PNG", png, FileType::kPng},
  };
  for (const Case& c : cases) {
    Picture pic;
    const Outcome outcome = Decode(c.bytes, c.type, pic);
    EXPECT_EQ(outcome.error, PicError::kTooLarge) << c.what << ": " << outcome.detail;
  }
}

TEST(ImagingCodec, HandBuiltPcxAndTga) {
  struct Case {
    const char* what;
    Bytes bytes;
    FileType type;
    std::vector<uint32_t> rgb;  // 0xRRGGBB, top row first
  };
  // EGA: 8 x 1 in four 1-bit planes, palette entry i = (16 i, 0, 255 - 16 i).
  // Planes 0x81, 0x00, 0x80, 0x01: pixel 0 has planes 0 and 2 (index 5),
  // pixel 7 planes 0 and 3 (index 9), the rest index 0 (0, 0, 255). All bytes are below
  // 0xC0, so they stand for themselves.
  Bytes ega = PcxHeader(1, 4, 8, 1, 1);
  for (int i = 0; i < 16; ++i) ega[size_t(16 + 3 * i)] = uint8_t(16 * i), ega[size_t(18 + 3 * i)] = uint8_t(255 - 16 * i);
  ega.insert(ega.end(), {0x81, 0x00, 0x80, 0x01});
  // 8 bits, 3 x 2, no palette at the end (grey levels): 0xC5 0x07 is a run of
  // five 7s running on into the second line, then a literal 2.
  const Bytes run = Cat(PcxHeader(8, 1, 3, 2, 3), {0xC5, 0x07, 0x02});
  // Colour map starting at index 2 with two 15-bit entries: 0x7C00 is red 31
  // (0xF8 after shifting), 0x001F blue 31. Pixels 2, 3, 0 in one top-down row;
  // index 0 has no entry and reads as black.
  const Bytes mapped = Cat(TgaHeader(1, 1, 2, 2, 15, 3, 1, 8, 0x20), {0x00, 0x7C, 0x1F, 0x00, 2, 3, 0});
  // RLE true colour 2 x 2: one packet 0x83 (a run of four) of B, G, R = 1, 2, 3
  // covers both rows.
  const Bytes rle = Cat(TgaHeader(0, 10, 0, 0, 0, 2, 2, 24, 0), {0x83, 1, 2, 3});
  // Raw 2 x 2 bottom-up and right-to-left (descriptor 0x10): the file's first
  // pixel is the bottom right one.
  const Bytes mirrored = Cat(TgaHeader(0, 3, 0, 0, 0, 2, 2, 8, 0x10), {10, 20, 30, 40});
  // Grey with 8 alpha bits (16-bit pixels: grey, then alpha), 2 x 2 top-down
  // (descriptor 0x28): the alpha bytes 0x00 and 0xFF change nothing.
  const Bytes greyAlpha = Cat(TgaHeader(0, 3, 0, 0, 0, 2, 2, 16, 0x28), {10, 0x00, 20, 0xFF, 30, 0x80, 40, 0x01});
  // The same as runs (type 11), bottom-up: a run of three (0x82) of grey 7 with
  // alpha 0x55, then a literal packet (0x00) of grey 9; the file's last pixel is
  // the top row's right one.
  const Bytes greyAlphaRle = Cat(TgaHeader(0, 11, 0, 0, 0, 2, 2, 16, 0x08), {0x82, 7, 0x55, 0x00, 9, 0xAA});
  const Case cases[] = {
      {"PCX EGA planes", ega, FileType::kPcx, {0x5000AF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x90006F}},
      {"PCX run across lines", run, FileType::kPcx, {0x070707, 0x070707, 0x070707, 0x070707, 0x070707, 0x020202}},
      {"TGA map from index 2", mapped, FileType::kTga, {0xF80000, 0x0000F8, 0}},
      {"TGA run over rows", rle, FileType::kTga, {0x030201, 0x030201, 0x030201, 0x030201}},
      {"TGA right to left", mirrored, FileType::kTga, {0x282828, 0x1E1E1E, 0x141414, 0x0A0A0A}},
      {"TGA grey with alpha", greyAlpha, FileType::kTga, {0x0A0A0A, 0x141414, 0x1E1E1E, 0x282828}},
      {"TGA grey with alpha in runs", greyAlphaRle, FileType::kTga, {0x070707, 0x090909, 0x070707, 0x070707}},
  };
  for (const Case& c : cases) {
    Picture pic;
    const Outcome outcome = Decode(c.bytes, c.type, pic);
    ASSERT_TRUE(outcome) << c.what << ": " << outcome.detail;
    EXPECT_EQ(Rgb(pic), c.rgb) << c.what;
  }
}

TEST(ImagingCodec, PicturesThatDecodeToNothingAreErrors) {
  struct Case {
    const char* what;
    Bytes bytes;
    FileType type;
  };
  const Case cases[] = {
      {"JPEG with only a start marker", {0xFF, 0xD8, 0xFF}, FileType::kJpeg},
      {"JPEG without pixels", {0xFF, 0xD8, 0xFF, 0xD9}, FileType::kJpeg},
      {"empty JPEG", {}, FileType::kJpeg},
      {"GIF without a frame", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}, FileType::kGif},
      {"TGA header only", TgaHeader(0, 2, 0, 0, 0, 1, 1, 24, 0), FileType::kTga},
      {"PCX with an empty window", Cat(PcxHeader(8, 1, 1, 1, 2), {}), FileType::kPcx},
      // The colour table right behind the header: no pixels, not grey ones
      // read from the table's bytes.
      {"PCX of a colour table alone", Cat(PcxHeader(8, 1, 1, 1, 2), Cat({0x0C}, Bytes(768, 0x10))), FileType::kPcx},
      {"unknown", {1, 2, 3}, FileType::kUnknown},
  };
  for (const Case& c : cases) {
    Picture pic;
    EXPECT_FALSE(Decode(c.bytes, c.type, pic)) << c.what;
    EXPECT_EQ(pic.pixels.bits.size(), 0u) << c.what;
  }
}

TEST(ImagingCodec, GifKeepsItsTransparentIndex) {
  Picture pic;
  ASSERT_TRUE(DecodeFile(std::string(KV_PICTURES_DIR) + "/gif_transparent.gif", pic));
  EXPECT_EQ(pic.transparentIndex, 3);
  ASSERT_TRUE(DecodeFile(std::string(KV_PICTURES_DIR) + "/gif_plain.gif", pic));
  EXPECT_EQ(pic.transparentIndex, -1);
}

TEST(ImagingCodec, AMissingFileCannotBeOpened) {
  Picture pic;
  EXPECT_EQ(DecodeFile("/nonexistent/picture.bmp", pic).error, PicError::kCannotOpen);
}

}  // namespace
}  // namespace kv::imaging
