// Every picture variant written by Pillow and ImageMagick (make_pictures.py,
// run at build time) decodes to the pixels their own decoders read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/picture_codec.h"

namespace kv::imaging {
namespace {

struct Case {
  std::string file, reference, format;
  int channels = 3, bits = 8, tolerance = 0;
};

std::vector<Case> Cases(const std::string& format) {
  std::ifstream in(std::string(KV_PICTURES_DIR) + "/cases.tsv");
  std::vector<Case> cases;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    Case c;
    fields >> c.file >> c.reference >> c.format >> c.channels >> c.bits >> c.tolerance;
    if (c.format == format) cases.push_back(c);
  }
  return cases;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Compares our pixels with the reference, whose file holds u32 width, u32
// height and then RGB or RGBA bytes. RGBA references are composited onto the
// backdrop the way our decoder is documented to do it.
void Compare(const Case& c) {
  SCOPED_TRACE(c.file);
  const std::string dir = KV_PICTURES_DIR;
  Picture pic;
  FileType type;
  const Outcome outcome = DecodeFile(dir + "/" + c.file, pic, &type);
  ASSERT_TRUE(outcome) << outcome.detail;
  const std::vector<uint8_t> ref = ReadAll(dir + "/" + c.reference);
  ASSERT_GE(ref.size(), 8u);
  const int width = int(ref[0] | ref[1] << 8), height = int(ref[4] | ref[5] << 8);
  ASSERT_EQ(pic.pixels.width, width);
  ASSERT_EQ(pic.pixels.height, height);
  ASSERT_EQ(ref.size(), 8u + size_t(width) * height * c.channels);
  const uint8_t backdrop[3] = {kDefaultBackdrop.Red(), kDefaultBackdrop.Green(), kDefaultBackdrop.Blue()};
  std::vector<uint8_t> row(size_t(width) * 3);
  int worst = 0, mismatches = 0;
  for (int y = 0; y < height; ++y) {
    RowToRgb(pic.pixels.View(), y, row.data());
    for (int x = 0; x < width; ++x) {
      const uint8_t* r = &ref[8 + (size_t(y) * width + x) * c.channels];
      for (int k = 0; k < 3; ++k) {
        int expected = r[k];
        if (c.channels == 4) expected = (r[k] * r[3] + backdrop[k] * (255 - r[3]) + 127) / 255;
        const int shift = 8 - c.bits;
        const int diff = std::abs((row[size_t(3 * x + k)] >> shift) - (expected >> shift));
        worst = std::max(worst, diff);
        if (diff > c.tolerance && mismatches++ < 3)
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") channel " << k << ": ours "
                        << int(row[size_t(3 * x + k)]) << ", reference " << expected;
      }
    }
  }
  EXPECT_LE(worst, c.tolerance);
}

class Oracle : public ::testing::TestWithParam<const char*> {};

TEST_P(Oracle, EveryVariantMatchesTheReferenceDecoder) {
  const std::vector<Case> cases = Cases(GetParam());
  ASSERT_FALSE(cases.empty()) << "no generated pictures for " << GetParam();
  for (const Case& c : cases) Compare(c);
}

TEST_P(Oracle, EveryVariantCutShortIsAnErrorNotAPicture) {
  for (const Case& c : Cases(GetParam())) {
    std::vector<uint8_t> bytes = ReadAll(std::string(KV_PICTURES_DIR) + "/" + c.file);
    for (const size_t keep : {bytes.size() / 2, bytes.size() * 9 / 10, size_t(30)}) {
      const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + std::min(keep, bytes.size()));
      Picture pic;
      const Outcome outcome = Decode(cut, DetectType(bytes, c.file), pic);
      EXPECT_FALSE(outcome) << c.file << " cut to " << keep << " bytes";
      EXPECT_TRUE(pic.pixels.bits.empty()) << c.file;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, Oracle, ::testing::Values("bmp", "pcx", "tga", "gif", "jpg", "tif", "png"));

}  // namespace
}  // namespace kv::imaging
