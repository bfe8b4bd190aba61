// The snapshot API: the whole stage recomposed and written as PNG, read back
// with libpng.
#include <png.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "stage/compositor.h"
#include "stage/png.h"
#include "tests/stage/stage_test_util.h"

namespace kv {
namespace {

using namespace kv::test;

std::vector<uint8_t> ReadRgb(const std::string& path, int* w, int* h) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
  *w = int(image.width);
  *h = int(image.height);
  return rgb;
}

TEST(StageSnapshot, WholeStageGoesToPngInBothFormats) {
  for (PixelFormat f : {PixelFormat::kXrgb32, PixelFormat::kRgb565}) {
    Compositor c(CompositorRole::kStage);
    ASSERT_EQ(c.Initialise({0, 0, 8, 4}, kBack, f, nullptr), 0);
    StageSprite s(f);
    Place(s, Solid24(2, 2, kRed), {1, 1, 3, 3}, 5);
    c.Add(s, false);  // never updated: the snapshot composes by itself
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("kv_stage_snapshot_" + std::to_string(::getpid()) + ".png"))
                                 .string();
    std::string error;
    ASSERT_TRUE(c.WriteSnapshot(path, &error)) << error;
    int w = 0, h = 0;
    const std::vector<uint8_t> rgb = ReadRgb(path, &w, &h);
    std::remove(path.c_str());
    ASSERT_EQ(w, 8);
    ASSERT_EQ(h, 4);
    const ColorRef back = f == PixelFormat::kRgb565 ? FromRgb565(ToRgb565(kBack)) : kBack;
    EXPECT_EQ(rgb[0], back.Red());
    EXPECT_EQ(rgb[1], back.Green());
    EXPECT_EQ(rgb[2], back.Blue());
    const size_t at = (1 * 8 + 1) * 3;
    EXPECT_EQ(rgb[at], 0xF8);
    EXPECT_EQ(rgb[at + 1], 0);
    EXPECT_EQ(rgb[at + 2], 0);
    c.Remove(s, false);
  }
  EXPECT_FALSE(WritePng(PixelBuffer(), "/nonexistent/x.png"));
}

}  // namespace
}  // namespace kv
