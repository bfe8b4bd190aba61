#include "tests/inserts/kind_bytes.h"

#include <cstring>
#include <stdexcept>

#include "ext/register.h"

namespace kv::test {

Bytes& Bytes::f64(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  return u32(static_cast<uint32_t>(bits)).u32(static_cast<uint32_t>(bits >> 32));
}

Bytes CommonRecordV5() {
  Bytes b;
  b.u16(5);          // record version
  b.str("").str("");  // auxText1, auxText2
  b.u16(0);          // flags
  b.u16(0);          // auxWord
  b.u32(0);          // auxLong
  b.u32(0);          // hotkeyCount, no pairs follow
  b.i32(1);          // showMode
  b.u32(1);          // active
  b.u8(0);           // threaded
  b.u32(0);          // delayMs
  b.u32(0);          // auxValue
  b.str("");         // comment
  b.str("obj");      // name
  b.u8(1);           // editorFlag
  b.u8(127);         // layer
  b.i32(10).i32(20).i32(110).i32(70);  // rect
  b.u8(0);           // auxByte
  b.u8(0);           // runState
  b.u8(0);           // handlerCount
  return b;
}

Bytes VisiblePartV4() {
  Bytes b;
  b.u16(4);                      // visibleVersion
  b.u8(0);                       // auxOption3
  b.u16(0).u16(0).u16(0);        // auxWord2, auxWord3, auxWord4
  b.u16(0);                      // attachedSound: the null object
  b.u32(0).u32(1283);            // scaleEnabled, scaleMode
  b.u32(100).u32(100).u32(100).u32(100).u32(100).u32(100);  // scaleAt...
  b.u8(1);                       // auxOption4
  b.u16(0).u16(0).u16(0);        // showEffect, hideEffect, drawMode
  b.u32(9).u32(9);               // showSpeed, hideSpeed
  b.u16(4).u16(8).u16(4).u16(8);  // show and hide parameters
  b.u8(1).u8(1).u8(0);           // stretchPicture, auxOption1, hasPath
  b.u8(1);                       // whenDone
  b.u32(0);                      // displayTime
  b.u8(0).u8(0);                 // paletteMode, transparent
  b.u32(0x00F0F8F8);             // transparentColor
  b.u8(0);                       // colorTolerance
  b.str("");                     // cursorFile
  b.u16(0xFFFF);                 // cursorId: from the file
  b.u16(0);                      // auxWord1
  return b;
}

ObjectPtr LoadObject(const std::vector<uint8_t>& bytes) {
  RegisterInsertClasses();
  Archive ar(bytes, "test");
  ObjectPtr object = ar.ReadObject(nullptr);
  if (ar.Remaining() != 0) throw std::runtime_error(std::to_string(ar.Remaining()) + " bytes left unread");
  return object;
}

std::vector<uint8_t> StoreObject(const CObject& object) {
  Archive ar("test");
  ar.WriteObject(&object);
  return ar.buffer();
}

int LoadFailure(const std::vector<uint8_t>& bytes, std::string* detail) {
  RegisterInsertClasses();
  try {
    Archive ar(bytes, "test");
    ar.ReadObject(nullptr);
  } catch (const CArchiveException& e) {
    if (detail) *detail = e.m_detail;
    return e.m_cause;
  }
  return -1;
}

}  // namespace kv::test

#include <gtest/gtest.h>

#include "engine/insert.h"

namespace kv::test {

ObjectPtr ExpectLoadsAsNewest(const std::vector<uint8_t>& stored, const std::vector<uint8_t>& newest) {
  ObjectPtr object = LoadObject(stored);
  EXPECT_EQ(StoreObject(*object), newest) << "written back from " << stored.size() << " stored bytes";
  ObjectPtr again = LoadObject(newest);
  EXPECT_EQ(StoreObject(*again), newest) << "the newest form does not write back unchanged";
  if (auto insert = std::dynamic_pointer_cast<CInsert>(again)) {
    InsertPtr copy = insert->Clone(false);
    EXPECT_EQ(StoreObject(*copy), newest) << "a clone lost a stored field";
  }
  return object;
}

}  // namespace kv::test
