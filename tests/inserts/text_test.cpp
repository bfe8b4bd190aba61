#include "inserts/text.h"

#include <gtest/gtest.h>

#include "tests/inserts/kind_bytes.h"

namespace kv {
namespace {

using test::Bytes;

// The text's own version word, then the common and visible records.
Bytes TextHead(uint16_t version) {
  Bytes b;
  b.raw({0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00, 'C', 'T', 'e', 'x', 't'});  // new class CText, schema 0
  b.u16(version);
  b.add(test::VisibleRecord());
  b.raw({0x02, 0x00,               // penStyle 2 (dot)
         0x03, 0x00,               // penWidth 3
         0xFF, 0x00, 0x00, 0x00,   // penColor red
         0x02, 0x00, 0x00, 0x00,   // shadowX 2
         0xFF, 0xFF, 0xFF, 0xFF,   // shadowY -1
         0x80, 0x80, 0x80, 0x00});  // shadowColor grey
  return b;
}

const std::initializer_list<uint8_t> kTextTail = {
    0x05, 'H', 'e', 'l', 'l', 'o',  // text
    0x10, 0x0A, 0x00, 0x00,         // drawFlags 0x0A10
    0x01, 0x00,                     // font record version 1
    0x01};                          // useDefault

TEST(TextTest, GoldenVersion3LoadsAndWritesBack) {
  Bytes b = TextHead(3);
  b.raw({0x01, 0x00, 0x00, 0x00,    // charPlacement 1
         0x01, 'a',                 // textAux1
         0x00,                      // textAux2 empty
         0x01, 0x00, 0x00, 0x00,    // fromFile 1
         0x05, 't', '.', 't', 'x', 't'});  // textFile
  b.raw(kTextTail);
  auto text = std::dynamic_pointer_cast<CText>(test::ExpectLoadsAsNewest(b.data, b.data));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->textVersion, 3);
  EXPECT_EQ(text->newFormat, 1);
  EXPECT_EQ(text->GetStretchPicture(), 1);
  EXPECT_EQ(text->penStyle, 2);
  EXPECT_EQ(text->penWidth, 3);
  EXPECT_EQ(text->penColor, 0xFFu);
  EXPECT_EQ(text->shadowX, 2);
  EXPECT_EQ(text->shadowY, -1);
  EXPECT_EQ(text->charPlacement, 1u);
  EXPECT_EQ(text->textAux1, "a");
  EXPECT_EQ(text->fromFile, 1u);
  EXPECT_EQ(text->textFile, "t.txt");
  EXPECT_EQ(text->text, "Hello");
  EXPECT_EQ(text->drawFlags, 0x0A10u);
  EXPECT_EQ(text->font.useDefault, 1);
}

TEST(TextTest, OlderVersionsEnterAtTheirStepAndWriteVersion3) {
  Bytes newest = TextHead(3);
  newest.u32(0).str("").str("");  // charPlacement, textAux1, textAux2 at their defaults
  newest.u32(0).str("");          // fromFile, textFile
  newest.raw(kTextTail);

  Bytes v1 = TextHead(1);
  v1.raw(kTextTail);
  auto text = std::dynamic_pointer_cast<CText>(test::ExpectLoadsAsNewest(v1.data, newest.data));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->textVersion, 1);
  EXPECT_EQ(text->fromFile, 0u);
  EXPECT_EQ(text->charPlacement, 0u);
  EXPECT_EQ(text->newFormat, 0);
  EXPECT_EQ(text->text, "Hello");
  EXPECT_EQ(text->stretchPicture, 1);  // as stored in the visible part
  EXPECT_EQ(text->GetStretchPicture(), 0);

  Bytes v2 = TextHead(2);
  v2.u32(0).str("");
  v2.raw(kTextTail);
  text = std::dynamic_pointer_cast<CText>(test::ExpectLoadsAsNewest(v2.data, newest.data));
  ASSERT_TRUE(text);
  EXPECT_EQ(text->textVersion, 2);
  EXPECT_EQ(text->newFormat, 0);
}

TEST(TextTest, VersionsOutsideOneToThreeAreBadSchema) {
  for (uint16_t version : {0, 4}) {
    Bytes b = TextHead(version);
    b.raw(kTextTail);
    EXPECT_EQ(test::LoadFailure(b.data), CArchiveException::badSchema) << version;
  }
}

TEST(TextTest, ANewTextHasNoShadowAndANewShapeHasOne) {
  CText text;
  text.Reset();
  EXPECT_EQ(text.shadowX, 0);
  EXPECT_EQ(text.shadowY, 0);
  EXPECT_EQ(text.stretchPicture, 0);
  EXPECT_EQ(text.showMode, 2);
  EXPECT_EQ(text.drawFlags, 0x0A10u);
  EXPECT_EQ(text.font.useDefault, 1);
  CGraphic shape;
  shape.Reset();
  EXPECT_EQ(shape.shadowX, 3);
  EXPECT_EQ(shape.shadowY, 3);
  EXPECT_EQ(shape.penWidth, 1);
  EXPECT_EQ(shape.showMode, 2);
}

}  // namespace
}  // namespace kv
