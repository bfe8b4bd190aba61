#include "inserts/display.h"

#include <gtest/gtest.h>

#include "tests/inserts/kind_bytes.h"

namespace kv {
namespace {

using test::Bytes;

TEST(DisplayTest, GoldenRecordLoadsAndWritesBack) {
  Bytes b;
  b.raw({0xFF, 0xFF,                                     // new class
         0x01, 0x00,                                     // schema 1 (versionable flag not written)
         0x08, 0x00,                                     // name length 8
         'C', 'D', 'i', 's', 'p', 'l', 'a', 'y'});
  b.add(test::VisibleRecord());
  b.raw({0x01, 0x00,                                     // imageVersion 1
         0x07, 0x00,                                     // imageOption 7
         0x09, 'P', 'H', 'O', 'T', 'O', '.', 'B', 'M', 'P',  // pictureFile
         0x78, 0x56, 0x34, 0x12});                       // imageValue 0x12345678
  auto display = std::dynamic_pointer_cast<CDisplay>(test::ExpectLoadsAsNewest(b.data, b.data));
  ASSERT_TRUE(display);
  EXPECT_EQ(display->imageVersion, 1);
  EXPECT_EQ(display->imageOption, 7);
  EXPECT_EQ(display->pictureFile, "PHOTO.BMP");
  EXPECT_EQ(display->imageValue, 0x12345678u);
  EXPECT_EQ(display->name, "obj");
}

TEST(DisplayTest, OnlyVersionOneExists) {
  for (uint16_t version : {0, 2}) {
    Bytes b;
    b.newClass("CDisplay", 1).add(test::VisibleRecord()).u16(version).u16(0).str("").u32(0);
    EXPECT_EQ(test::LoadFailure(b.data), CArchiveException::badSchema) << version;
  }
}

TEST(DisplayTest, ResetShowsWhenSceneIsReady) {
  CDisplay display;
  display.imageOption = 3;
  display.imageValue = 9;
  display.pictureFile = "A.BMP";
  display.Reset();
  EXPECT_EQ(display.showMode, 2);
  EXPECT_EQ(display.imageOption, 0);
  EXPECT_EQ(display.imageValue, 0u);
  EXPECT_EQ(display.pictureFile, "A.BMP");
  EXPECT_EQ(display.transparentColor, 0x00F0F8F8u);  // the visible defaults apply too
}

}  // namespace
}  // namespace kv
