// Our encoders' files read back by Pillow: the same pixels (JPEG within its
// loss), the compression and quality asked for, and saves that never leave a
// half-written file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imaging/picture_codec.h"
#include "tests/imaging/pixels.h"

namespace kv::imaging {
namespace {

namespace fs = std::filesystem;
using test::Rgb;

// 37 x 23 (odd, so rows need padding) in each depth the library hands over.
DecodedPicture Source(int bits, Layout16 layout = Layout16::k555) {
  DecodedPicture pic;
  pic.width = 37;
  pic.height = 23;
  pic.bitsPerPixel = bits;
  pic.layout16 = layout;
  pic.stride = ptrdiff_t((37 * bits + 31) / 32 * 4);
  pic.bits.resize(size_t(pic.stride) * 23);
  for (int i = 0; i < 256 && bits == 8; ++i)
    pic.colorTable.push_back(ColorRef::FromRgb(uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)));
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) {
      uint8_t* p = &pic.bits[size_t(y * pic.stride + x * bits / 8)];
      const uint32_t v = uint32_t(x * 7 + y * 131 + (x * y) * 3);
      if (bits == 8) p[0] = uint8_t(v);
      if (bits == 16) p[0] = uint8_t(v), p[1] = uint8_t((v >> 8) & 0x7F);
      if (bits >= 24) p[0] = uint8_t(x * 7), p[1] = uint8_t(y * 11), p[2] = uint8_t(v);
      if (bits == 32) p[3] = 0;  // the unused byte, which no encoder may take for alpha
    }
  return pic;
}

struct Written {
  std::string file;
  std::vector<uint32_t> expected;
  int tolerance = 0;
  std::string compression;  // as Pillow names it; empty: not checked
  int quant0 = -1;          // first luminance quantiser; -1: not checked
  int shift = 0;            // 16-bit files: only the top five bits of a channel count
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ImagingEncode : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) / ("kv_encode_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Lossy files are held to what our own decoder reads from them.
  void Write(const std::string& name, const DecodedPicture& pic, FileType type, const EncodeOptions& options,
             std::string compression = {}, int quant0 = -1) {
    const std::string path = (dir_ / name).string();
    const Outcome outcome = EncodeFile(pic.View(), type, path, options);
    ASSERT_TRUE(outcome) << name << ": " << outcome.detail;
    Written w{name, Rgb(pic.View()), 0, std::move(compression), quant0};
    Picture back;
    ASSERT_TRUE(DecodeFile(path, back)) << name;
    if (type == FileType::kJpeg) w.expected = Rgb(back), w.tolerance = 2;
    if (back.pixels.bitsPerPixel == 16) w.shift = 3;
    written_.push_back(std::move(w));
  }

  // One Pillow run reads every file written.
  void CheckAll() {
    std::string command = "/usr/bin/python3 " KV_SOURCE_DIR "/tests/imaging/read_pictures.py";
    for (const Written& w : written_) command += " " + (dir_ / w.file).string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (const Written& w : written_) {
      SCOPED_TRACE(w.file);
      const std::vector<uint8_t> ref = ReadAll((dir_ / (w.file + ".ref")).string());
      ASSERT_EQ(ref.size(), 8 + w.expected.size() * 3);
      int worst = 0;
      for (size_t i = 0; i < w.expected.size(); ++i)
        for (int k = 0; k < 3; ++k)
          worst = std::max(worst, std::abs(int(ref[8 + 3 * i + size_t(k)] >> w.shift) -
                                           int((w.expected[i] >> (16 - 8 * k) & 0xFF) >> w.shift)));
      EXPECT_LE(worst, w.tolerance);
      std::ifstream info(dir_ / (w.file + ".info"));
      std::string format, compression;
      int quant0 = 0;
      info >> format >> compression >> quant0;
      if (!w.compression.empty()) {
        EXPECT_EQ(compression, w.compression);
      }
      if (w.quant0 >= 0) {
        EXPECT_EQ(quant0, w.quant0);
      }
    }
  }

  fs::path dir_;
  std::vector<Written> written_;
};

TEST_F(ImagingEncode, PillowReadsBackWhatEachEncoderWrote) {
  const DecodedPicture depths[] = {Source(8), Source(16), Source(16, Layout16::k565), Source(24), Source(32)};
  const std::pair<FileType, const char*> lossless[] = {
      {FileType::kBmp, "bmp"}, {FileType::kPcx, "pcx"}, {FileType::kTga, "tga"}, {FileType::kPng, "png"},
      {FileType::kTiff, "tif"}};
  for (const DecodedPicture& pic : depths)
    for (const auto& [type, ext] : lossless)
      Write("d" + std::to_string(pic.bitsPerPixel) + (pic.layout16 == Layout16::k565 ? "_565." : ".") + ext, pic,
            type, {});
  Write("palette.gif", depths[0], FileType::kGif, {});
  // Compression option values are the TIFF Compression tag.
  const std::pair<int, const char*> compressions[] = {
      {1, "raw"}, {5, "tiff_lzw"}, {8, "tiff_adobe_deflate"}, {32773, "packbits"}};
  for (const auto& [tag, name] : compressions) {
    EncodeOptions o;
    o.tiffCompression = tag;
    Write(std::string("c_") + name + ".tif", depths[3], FileType::kTiff, o, name);
  }
  // libjpeg scales the standard luminance table (first entry 16) by
  // 5000 / q percent below 50 and 200 - 2q percent from 50: q 80 gives 40%,
  // 6; q 50 gives 16; q 10 gives 500%, 80.
  for (const auto& [quality, quant0] : {std::pair{80, 6}, {50, 16}, {10, 80}}) {
    EncodeOptions o;
    o.jpegQuality = quality;
    Write("q" + std::to_string(quality) + ".jpg", depths[3], FileType::kJpeg, o, {}, quant0);
  }
  CheckAll();
}

TEST(ImagingEncodeBytes, HeadersAndRunsAsTheFormatsLayThemOut) {
  // 2 x 1 at 24 bits: B, G, R of red then blue, padded to 8 bytes.
  DecodedPicture rgb;
  rgb.width = 2, rgb.height = 1, rgb.bitsPerPixel = 24, rgb.stride = 8;
  rgb.bits = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0, 0};
  std::vector<uint8_t> bmp;
  ASSERT_TRUE(Encode(rgb.View(), FileType::kBmp, bmp));
  const std::vector<uint8_t> expectedBmp = {
      'B', 'M', 62, 0, 0, 0,  // file size 14 + 40 + 8
      0, 0, 0, 0,             // reserved
      54, 0, 0, 0,            // pixels follow both headers
      40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0,  // header size, width 2, height 1 (bottom-up)
      1, 0, 24, 0, 0, 0, 0, 0,              // one plane, 24 bits, no compression
      8, 0, 0, 0,                           // pixel bytes
      0x13, 0x0B, 0, 0, 0x13, 0x0B, 0, 0,   // 2835 pixels per metre (72 dpi) both ways
      0, 0, 0, 0, 0, 0, 0, 0,               // colours used and important: none
      0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0, 0};
  EXPECT_EQ(bmp, expectedBmp);

  // PCX run-length: 70 pixels of index 5 in an 8-bit 70 x 1 picture are runs
  // of 63 (0xFF, 5) and 7 (0xC7, 5); index 0xC5 alone must be escaped as a
  // run of one (0xC1, 0xC5); the even line length adds one byte of index 0.
  DecodedPicture indexed;
  indexed.width = 71, indexed.height = 1, indexed.bitsPerPixel = 8, indexed.stride = 72;
  indexed.bits.assign(72, 5);
  indexed.bits[70] = 0xC5;
  indexed.colorTable.assign(256, ColorRef());
  std::vector<uint8_t> pcx;
  ASSERT_TRUE(Encode(indexed.View(), FileType::kPcx, pcx));
  ASSERT_EQ(pcx.size(), 128u + 7 + 769);
  EXPECT_EQ(std::vector<uint8_t>(pcx.begin() + 128, pcx.begin() + 135),
            (std::vector<uint8_t>{0xFF, 5, 0xC7, 5, 0xC1, 0xC5, 0}));
  EXPECT_EQ(pcx[66], 72);  // bytes per line, even
  EXPECT_EQ(pcx[135], 0x0C);  // the colour table's marker

  // TGA: no id, no map, type 2, origin 0,0, 2 x 1, 24 bits, top-left origin
  // (0x20); B, G, R pixels; then the version 2 footer.
  std::vector<uint8_t> tga;
  ASSERT_TRUE(Encode(rgb.View(), FileType::kTga, tga));
  const std::vector<uint8_t> head = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 1, 0, 24, 0x20,
                                     0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(tga.begin(), tga.begin() + 24), head);
  EXPECT_EQ(std::string(tga.end() - 18, tga.end() - 1), "TRUEVISION-XFILE.");
}

TEST_F(ImagingEncode, GifWritesItsTransparentIndexBack) {
  EncodeOptions o;
  o.gifTransparentIndex = 7;
  const std::string path = (dir_ / "t.gif").string();
  ASSERT_TRUE(EncodeFile(Source(8).View(), FileType::kGif, path, o));
  Picture back;
  ASSERT_TRUE(DecodeFile(path, back));
  EXPECT_EQ(back.transparentIndex, 7);
  EXPECT_EQ(Rgb(back), Rgb(Source(8).View()));
}

TEST_F(ImagingEncode, AFailedSaveLeavesTheOldFileAlone) {
  const std::string path = (dir_ / "keep.bmp").string();
  ASSERT_TRUE(EncodeFile(Source(24).View(), FileType::kBmp, path));
  const std::vector<uint8_t> before = ReadAll(path);
  struct Case {
    const char* what;
    DecodedPicture pic;
    FileType type;
    EncodeOptions options;
    PicError error;
  };
  EncodeOptions badTiff;
  badTiff.tiffCompression = 4;  // CCITT group 4 needs a 1-bit picture
  Case cases[] = {
      {"24 bits as GIF", Source(24), FileType::kGif, {}, PicError::kUnsupported},
      {"unknown TIFF compression", Source(24), FileType::kTiff, badTiff, PicError::kUnsupported},
      {"no pixels", DecodedPicture{}, FileType::kPng, {}, PicError::kUnsupported},
      {"no format", Source(24), FileType::kUnknown, {}, PicError::kUnknownType},
  };
  for (Case& c : cases) {
    EXPECT_EQ(EncodeFile(c.pic.View(), c.type, path, c.options).error, c.error) << c.what;
    EXPECT_EQ(ReadAll(path), before) << c.what;
  }
  EXPECT_EQ(EncodeFile(Source(24).View(), FileType::kBmp, (dir_ / "no/such/dir.bmp").string()).error,
            PicError::kCannotWrite);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1) << "no temporary file left";
}

}  // namespace
}  // namespace kv::imaging
