// The picture object: loading by content with its last error and the old
// picture kept on failure, saves by type and by extension (quality, depth,
// TIFF option, resizing) read back by the library's decoders and checked at
// the header bytes each format lays down, pictures from bitmaps and their
// names, colour reduction, resizing and depth conversion by hand.
#include "imaging/picture_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/imaging/pixels.h"

namespace kv::imaging {
namespace {

namespace fs = std::filesystem;
using test::Rgb;

// A 2 x 1 BMP of 24 bits: red, then green.
const std::vector<uint8_t> kRedGreenBmp = {
    'B', 'M', 62, 0, 0, 0,  // file size: 14 + 40 + one row of 6 bytes padded to 8
    0, 0, 0, 0,             // reserved
    54, 0, 0, 0,            // bits follow the two headers: 14 + 40
    40, 0, 0, 0,            // information header size
    2, 0, 0, 0, 1, 0, 0, 0,  // width 2, height 1 (bottom-up)
    1, 0, 24, 0,            // one plane, 24 bits
    0, 0, 0, 0, 8, 0, 0, 0,  // no compression, 8 bytes of bits
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // resolution, colours used and important: none
    0x00, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0, 0,  // B, G, R of red; of green; two bytes of padding
};

// `width` x `height` of 24 bits, pixel (x, y) = colours[(x + y) % size].
DecodedPicture Picture24(int width, int height, const std::vector<ColorRef>& colours) {
  DecodedPicture p;
  p.width = width, p.height = height, p.bitsPerPixel = 24;
  p.stride = (width * 3 + 3) / 4 * 4;
  p.bits.assign(size_t(p.stride) * height, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const ColorRef c = colours[size_t(x + y) % colours.size()];
      uint8_t* d = &p.bits[size_t(y * p.stride + x * 3)];
      d[0] = c.Blue(), d[1] = c.Green(), d[2] = c.Red();
    }
  return p;
}

class PictureFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kv_picfile_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return Path(name);
  }
  static std::vector<uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // A picture object holding the given picture, as FromBitmap takes it.
  static PictureFile Holding(const DecodedPicture& p) {
    PictureFile f;
    EXPECT_TRUE(f.FromBitmap(p.View(), DefaultPalette()));
    return f;
  }
  fs::path dir_;
};

TEST_F(PictureFileTest, LoadReadsByContentAndSetsNameTypeAndError) {
  PictureFile f;
  f.lastError = 4;
  // The name says TIFF; the content is a BMP.
  const std::string path = Write("RG.TIF", kRedGreenBmp);
  ASSERT_TRUE(f.Load(path));
  EXPECT_EQ(f.lastError, 0);
  EXPECT_EQ(f.fileType, 1);
  EXPECT_EQ(f.fileName, path);
  EXPECT_EQ(f.formatPaletteIndex, -1);
  EXPECT_EQ(Rgb(f.View()), (std::vector<uint32_t>{0xFF0000, 0x00FF00}));
}

struct LoadFailure {
  const char* name;
  std::vector<uint8_t> bytes;  // empty: the file is not there
  int32_t error;
};

TEST_F(PictureFileTest, FailedLoadAnswersItsErrorAndKeepsTheOldPicture) {
  std::vector<uint8_t> truncated(kRedGreenBmp.begin(), kRedGreenBmp.end() - 5);
  std::vector<uint8_t> corrupt = kRedGreenBmp;
  corrupt[28] = 7;  // 7 bits a pixel: no such depth
  const LoadFailure cases[] = {
      {"TEXT.BMP", {'h', 'e', 'l', 'l', 'o'}, kErrUnknownPictureType},  // no signature of any format
      {"NONE.BMP", {}, int32_t(PicError::kCannotOpen)},
      {"CUT.BMP", truncated, int32_t(PicError::kTruncated)},
      {"BAD.BMP", corrupt, int32_t(PicError::kUnsupported)},
  };
  for (const LoadFailure& c : cases) {
    SCOPED_TRACE(c.name);
    PictureFile f;
    const std::string good = Write("GOOD.BMP", kRedGreenBmp);
    ASSERT_TRUE(f.Load(good));
    const std::string path = c.bytes.empty() ? Path(c.name) : Write(c.name, c.bytes);
    EXPECT_FALSE(f.Load(path));
    EXPECT_EQ(f.lastError, c.error);
    EXPECT_EQ(f.fileName, good);
    EXPECT_EQ(f.fileType, 1);
    EXPECT_EQ(Rgb(f.View()), (std::vector<uint32_t>{0xFF0000, 0x00FF00}));
  }
}

TEST_F(PictureFileTest, GifKeepsItsTransparentIndexWhenSavedAgain) {
  DecodedPicture p;
  p.width = 3, p.height = 1, p.bitsPerPixel = 8, p.stride = 4;
  p.bits = {0, 1, 2, 0};
  p.colorTable = {ColorRef::FromRgb(255, 0, 0), ColorRef::FromRgb(0, 255, 0), ColorRef::FromRgb(0, 0, 255)};
  EncodeOptions options;
  options.gifTransparentIndex = 2;
  const std::string first = Path("FIRST.GIF");
  ASSERT_TRUE(EncodeFile(p.View(), FileType::kGif, first, options));
  PictureFile f;
  ASSERT_TRUE(f.Load(first));
  EXPECT_EQ(f.fileType, 2);
  EXPECT_EQ(f.formatPaletteIndex, 2);
  ASSERT_TRUE(f.Save(Path("AGAIN.GIF"), -1));
  PictureFile again;
  ASSERT_TRUE(again.Load(Path("AGAIN.GIF")));
  EXPECT_EQ(again.formatPaletteIndex, 2);
  EXPECT_EQ(Rgb(again.View()), (std::vector<uint32_t>{0xFF0000, 0x00FF00, 0x0000FF}));
  // A picture read from another format has no transparent index.
  ASSERT_TRUE(again.Load(Write("RG.BMP", kRedGreenBmp)));
  EXPECT_EQ(again.formatPaletteIndex, -1);
}

struct SaveFailure {
  const char* name;
  int type;
  bool withPicture;
  int32_t error;
};

TEST_F(PictureFileTest, SaveFailuresAnswerTheirErrorAndWriteNothing) {
  const SaveFailure cases[] = {
      {"A.BMP", 0, true, kErrUnknownPictureType},
      {"A.PNG", 7, true, kErrUnknownPictureType},  // read, but not among the types saved
      {"A.BMP", 9, true, kErrUnknownPictureType},
      {"A.XYZ", -1, true, kErrUnknownPictureType},
      {"A.PNG", -1, true, kErrUnknownPictureType},
      {"A.BMP", 1, false, int32_t(PicError::kCannotWrite)},
      {"NO/SUCH/DIR/A.BMP", 1, true, int32_t(PicError::kCannotWrite)},
  };
  for (const SaveFailure& c : cases) {
    SCOPED_TRACE(c.name + std::string(" type ") + std::to_string(c.type));
    PictureFile f;
    if (c.withPicture) f = Holding(Picture24(2, 2, {ColorRef::FromRgb(1, 2, 3)}));
    EXPECT_FALSE(f.Save(Path(c.name), c.type));
    EXPECT_EQ(f.lastError, c.error);
    EXPECT_FALSE(fs::exists(Path(c.name)));
  }
}

TEST_F(PictureFileTest, SaveByTypeWritesThatFormatWhateverTheName) {
  const DecodedPicture p = Picture24(5, 3, {ColorRef::FromRgb(255, 0, 0), ColorRef::FromRgb(0, 0, 255)});
  PictureFile f = Holding(p);
  for (int type : {1, 3, 4, 6}) {
    SCOPED_TRACE(type);
    const std::string path = Path("OUT" + std::to_string(type) + ".DAT");
    ASSERT_TRUE(f.Save(path, type));
    EXPECT_EQ(f.fileName, path);
    Picture back;
    FileType read = FileType::kUnknown;
    // TGA has no signature: read it as the TGA decoder.
    const Outcome o = type == 4 ? Decode(Read(path), FileType::kTga, back) : DecodeFile(path, back, &read);
    ASSERT_TRUE(o) << o.detail;
    if (type != 4) {
      EXPECT_EQ(int(read), type);
    }
    EXPECT_EQ(Rgb(back), Rgb(p.View()));
  }
}

// The first quantiser of the first DQT segment.
int FirstQuantiser(const std::vector<uint8_t>& jpeg) {
  for (size_t i = 0; i + 5 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDB) return jpeg[i + 5];  // marker, length (2), Pq/Tq, Q0
  return -1;
}

TEST_F(PictureFileTest, SaveByExtensionJpegQualityComesFromTheValueOr80) {
  // libjpeg scales the standard luminance table's first entry 16 by
  // 200 - 2q percent for q >= 50: q 80 gives (16 * 40 + 50) / 100 = 6,
  // q 50 gives 16, q 90 gives (16 * 20 + 50) / 100 = 3.
  struct Case {
    int value;
    int quantiser;
  } const cases[] = {{0, 6}, {80, 6}, {50, 16}, {90, 3}};
  DecodedPicture eight;
  eight.width = 8, eight.height = 8, eight.bitsPerPixel = 8, eight.stride = 8;
  eight.bits.assign(64, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    PictureFile f = Holding(eight);  // 8 bits: converted to 24 for JPEG
    ASSERT_TRUE(f.SaveByExtension(Path("Q.jpg"), 0, 0, c.value));
    EXPECT_EQ(f.jpegQuality, c.value == 0 ? 80 : c.value);
    EXPECT_EQ(FirstQuantiser(Read(Path("Q.jpg"))), c.quantiser);
    EXPECT_EQ(f.image().bitsPerPixel, 8);  // the held picture keeps its depth
  }
}

TEST_F(PictureFileTest, SaveByExtensionConvertsToTheDepthTheValueNames) {
  // PCX header: byte 3 bits per plane, byte 65 planes. TGA header: byte 2
  // image type (1 mapped, 2 true colour), byte 16 bits a pixel.
  struct Case {
    const char* name;
    int value;
    size_t at1, at2;
    uint8_t want1, want2;
  } const cases[] = {
      {"D.PCX", 0, 3, 65, 8, 3},   // 24 bits: three planes of 8
      {"D.PCX", 24, 3, 65, 8, 3},
      {"D.PCX", 8, 3, 65, 8, 1},   // 8 bits: one plane and the 256-colour table
      {"D.TGA", 0, 2, 16, 2, 24},
      {"D.TGA", 32, 2, 16, 2, 24},  // the unused fourth byte is not written
      {"D.TGA", 8, 2, 16, 1, 8},
  };
  const DecodedPicture p = Picture24(6, 4, {ColorRef::FromRgb(255, 0, 0), ColorRef::FromRgb(0, 255, 255),
                                            ColorRef::FromRgb(0, 0, 0)});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + std::string(" ") + std::to_string(c.value));
    PictureFile f = Holding(p);
    ASSERT_TRUE(f.SaveByExtension(Path(c.name), 0, 0, c.value)) << f.lastError;
    const std::vector<uint8_t> bytes = Read(Path(c.name));
    ASSERT_GT(bytes.size(), 66u);
    EXPECT_EQ(bytes[c.at1], c.want1);
    EXPECT_EQ(bytes[c.at2], c.want2);
    Picture back;
    ASSERT_TRUE(Decode(bytes, c.name[2] == 'P' ? FileType::kPcx : FileType::kTga, back));
    EXPECT_EQ(Rgb(back), Rgb(p.View()));  // three pure colours survive any depth
  }
}

TEST_F(PictureFileTest, SaveByExtensionTiffTakesOption5AndGifIsReduced) {
  const DecodedPicture p = Picture24(4, 4, {ColorRef::FromRgb(255, 255, 255), ColorRef::FromRgb(0, 0, 255)});
  PictureFile f = Holding(p);
  f.tiffOption = 1;
  ASSERT_TRUE(f.SaveByExtension(Path("T.tif"), -1, 0, 0));
  EXPECT_EQ(f.tiffOption, 5);
  Picture back;
  ASSERT_TRUE(DecodeFile(Path("T.tif"), back));
  EXPECT_EQ(Rgb(back), Rgb(p.View()));
  ASSERT_TRUE(f.SaveByExtension(Path("G.GIF"), 0, 0, 0));
  ASSERT_TRUE(DecodeFile(Path("G.GIF"), back));
  EXPECT_EQ(back.pixels.bitsPerPixel, 8);
  EXPECT_EQ(Rgb(back), Rgb(p.View()));
}

TEST_F(PictureFileTest, SaveByExtensionResizesACopyAndRefusesOtherEndings) {
  PictureFile f = Holding(Picture24(2, 1, {ColorRef::FromRgb(255, 0, 0), ColorRef::FromRgb(0, 255, 0)}));
  ASSERT_TRUE(f.SaveByExtension(Path("R.BMP"), 4, 2, 0));
  Picture back;
  ASSERT_TRUE(DecodeFile(Path("R.BMP"), back));
  // Target column x takes source column (2x + 1) * 2 / 8: 0, 0, 1, 1.
  EXPECT_EQ(Rgb(back), (std::vector<uint32_t>{0xFF0000, 0xFF0000, 0x00FF00, 0x00FF00,  //
                                              0xFF0000, 0xFF0000, 0x00FF00, 0x00FF00}));
  EXPECT_EQ(f.image().width, 2);
  for (const char* name : {"R.PNG", "R.JPEG", "R.BMPX", "R"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(f.SaveByExtension(Path(name), 0, 0, 0));
    EXPECT_EQ(f.lastError, kErrUnknownPictureType);
    EXPECT_FALSE(fs::exists(Path(name)));
  }
  // Past a side or past 4096 x 4096 pixels in all: refused before anything is made.
  const std::pair<int, int> kTooLarge[] = {{kMaxSide + 1, 1}, {1, kMaxSide + 1}, {16384, 16384}, {4097, 4096},
                                           {16384, 1025}};
  for (auto [w, h] : kTooLarge) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    EXPECT_FALSE(f.SaveByExtension(Path("BIG.BMP"), w, h, 0));
    EXPECT_EQ(f.lastError, int32_t(PicError::kTooLarge));
    EXPECT_FALSE(fs::exists(Path("BIG.BMP")));
  }
  EXPECT_TRUE(f.SaveByExtension(Path("WIDE.BMP"), 16384, 4, 0)) << f.lastError;
  EXPECT_FALSE(f.SaveByExtension(Path("FLAT.BMP"), 4, 0, 0));
  EXPECT_EQ(f.lastError, int32_t(PicError::kCorrupt));
}

TEST_F(PictureFileTest, PicturesFromBitmapsAreNumberedAndTakeTheSystemPalette) {
  DecodedPicture eight;
  eight.width = 2, eight.height = 1, eight.bitsPerPixel = 8, eight.stride = 4;
  eight.bits = {0, 1, 0, 0};
  eight.colorTable = {ColorRef::FromRgb(9, 9, 9)};  // not the system's: replaced
  Palette system{{ColorRef::FromRgb(10, 20, 30), ColorRef::FromRgb(40, 50, 60)}};
  PictureFile a, b;
  ASSERT_TRUE(a.FromBitmap(eight.View(), system));
  ASSERT_TRUE(b.FromBitmap(eight.View(), system));
  const int n = std::stoi(a.fileName.substr(7));
  EXPECT_EQ(a.fileName, "UNNAMED" + std::to_string(n) + ".BMP");
  EXPECT_EQ(b.fileName, "UNNAMED" + std::to_string(n + 1) + ".BMP");
  EXPECT_EQ(a.fileType, 1);
  EXPECT_EQ(Rgb(a.View()), (std::vector<uint32_t>{0x0A141E, 0x28323C}));
  PictureFile bad;
  DecodedPicture four = eight;
  four.bitsPerPixel = 4;
  EXPECT_FALSE(bad.FromBitmap(four.View(), system));
  EXPECT_EQ(bad.lastError, int32_t(PicError::kUnsupported));
}

TEST_F(PictureFileTest, ReduceColorsKeepsFewPureColoursExactly) {
  const DecodedPicture p = Picture24(5, 5, {ColorRef::FromRgb(255, 0, 0), ColorRef::FromRgb(0, 0, 0),
                                            ColorRef::FromRgb(255, 255, 255)});
  PictureFile f = Holding(p);
  ASSERT_TRUE(f.ReduceColors());
  EXPECT_EQ(f.image().bitsPerPixel, 8);
  EXPECT_LE(f.image().colorTable.size(), 256u);
  EXPECT_EQ(Rgb(f.View()), Rgb(p.View()));
  PictureFile empty;
  EXPECT_FALSE(empty.ReduceColors());
}

TEST(PictureConversion, DepthsByHand) {
  // 24 to 16 (5-5-5): R 255 >> 3 = 31, G 128 >> 3 = 16, B 8 >> 3 = 1:
  // 31 << 10 | 16 << 5 | 1 = 0x7E01, stored low byte first.
  const DecodedPicture p = Picture24(1, 1, {ColorRef::FromRgb(255, 128, 8)});
  auto sixteen = ConvertDepth(p.View(), 16);
  ASSERT_TRUE(sixteen);
  EXPECT_EQ(sixteen->bits[0], 0x01);
  EXPECT_EQ(sixteen->bits[1], 0x7E);
  auto thirtyTwo = ConvertDepth(p.View(), 32);
  ASSERT_TRUE(thirtyTwo);
  EXPECT_EQ((std::vector<uint8_t>(thirtyTwo->bits.begin(), thirtyTwo->bits.begin() + 4)),
            (std::vector<uint8_t>{8, 128, 255, 0}));
  EXPECT_FALSE(ConvertDepth(p.View(), 4));
  EXPECT_FALSE(ResizePicture(p.View(), 0, 1));
  // 3 x 1 shrunk to 1 x 1 takes the middle column: (2 * 0 + 1) * 3 / 2 = 1.
  const DecodedPicture row = Picture24(3, 1, {ColorRef::FromRgb(1, 0, 0), ColorRef::FromRgb(2, 0, 0),
                                              ColorRef::FromRgb(3, 0, 0)});
  auto one = ResizePicture(row.View(), 1, 1);
  ASSERT_TRUE(one);
  EXPECT_EQ(Rgb(one->View()), (std::vector<uint32_t>{0x020000}));
}

}  // namespace
}  // namespace kv::imaging
