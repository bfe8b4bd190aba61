// Each visual kind's own part at its oldest and newest versions, the bounds
// on its stored counts, and its reset and copy rules.
#include <gtest/gtest.h>

#include "ext/register.h"
#include "media/avi.h"
#include "inserts/button.h"
#include "inserts/data_entry.h"
#include "inserts/ellipse.h"
#include "inserts/hotspot.h"
#include "inserts/menu.h"
#include "media/mplayer.h"
#include "inserts/ole_control.h"
#include "inserts/poly.h"
#include "inserts/rectangle.h"
#include "inserts/rtf.h"
#include "inserts/sprite.h"
#include "inserts/stage_cursor.h"
#include "inserts/three_d.h"
#include "inserts/triangle.h"
#include "tests/inserts/kind_bytes.h"

namespace kv {
namespace {

using test::Bytes;
using test::ExpectLoadsAsNewest;
using test::LoadFailure;

template <class T>
std::shared_ptr<T> As(const ObjectPtr& p) {
  auto t = std::dynamic_pointer_cast<T>(p);
  EXPECT_TRUE(t) << "loaded object of another class";
  return t;
}

Bytes Visible(const std::string& cls, uint16_t schema = 0) {
  Bytes b;
  b.newClass(cls, schema).add(test::VisibleRecord());
  return b;
}

// Where the kind's version word lies after Visible(cls): the class tag is six
// bytes and the name.
size_t KindVersionAt(const std::string& cls) { return 6 + cls.size() + test::VisibleRecord().data.size(); }

// The pen, shadow and fill parts of a shape.
Bytes ShapeParts() {
  Bytes b;
  b.u16(1).u16(2).u32(0x00112233).i32(4).i32(5).u32(0x00445566);  // CGraphic
  b.u8(1).u8(7).u32(9).str("TEX.BMP").u32(0x00010203).u32(0x00040506);  // CObjectFill
  return b;
}

TEST(ShapeTest, RectangleStoresCornersAfterTheFill) {
  Bytes b = Visible("CRectangle");
  b.add(ShapeParts()).i32(12).i32(8);
  auto r = As<CRectangle>(ExpectLoadsAsNewest(b.data, b.data));
  EXPECT_EQ(r->penStyle, 1);
  EXPECT_EQ(r->shadowColor, 0x00445566u);
  EXPECT_EQ(r->fillStyle, 1);
  EXPECT_EQ(r->patternIndex, 7);
  EXPECT_EQ(r->textureFile, "TEX.BMP");
  EXPECT_EQ(r->fillBackColor, 0x00040506u);
  EXPECT_EQ(r->cornerWidth, 12);
  EXPECT_EQ(r->cornerHeight, 8);
}

TEST(ShapeTest, TriangleAndEllipseStoreOnlyTheFill) {
  for (const char* cls : {"CTriangle", "CEllipse"}) {
    Bytes b = Visible(cls);
    b.add(ShapeParts());
    auto shape = As<CObjectFill>(ExpectLoadsAsNewest(b.data, b.data));
    EXPECT_EQ(shape->fillColor, 0x00010203u) << cls;
  }
}

TEST(ShapeTest, PolygonPointsAreCountedInOneByte) {
  Bytes b = Visible("CPoly");
  b.add(ShapeParts()).u8(2);
  b.i32(512).i32(0).u8(6);     // move to the top centre
  b.i32(1024).i32(1024).u8(3);  // line to the bottom right, closing
  auto poly = As<CPoly>(ExpectLoadsAsNewest(b.data, b.data));
  ASSERT_EQ(poly->points.size(), 2u);
  EXPECT_EQ(poly->points[0].x, 512);
  EXPECT_EQ(poly->points[1].type, 3);

  poly->points.resize(256);
  EXPECT_THROW(test::StoreObject(*poly), CArchiveException);  // never a wrapped count
}

TEST(ShapeTest, PolygonCountBeyondTheDataIsRefusedBeforeReading) {
  Bytes b = Visible("CPoly");
  b.add(ShapeParts()).u8(200).i32(1).i32(2).u8(2);
  EXPECT_EQ(LoadFailure(b.data), CArchiveException::endOfFile);
}

Bytes ButtonFieldsV(uint16_t version) {
  Bytes b = Visible("CSDButton");
  b.u16(version).u16(1).u16(0).u16(1);                 // usePictures, useSystemColors, buttonAux1
  b.u32(1).u32(2).u32(3).u32(4).u32(5).u32(6);         // the six colours
  b.u16(3).u16(4).u16(1).u32(77);                      // frameWidth, bevelWidth, buttonType, buttonAux2
  b.str("OK").str("N.BMP").str("P.BMP").str("x").str("y");
  b.u16(1).u8(1);                                      // the font record, default font
  return b;
}

TEST(ButtonTest, Version2ExtraValuesAreDroppedAndVersion3Written) {
  Bytes v2 = ButtonFieldsV(2);
  v2.u16(0xAAAA).u32(0xBBBBBBBB).u16(0xCCCC);  // read and discarded
  auto button = As<CSDButton>(ExpectLoadsAsNewest(v2.data, ButtonFieldsV(3).data));
  EXPECT_EQ(button->buttonVersion, 2);
  EXPECT_EQ(button->caption, "OK");
  EXPECT_EQ(button->pressedPicture, "P.BMP");
  EXPECT_EQ(button->textShadowColor, 6u);
  EXPECT_EQ(button->buttonAux2, 77u);
  As<CSDButton>(ExpectLoadsAsNewest(ButtonFieldsV(1).data, ButtonFieldsV(3).data));
  EXPECT_EQ(LoadFailure(ButtonFieldsV(0).data), CArchiveException::badSchema);
  EXPECT_EQ(LoadFailure(ButtonFieldsV(4).data), CArchiveException::badSchema);
}

TEST(ButtonTest, ResetDefaults) {
  CSDButton button;
  button.Reset();
  EXPECT_EQ(button.showMode, 2);
  EXPECT_EQ(button.stretchPicture, 3);
  EXPECT_EQ(button.buttonAux1, 1);
  EXPECT_EQ(button.frameWidth, 2);
  EXPECT_EQ(button.bevelWidth, 2);
}

TEST(HotSpotTest, OutlineRoundTripsAndHugeCountsAreRefused) {
  Bytes b = Visible("CHotSpot");
  b.u16(1).u32(2).u32(2).u32(5).u32(2).i32(1).i32(2).i32(30).i32(40);
  auto spot = As<CHotSpot>(ExpectLoadsAsNewest(b.data, b.data));
  EXPECT_EQ(spot->fillMode, 2u);
  ASSERT_EQ(spot->outline.size(), 2u);
  EXPECT_EQ(spot->outline[1].y, 40);

  Bytes huge = Visible("CHotSpot");
  huge.u16(1).u32(0).u32(1).u32(2).u32(0x20000000).i32(1).i32(2);
  EXPECT_EQ(LoadFailure(huge.data), CArchiveException::endOfFile);
  Bytes v2 = Visible("CHotSpot");
  v2.u16(2).u32(0).u32(1).u32(2).u32(0);
  EXPECT_EQ(LoadFailure(v2.data), CArchiveException::badSchema);

  CHotSpot fresh;
  fresh.outline.push_back({1, 1});
  fresh.Reset();
  EXPECT_TRUE(fresh.outline.empty());
  EXPECT_EQ(fresh.fillMode, 1u);
  EXPECT_EQ(fresh.hotAux, 2u);
}

// A menu of one top item "File" with one sub-item "Open". Entries: CMenuObj
// class 1, the insert 2, CMenuItem class 3, "File" 4, "Open" 5.
Bytes MenuBytes(uint16_t menuVersion) {
  Bytes b;
  b.newClass("CMenuObj", 0).u16(menuVersion).add(test::VisibleRecord());
  b.u16(1).u8(0).i32(5).i32(6).u8(1);  // definition: version, popup, originX, originY, windowMenu
  b.u16(1).u8(1);                      // menuFont: the default font
  b.u16(1).u16(1).newClass("CMenuItem", 0);  // top list: version, one item
  b.u16(1).u32(3).str("File").u8(0).u8(0).u16(10000).u8(1).u8(0).u8(1).u16(0).str("");
  b.u16(1).u16(1).u16(0x8003);  // its sub-list: one item of class entry 3
  b.u16(1).u32(4).str("Open").u8(1).u8(1).u16(10001).u8(0).u8(0).u8(1).u16(42).str("scene2");
  b.u16(1).u16(0);  // an empty sub-list
  return b;
}

TEST(MenuTest, TreeRoundTripsAndCopiesDeep) {
  auto menu = As<CMenuObj>(ExpectLoadsAsNewest(MenuBytes(1).data, MenuBytes(1).data));
  const CMenuDefinition& def = menu->storedMenu;
  EXPECT_EQ(def.windowMenu, 1);
  EXPECT_EQ(def.originY, 6);
  ASSERT_EQ(def.topItems.items.size(), 1u);
  const CMenuItem& file = *def.topItems.items[0];
  EXPECT_EQ(file.text, "File");
  EXPECT_EQ(file.commandId, 10000);
  ASSERT_EQ(file.subItems.items.size(), 1u);
  EXPECT_EQ(file.subItems.items[0]->argument, "scene2");
  EXPECT_EQ(file.subItems.items[0]->command, 42);

  auto copy = std::dynamic_pointer_cast<CMenuObj>(menu->Clone(false));
  ASSERT_TRUE(copy);
  EXPECT_NE(copy->storedMenu.topItems.items[0], def.topItems.items[0]);
  EXPECT_NE(copy->storedMenu.topItems.items[0]->subItems.items[0], file.subItems.items[0]);
  EXPECT_EQ(copy->storedMenu.topItems.items[0]->subItems.items[0]->text, "Open");
}

TEST(MenuTest, BadVersionsSharedItemsAndDeepNestingFail) {
  EXPECT_EQ(LoadFailure(MenuBytes(2).data), CArchiveException::badSchema);

  // The top list names the same item twice: its record would be read twice.
  Bytes twice;
  twice.newClass("CMenuObj", 0).u16(1).add(test::VisibleRecord());
  twice.u16(1).u8(0).i32(0).i32(0).u8(0).u16(1).u8(1);
  twice.u16(1).u16(2).newClass("CMenuItem", 0).u16(4);
  for (int i = 0; i < 2; ++i) twice.u16(1).u32(0).str("A").u8(0).u8(0).u16(10000).u8(0).u8(0).u8(1).u16(0).str("").u16(1).u16(0);
  std::string detail;
  EXPECT_EQ(LoadFailure(twice.data, &detail), CArchiveException::badIndex);
  EXPECT_EQ(detail, "menu item listed twice");

  // Sub-lists nested deeper than any authored menu.
  Bytes deep;
  deep.newClass("CMenuObj", 0).u16(1).add(test::VisibleRecord());
  deep.u16(1).u8(0).i32(0).i32(0).u8(0).u16(1).u8(1);
  deep.u16(1).u16(1).newClass("CMenuItem", 0);
  for (int level = 0; level < 40; ++level) {
    deep.u16(1).u32(0).str("A").u8(0).u8(0).u16(10000).u8(1).u8(0).u8(1).u16(0).str("");
    deep.u16(1).u16(1).u16(0x8003);
  }
  EXPECT_EQ(LoadFailure(deep.data, &detail), CArchiveException::badIndex);
  EXPECT_EQ(detail, "menu items nested too deeply");
}

TEST(MenuTest, MoreThanFiveHundredItemsAreRefused) {
  // Two lists of 250 and 251 items: the bound counts the whole menu.
  auto menuOf = [](int first, int second) {
    Bytes b;
    b.newClass("CMenuObj", 0).u16(1).add(test::VisibleRecord());
    b.u16(1).u8(0).i32(0).i32(0).u8(0).u16(1).u8(1);
    b.u16(1).u16(2).newClass("CMenuItem", 0).u16(0x8003);  // top list: two items
    auto leaf = [&] { b.u16(1).u32(0).str("L").u8(0).u8(0).u16(10000).u8(0).u8(0).u8(1).u16(0).str("").u16(1).u16(0); };
    for (int count : {first, second}) {
      b.u16(1).u32(0).str("T").u8(0).u8(0).u16(10000).u8(1).u8(0).u8(1).u16(0).str("");
      b.u16(1).u16(uint16_t(count));
      for (int i = 0; i < count; ++i) b.u16(0x8003);
      for (int i = 0; i < count; ++i) leaf();
    }
    return b;
  };
  RegisterInsertClasses();
  Bytes fits = menuOf(249, 249);  // 2 + 498 items
  Archive ok(fits.data, "test");
  EXPECT_TRUE(ok.ReadObject(nullptr));
  std::string detail;
  EXPECT_EQ(LoadFailure(menuOf(249, 250).data, &detail), CArchiveException::badIndex);
  EXPECT_EQ(detail, "more than 500 items in one menu");
}

TEST(MenuTest, AnItemSharedWithAnotherMenuIsRefused) {
  Bytes b = MenuBytes(1);  // entries 1 to 5
  b.u16(0x8001).u16(1).add(test::VisibleRecord());  // a second CMenuObj, entry 6
  b.u16(1).u8(0).i32(0).i32(0).u8(0).u16(1).u8(1);
  b.u16(1).u16(1).u16(4);  // its top list names "File", entry 4
  b.u16(1).u32(0).str("X").u8(0).u8(0).u16(10000).u8(0).u8(0).u8(1).u16(0).str("").u16(1).u16(0);
  RegisterInsertClasses();
  Archive ar(b.data, "test");
  ASSERT_TRUE(ar.ReadObject(nullptr));
  try {
    ar.ReadObject(nullptr);
    FAIL() << "the shared item was read twice";
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::badIndex);
    EXPECT_EQ(e.m_detail, "menu item listed twice");
  }
}

Bytes DataEntryBytes(uint8_t firstSelect, uint8_t secondSelect) {
  Bytes b = Visible("CDataEntry");
  b.u16(1).u16(1).u8(1);                    // version; entryFont: default
  b.u8(4).str("");                          // maskType, mask
  b.u8(firstSelect).u8(1).u8(1);            // selectOnFocus, readOnly, autoTab
  b.u8(secondSelect);                       // selectOnFocus again
  b.u8(1).u8(0).u8(1).u8(0).u8(1).u8(1);    // insertMode .. useColors
  b.u32(0x000000FF).u32(0x00EEEEEE).u8(3);  // entryTextColor, entryBackColor, entryAuxFlag
  b.str("*").str("_").str("G").str("V").str("1").str("9").u32(11).u32(12);
  return b;
}

TEST(DataEntryTest, TheSecondSelectOnFocusCopyWinsAndTheFirstIsKept) {
  auto entry = As<CDataEntry>(ExpectLoadsAsNewest(DataEntryBytes(1, 0).data, DataEntryBytes(1, 0).data));
  EXPECT_EQ(entry->selectOnFocus, 0);
  EXPECT_EQ(entry->firstSelectOnFocus, 1);
  EXPECT_EQ(entry->maskType, 4);
  EXPECT_EQ(entry->readOnly, 1);
  EXPECT_EQ(entry->passwordChar, "*");
  EXPECT_EQ(entry->maximum, "9");
  EXPECT_EQ(entry->auxValue2, 12u);
  Bytes v2 = DataEntryBytes(1, 1);
  v2.data[KindVersionAt("CDataEntry")] = 2;
  EXPECT_EQ(LoadFailure(v2.data), CArchiveException::badSchema);

  CDataEntry fresh;
  fresh.Reset();
  EXPECT_EQ(fresh.promptChar, " ");
  EXPECT_EQ(fresh.entryBackColor, 0x00FFFFFFu);
  EXPECT_EQ(fresh.border, 1);
}

TEST(RtfTest, Version1LoadsWhiteWithoutFlags) {
  Bytes v1 = Visible("CRTF");
  v1.u16(1).str("DOC.RTF").u8(1);
  Bytes v3 = Visible("CRTF");
  v3.u16(3).str("").u8(0).u8(0).u32(0x00FFFFFF).str("DOC.RTF").u8(1);
  auto rtf = As<CRTF>(ExpectLoadsAsNewest(v1.data, v3.data));
  EXPECT_EQ(rtf->rtfVersion, 1);
  EXPECT_EQ(rtf->rtfFile, "DOC.RTF");
  EXPECT_EQ(rtf->withFrame, 1);
  Bytes v2 = Visible("CRTF");
  v2.u16(2).u32(0x00123456).str("A.TXT").u8(0);
  Bytes v2as3 = Visible("CRTF");
  v2as3.u16(3).str("").u8(0).u8(0).u32(0x00123456).str("A.TXT").u8(0);
  EXPECT_EQ(As<CRTF>(ExpectLoadsAsNewest(v2.data, v2as3.data))->rtfBackColor, 0x00123456u);
  Bytes v4 = Visible("CRTF");
  v4.u16(4).str("").u8(0).u8(0).u32(0).str("").u8(0);
  EXPECT_EQ(LoadFailure(v4.data), CArchiveException::badSchema);
}

TEST(StageCursorTest, VersionWordComesFirst) {
  Bytes b;
  b.newClass("CStageCursor", 0).u16(1).add(test::VisibleRecord());
  auto cursor = As<CStageCursor>(ExpectLoadsAsNewest(b.data, b.data));
  EXPECT_EQ(cursor->cursorVersion, 1);
  EXPECT_EQ(cursor->cursorId, 0xFFFF);
  Bytes v2;
  v2.newClass("CStageCursor", 0).u16(2).add(test::VisibleRecord());
  EXPECT_EQ(LoadFailure(v2.data), CArchiveException::badSchema);
}

Bytes OleBytes(uint32_t creationLength) {
  Bytes b = Visible("COleCtl", 1);
  b.u16(1);
  for (uint8_t i = 0; i < 16; ++i) b.u8(i);   // controlClsid
  b.u32(5).str("CTL.OCX");                    // controlAux1, controlFile
  b.u16(2).str("A.DLL").str("B.DAT");         // supportFiles
  b.u32(6).u32(1).u8(1).u8(2).u8(3).u32(7).u32(8);
  b.u32(creationLength).raw({0xDE, 0xAD, 0xBF});  // creationData
  b.u16(2).raw({0x01, 0x02});                 // persistedState
  return b;
}

TEST(OleControlTest, BlocksRoundTripAndLengthsAreBounded) {
  auto ole = As<COleCtl>(ExpectLoadsAsNewest(OleBytes(3).data, OleBytes(3).data));
  EXPECT_EQ(ole->controlClsid[15], 15);
  ASSERT_EQ(ole->supportFiles.size(), 2u);
  EXPECT_EQ(ole->supportFiles[1], "B.DAT");
  EXPECT_EQ(ole->creationData, (std::vector<uint8_t>{0xDE, 0xAD, 0xBF}));
  EXPECT_EQ(ole->persistedState, (std::vector<uint8_t>{0x01, 0x02}));
  EXPECT_EQ(ole->GetKindId(), 1000);
  EXPECT_EQ(LoadFailure(OleBytes(0xFFFFFFF0u).data), CArchiveException::endOfFile);
}

// The frame part at `frameVersion`, then the sprite part at `spriteVersion`.
Bytes SpriteBytes(uint16_t frameVersion, uint16_t spriteVersion) {
  Bytes b = Visible("CSprite");
  b.u16(frameVersion);
  if (frameVersion == 2) b.u32(1).u32(1284).u32(50).u32(60).u32(70).u32(80);
  if (frameVersion >= 2) b.u32(frameVersion == 1 ? 0 : 1);  // skipFirstCellOnLoop
  for (int f = 1; f <= 9; ++f) b.str(f == 3 ? "RIGHT.BMP" : "").u32(6 + f);
  b.u32(5).u32(1).u32(200).u32(1).u32(300).u32(7);
  if (frameVersion == 1) b.u32(99).u32(98);  // read and discarded
  b.u16(spriteVersion);
  if (spriteVersion >= 3) b.u32(4);
  if (spriteVersion >= 2) b.u32(2);
  b.u32(3).u32(1);  // defaultFrame, spriteAux1
  for (int r = 0; r < 9; ++r) b.str("").str("").u32(1156).u32(1171).u32(1).u32(7);
  return b;
}

TEST(SpriteTest, OldFrameAndSpritePartsWriteVersion3) {
  // Written from version 1: skip flag 0, spriteAux3 0 and spriteAux2 1 (their defaults).
  Bytes newestFromV1 = Visible("CSprite");
  newestFromV1.u16(3).u32(0);
  for (int f = 1; f <= 9; ++f) newestFromV1.str(f == 3 ? "RIGHT.BMP" : "").u32(6 + f);
  newestFromV1.u32(5).u32(1).u32(200).u32(1).u32(300).u32(7);
  newestFromV1.u16(3).u32(0).u32(1).u32(3).u32(1);
  for (int r = 0; r < 9; ++r) newestFromV1.str("").str("").u32(1156).u32(1171).u32(1).u32(7);
  auto sprite = As<CSprite>(ExpectLoadsAsNewest(SpriteBytes(1, 1).data, newestFromV1.data));
  EXPECT_EQ(sprite->frameSprite.frameVersion, 1);
  EXPECT_EQ(sprite->spriteVersion, 1);
  EXPECT_EQ(sprite->frameSprite.frames[2].framePicture, "RIGHT.BMP");
  EXPECT_EQ(sprite->frameSprite.frames[8].distancePerCell, 15u);
  EXPECT_EQ(sprite->frameSprite.cycleStartDelay, 300u);
  EXPECT_EQ(sprite->defaultFrame, 3u);

  As<CSprite>(ExpectLoadsAsNewest(SpriteBytes(3, 3).data, SpriteBytes(3, 3).data));
  EXPECT_EQ(LoadFailure(SpriteBytes(4, 3).data), CArchiveException::badSchema);
  EXPECT_EQ(LoadFailure(SpriteBytes(3, 4).data), CArchiveException::badSchema);
}

TEST(SpriteTest, LegacyRecordsAreCarriedAsFound) {
  Bytes b = SpriteBytes(3, 3);
  // The last legacy record's last value, 7, becomes 8; its first text "" becomes "x".
  b.data[b.data.size() - 4] = 8;  // low byte of the little-endian value
  size_t lastRecord = b.data.size() - (2 + 16);
  b.data[lastRecord] = 1;
  b.data.insert(b.data.begin() + static_cast<std::ptrdiff_t>(lastRecord) + 1, 'x');
  auto sprite = As<CSprite>(ExpectLoadsAsNewest(b.data, b.data));
  EXPECT_EQ(sprite->legacyRecords[8].text1, "x");
  EXPECT_EQ(sprite->legacyRecords[8].values[3], 8u);
  EXPECT_EQ(sprite->legacyRecords[0].values[0], 1156u);
}

TEST(SpriteTest, FrameVersion2CarriesTheOwnersScaling) {
  auto sprite = As<CSprite>(test::LoadObject(SpriteBytes(2, 2).data));
  EXPECT_EQ(sprite->scaleEnabled, 1);
  EXPECT_EQ(sprite->scaleMode, 1284);
  EXPECT_EQ(sprite->scaleAtLeft, 50);
  EXPECT_EQ(sprite->scaleAtBottom, 80);
  EXPECT_EQ(sprite->scaleAtFront, 100);  // not part of the six
  EXPECT_EQ(sprite->frameSprite.skipFirstCellOnLoop, 1u);
  EXPECT_EQ(sprite->spriteAux2, 2u);
  EXPECT_EQ(sprite->spriteAux3, 0u);
  CSprite fresh;
  fresh.Reset();
  EXPECT_EQ(fresh.showMode, 3);
  EXPECT_EQ(fresh.frameSprite.historyLength, 5u);
  EXPECT_EQ(fresh.frameSprite.frames[0].distancePerCell, 6u);
}

Bytes AviTail(Bytes b) {
  b.u8(1).u8(0).u8(2).u32(100).u32(200).u32(900).u32(1000).u16(3).u8(1).u8(1).str("M.AVI").str("Cap");
  return b;
}

TEST(MovieTest, Version1WritesVersion3WithDefaults) {
  Bytes v1 = Visible("CAVI");
  v1.u16(1);
  Bytes v3 = Visible("CAVI");
  v3.u16(3).u32(0).u8(0);
  auto avi = As<CAVI>(ExpectLoadsAsNewest(AviTail(v1).data, AviTail(v3).data));
  EXPECT_EQ(avi->movieVersion, 1);
  EXPECT_EQ(avi->endMs, 1000u);
  EXPECT_EQ(avi->movieCaption, "Cap");
  Bytes full = Visible("CAVI");
  full.u16(3).u32(8).u8(9);
  auto again = As<CAVI>(ExpectLoadsAsNewest(AviTail(full).data, AviTail(full).data));
  EXPECT_EQ(again->movieAux3, 8u);
  EXPECT_EQ(again->movieAux2, 9);
  CAVI fresh;
  fresh.transparent = 1;
  fresh.Reset();
  EXPECT_EQ(fresh.transparentColor, 0u);
  EXPECT_EQ(fresh.silenceSounds, 1);
  EXPECT_EQ(fresh.showMode, 2);
}

TEST(MediaPlayerTest, RecordRoundTrips) {
  Bytes b = Visible("CMPlayer");
  b.u16(1).u32(0x841).u8(1).u8(0).u32(5).u8(1).u8(2).u8(3).u8(4).u32(1000).u32(5000).f64(12.5);
  b.u16(6).u8(7).u8(1).str("SONG.MP3").str("param");
  auto player = As<CMPlayer>(ExpectLoadsAsNewest(b.data, b.data));
  EXPECT_EQ(player->playerOptions, 0x841u);
  EXPECT_DOUBLE_EQ(player->duration, 12.5);
  EXPECT_EQ(player->playerText, "param");
  b.data[KindVersionAt("CMPlayer")] = 2;
  EXPECT_EQ(LoadFailure(b.data), CArchiveException::badSchema);
}

TEST(ThreeDTest, RecordRoundTrips) {
  Bytes b = Visible("C3d", 1);
  b.u16(1).str("CUBE.3DMF").u32(50).i32(1).i32(-2).i32(3).u32(0x00102030).u8(1).u8(1).u32(1);
  for (uint8_t i = 0; i < 10; ++i) b.u8(i + 1);
  auto model = As<C3d>(ExpectLoadsAsNewest(b.data, b.data));
  EXPECT_EQ(model->spinY, -2);
  EXPECT_EQ(model->modelAux[9], 10);
  C3d fresh;
  fresh.Reset();
  EXPECT_EQ(fresh.spinInterval, 100u);
  EXPECT_EQ(fresh.clearColor, 0x00FFFFFFu);
  EXPECT_EQ(fresh.showMode, 2);
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

Bytes CollectBytes(uint16_t version, uint32_t listCount) {
  Bytes b;
  b.newClass("CCollectData", 0).u16(version);
  if (version >= 3) b.u8(1).u8(2);
  if (version >= 2) b.u32(3);
  b.u32(4).u32(5).u32(6).u32(7).str("a").str("b").str("c").str("d");
  b.u32(listCount).str("one").str("two");
  return b;
}

TEST(CollectDataTest, OlderRecordsWriteVersion3AndTheListIsBounded) {
  auto data = As<CCollectData>(ExpectLoadsAsNewest(CollectBytes(3, 2).data, CollectBytes(3, 2).data));
  EXPECT_EQ(data->record.byteB, 2);
  EXPECT_EQ(data->record.lead, 3u);
  EXPECT_EQ(data->record.texts[3], "d");
  ASSERT_EQ(data->record.list.size(), 2u);
  // Version 1 lacks the two bytes and the leading value; they stay 0.
  Bytes v3 = CollectBytes(1, 2);
  Bytes expected;
  expected.newClass("CCollectData", 0).u16(3).u8(0).u8(0).u32(0);
  expected.u32(4).u32(5).u32(6).u32(7).str("a").str("b").str("c").str("d").u32(2).str("one").str("two");
  As<CCollectData>(ExpectLoadsAsNewest(v3.data, expected.data));
  EXPECT_EQ(LoadFailure(CollectBytes(4, 2).data), CArchiveException::badSchema);
  EXPECT_EQ(LoadFailure(CollectBytes(3, 0x40000000).data), CArchiveException::endOfFile);
}

}  // namespace
}  // namespace kv
