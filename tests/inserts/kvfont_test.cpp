#include "inserts/kvfont.h"

#include <gtest/gtest.h>

#include "tests/inserts/kind_bytes.h"

namespace kv {
namespace {

using test::LoadFailure;
using test::LoadObject;
using test::StoreObject;

// A font object written with class information, derived from the format
// rules by hand.
const std::vector<uint8_t> kBoldArial = {
    0xFF, 0xFF,                          // new class
    0x00, 0x00,                          // schema 0 (versionable flag is not written)
    0x07, 0x00,                          // name length 7
    'C', 'K', 'V', 'F', 'o', 'n', 't',   //
    0x01, 0x00,                          // record version 1
    0x00,                                // useDefault 0: the logical font follows
    0xF0, 0xFF, 0xFF, 0xFF,              // height -16
    0x00, 0x00, 0x00, 0x00,              // width 0
    0x84, 0x03, 0x00, 0x00,              // escapement 900
    0x00, 0x00, 0x00, 0x00,              // orientation 0
    0xBC, 0x02, 0x00, 0x00,              // weight 700
    0x01, 0x00, 0x01,                    // italic, underline, strike-out
    0x00, 0x03, 0x02, 0x01, 0x22,        // charset, out, clip, quality, pitch and family
    0x05, 'A', 'r', 'i', 'a', 'l',       // face name
};

TEST(KVFontTest, GoldenRecordLoadsAndWritesBack) {
  auto font = std::dynamic_pointer_cast<CKVFont>(LoadObject(kBoldArial));
  ASSERT_TRUE(font);
  EXPECT_EQ(font->fontVersion, 1);
  EXPECT_EQ(font->useDefault, 0);
  EXPECT_EQ(font->height, -16);
  EXPECT_EQ(font->escapement, 900);
  EXPECT_EQ(font->weight, 700);
  EXPECT_EQ(font->italic, 1);
  EXPECT_EQ(font->underline, 0);
  EXPECT_EQ(font->strikeOut, 1);
  EXPECT_EQ(font->outPrecision, 3);
  EXPECT_EQ(font->clipPrecision, 2);
  EXPECT_EQ(font->quality, 1);
  EXPECT_EQ(font->pitchAndFamily, 0x22);
  EXPECT_EQ(font->faceName, "Arial");
  EXPECT_EQ(StoreObject(*font), kBoldArial);
}

TEST(KVFontTest, DefaultFontStoresOnlyTheFlag) {
  CKVFont font;
  font.height = -20;  // not stored while the default font is used
  font.faceName = "Courier New";
  std::vector<uint8_t> expected = {0xFF, 0xFF, 0x00, 0x00, 0x07, 0x00, 'C', 'K', 'V', 'F', 'o', 'n', 't',
                                   0x01, 0x00,   // version
                                   0x01};        // useDefault
  EXPECT_EQ(StoreObject(font), expected);
  auto back = std::dynamic_pointer_cast<CKVFont>(LoadObject(expected));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->useDefault, 1);
  EXPECT_EQ(back->height, 0);
  EXPECT_EQ(back->faceName, "");
}

TEST(KVFontTest, OtherVersionsAreBadSchema) {
  for (uint8_t version : {0, 2}) {
    std::vector<uint8_t> bytes = {0xFF, 0xFF, 0x00, 0x00, 0x07, 0x00, 'C', 'K', 'V', 'F', 'o', 'n', 't',
                                  version, 0x00,  // record version
                                  0x01};          // useDefault
    EXPECT_EQ(LoadFailure(bytes), CArchiveException::badSchema) << int(version);
  }
}

}  // namespace
}  // namespace kv
