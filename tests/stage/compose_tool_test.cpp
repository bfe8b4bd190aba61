// kvtool compose end to end: hand-built BMP files and a JSON scene in a
// temporary folder, the PNG read back with libpng, the hit answers parsed.
#include <png.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>
#include <string>

#include "tests/stage/bmp_bytes.h"

namespace kv {
namespace {

using namespace kv::test;
namespace fs = std::filesystem;

void WriteFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string RunCommand(const std::string& command, int* status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[256];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
  *status = pipe ? pclose(pipe) : -1;
  return out;
}

// The PNG's pixels as R, G, B bytes; empty when it cannot be read.
std::vector<uint8_t> ReadRgb(const fs::path& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, png.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
  return rgb;
}

class StageComposeTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kv_compose_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    // 24 bits, 2 x 1, one row of B,G,R triples padded to 8: red then blue.
    std::vector<uint8_t> two = Header(2, 1, 24, 0, 0, 54);
    for (uint8_t b : {0x00, 0x00, 0xF8, 0xF8, 0x00, 0x00, 0x00, 0x00}) two.push_back(b);
    WriteFile(dir / "two.bmp", two);
    // 8 bits, 2 x 1, table {0: green (the key), 1: 0xF8FCF8}; indexes 0, 1.
    std::vector<uint8_t> eight = Header(2, 1, 8, 0, 2, 54 + 8);
    for (uint8_t b : {0x00, 0xFC, 0x00, 0x00, 0xF8, 0xFC, 0xF8, 0x00, 0x00, 0x01, 0x00, 0x00}) eight.push_back(b);
    WriteFile(dir / "eight.bmp", eight);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Compose(const std::string& format, int* status) {
    std::ofstream(dir / "scene.json") << R"({"width": 20, "height": 10, "format": ")" << format
                                      << R"(", "backColor": "0x00204080", "sprites": [
        {"picture": "two.bmp", "rect": [0, 0, 10, 10], "layer": 5},
        {"picture": "eight.bmp", "rect": [12, 0, 14, 1], "layer": 0, "keyed": true, "keyColor": 64512}]})";
    return RunCommand(std::string(KVTOOL_PATH) + " compose " + (dir / "scene.json").string() + " -o " +
                   (dir / "out.png").string() + " --hit 2,2 --hit 12,0 --hit 13,0 --hit 15,5",
               status);
  }

  fs::path dir;
};

TEST_F(StageComposeTool, ComposesBothFormatsAndAnswersHits) {
  for (const char* format : {"xrgb32", "rgb565"}) {
    int status = 0;
    const std::string out = Compose(format, &status);
    ASSERT_EQ(status, 0) << format;
    EXPECT_EQ(out, "0\n-1\n1\n-1\n") << format;
    const std::vector<uint8_t> rgb = ReadRgb(dir / "out.png");
    ASSERT_FALSE(rgb.empty());
    auto px = [&](int x, int y) {
      const uint8_t* p = &rgb[size_t(y * 20 + x) * 3];
      return uint32_t(p[0]) << 16 | p[1] << 8 | p[2];
    };
    EXPECT_EQ(px(4, 9), 0xF80000u) << format;   // 2 -> 10: columns 0-4 from the first pixel
    EXPECT_EQ(px(5, 0), 0x0000F8u) << format;
    EXPECT_EQ(px(12, 0), 0x804020u) << format;  // the key index lets the background through
    EXPECT_EQ(px(13, 0), 0xF8FCF8u) << format;
    EXPECT_EQ(px(19, 9), 0x804020u) << format;
  }
}

TEST_F(StageComposeTool, ReportsBadScenesWithTheirExitCodes) {
  struct Case {
    const char* scene;
    int exit;
  };
  const Case cases[] = {
      {R"({"width": 0, "height": 5})", 2},
      {R"({"width": 5, "height": 5, "format": "rgb24"})", 2},
      {R"({"width": 5, "height": 5, "sprites": [{"picture": "missing.bmp"}]})", 1},
      {R"({"width": 5, "height": 5, "sprites": [{"picture": "two.bmp", "rect": [1, 2]}]})", 2},
      {R"({"width": 5,)", 2},
      // A picture that names a folder is unreadable, not a crash.
      {R"({"width": 5, "height": 5, "sprites": [{"picture": "."}]})", 1},
      {R"({"width": 5, "height": 5, "sprites": [{"picture": "two.bmp", "rect": [0, 0, 4294967296, 1]}]})", 2},
  };
  for (const Case& k : cases) {
    std::ofstream(dir / "bad.json") << k.scene;
    int status = 0;
    RunCommand(std::string(KVTOOL_PATH) + " compose " + (dir / "bad.json").string() + " -o " + (dir / "x.png").string() +
            " 2>/dev/null",
        &status);
    EXPECT_EQ(WEXITSTATUS(status), k.exit) << k.scene;
  }
}

// Rectangles at the ends of int's range: the stretch maps every stage pixel
// inside the picture (the asan build reads nothing outside it) and the PNG
// shows the column the exact 64-bit mapping chooses.
TEST_F(StageComposeTool, ExtremeRectanglesComposeInsideThePicture) {
  struct Case {
    const char* rect;
    uint32_t colour;  // every stage pixel
    const char* hit;  // the answer at 5,5
  };
  const Case cases[] = {
      // stage x 0 is 2^31 columns into a 2^32 - 1 wide run of 2: column 1, blue.
      {"[-2147483648, -2147483648, 2147483647, 2147483647]", 0x0000F8u, "0\n"},
      // 0..63 of a 2^31 - 1 wide run of 2: column 0, red.
      {"[0, 0, 2147483647, 2147483647]", 0xF80000u, "0\n"},
      // ends at the stage's origin: the background, no hit.
      {"[-2147483648, -2147483648, 0, 0]", 0x804020u, "-1\n"},
  };
  for (const Case& k : cases) {
    std::ofstream(dir / "scene.json") << R"({"width": 20, "height": 10, "backColor": "0x00204080", "sprites": [
        {"picture": "two.bmp", "rect": )" << k.rect << "}]}";
    int status = 0;
    const std::string out = RunCommand(std::string(KVTOOL_PATH) + " compose " + (dir / "scene.json").string() +
                                           " -o " + (dir / "out.png").string() + " --hit 5,5",
                                       &status);
    ASSERT_EQ(status, 0) << k.rect;
    EXPECT_EQ(out, k.hit) << k.rect;
    const std::vector<uint8_t> rgb = ReadRgb(dir / "out.png");
    ASSERT_FALSE(rgb.empty());
    for (size_t i = 0; i < rgb.size(); i += 3)
      ASSERT_EQ(uint32_t(rgb[i]) << 16 | rgb[i + 1] << 8 | rgb[i + 2], k.colour) << k.rect << " at byte " << i;
  }
}

}  // namespace
}  // namespace kv
