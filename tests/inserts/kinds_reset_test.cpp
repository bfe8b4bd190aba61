// A load resets each insert it makes the short way: the field resets are
// skipped because the constructor has only just given every field its new
// value. For each kind that must leave what the full reset leaves.
#include <gtest/gtest.h>

#include "engine/insert.h"
#include "engine/kinds.h"
#include "ext/register.h"
#include "inserts/display.h"
#include "persist/json_fields.h"
#include "tests/inserts/kind_bytes.h"

namespace kv {
namespace {

TEST(KindsReset, ANewObjectResetsTheShortWayToWhatTheFullResetGives) {
  RegisterInsertClasses();
  size_t checked = 0;
  for (const ClassInfo* info : ClassRegistry::All()) {
    if (!info->factory || !info->IsDerivedFrom(CInsert::StaticClass())) continue;
    SCOPED_TRACE(info->name);
    auto full = std::static_pointer_cast<CInsert>(info->factory());
    auto made = std::static_pointer_cast<CInsert>(info->factory());
    full->Reset();
    made->ResetMade();
    EXPECT_FALSE(made->FieldsAsMade());
    EXPECT_EQ(ObjectToJson(*made).dump(1), ObjectToJson(*full).dump(1));
    ++checked;
  }
  // Every kind of the table is registered with a factory.
  EXPECT_GE(checked, KindTable().size());
}

// An image at the oldest version of every part: the common record, the
// visible part and the image part at version 1, so that most fields are not
// stored and keep what the reset gave them.
test::Bytes OldestImageRecord() {
  test::Bytes b;
  b.u16(1);                                 // common record version
  b.u32(1).u8(0).u32(0).u32(0);             // active, threaded, delayMs, auxValue
  b.str("").str("old");                     // comment, name
  b.u8(1).u8(127);                          // editorFlag, layer
  b.i32(0).i32(0).i32(64).i32(64);          // rect
  b.u8(0).u8(0).u8(0);                      // auxByte, runState, handlerCount
  b.u16(1);                                 // visible part version
  b.u16(0).u16(0).u16(0);                   // showEffect, hideEffect, drawMode
  b.i32(9).i32(9);                          // showSpeed, hideSpeed
  b.u16(4).u16(8).u16(4).u16(8);            // show and hide parameters
  b.u8(1).u8(1).u8(0);                      // stretchPicture, auxOption1, hasPath
  b.u8(1).u32(0).u8(0).u8(0);               // whenDone, displayTime, paletteMode, transparent
  b.u32(0xFF00FF).u8(0);                    // transparentColor, colorTolerance
  b.str("").u16(0xFFFF).u16(0);             // cursorFile, cursorId, auxWord1
  b.u16(1).u16(0).str("a.bmp").u32(0);      // image version, option, file, value
  return b;
}

TEST(KindsReset, AnExistingObjectLoadsAsANewOneDoes) {
  RegisterInsertClasses();
  const test::Bytes record = OldestImageRecord();
  test::Bytes tagged;
  tagged.newClass("CDisplay", 1).add(record);
  const ObjectPtr made = test::LoadObject(tagged.data);

  // Loaded into an object that has been used, the fields the old record
  // lacks leave none of the earlier values behind.
  CDisplay used;
  used.auxText1 = "left over";
  used.flags = 9;
  used.hotkeys.push_back({'K', 2});
  used.scaleAtLeft = 50;
  used.auxOption3 = 1;
  Archive in(std::span(record.data.data(), record.data.size()), "t");
  used.Serialize(in);
  EXPECT_EQ(in.Remaining(), 0u);
  EXPECT_EQ(used.auxText1, "");
  EXPECT_EQ(used.flags, 0);
  EXPECT_TRUE(used.hotkeys.empty());
  EXPECT_EQ(used.scaleAtLeft, 100);
  EXPECT_EQ(used.auxOption3, 0);
  EXPECT_EQ(ObjectToJson(used).dump(1), ObjectToJson(*made).dump(1));
}

}  // namespace
}  // namespace kv
