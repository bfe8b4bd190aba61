#include <gtest/gtest.h>

#include "ext/basic_insert.h"
#include "ext/dll_insert.h"
#include "tests/inserts/kind_bytes.h"

namespace kv {
namespace {

using test::Bytes;

Bytes DllBytes(uint16_t version, uint8_t entryCount) {
  Bytes b;
  b.newClass("ScDLL", 0).add(test::VisibleRecord());
  b.u16(version).str("EXT.DLL").str("two").str("three").str("Compute");
  b.u8(entryCount);
  for (uint8_t i = 0; i < entryCount; ++i) b.u8(i == 0 ? 15 : 14).str(i == 0 ? "result" : "7").u8(i == 0 ? 0 : 1);
  b.u8(1);  // extension-object mode
  return b;
}

TEST(DllInsertTest, EntriesRoundTrip) {
  auto dll = std::dynamic_pointer_cast<ScDLL>(test::ExpectLoadsAsNewest(DllBytes(1, 3).data, DllBytes(1, 3).data));
  ASSERT_TRUE(dll);
  EXPECT_EQ(dll->dllPath, "EXT.DLL");
  EXPECT_EQ(dll->procedureName, "Compute");
  EXPECT_EQ(dll->entryCount, 3);
  EXPECT_EQ(dll->typeCodes[0], 15);
  EXPECT_EQ(dll->texts[0], "result");
  EXPECT_EQ(dll->sources[2], 1);
  EXPECT_EQ(dll->extensionMode, 1);
  EXPECT_TRUE(std::dynamic_pointer_cast<ScDLL>(test::ExpectLoadsAsNewest(DllBytes(1, 32).data, DllBytes(1, 32).data)));
}

TEST(DllInsertTest, CountsAbove32AndOtherVersionsAreRefused) {
  // The entries live in arrays of 32; a 33rd would run past them.
  std::string detail;
  EXPECT_EQ(test::LoadFailure(DllBytes(1, 33).data, &detail), CArchiveException::badSchema);
  EXPECT_NE(detail.find("entry count"), std::string::npos);
  EXPECT_EQ(test::LoadFailure(DllBytes(2, 1).data), CArchiveException::badSchema);
}

TEST(DllInsertTest, ResetTakesTheResultFromAVariable) {
  ScDLL dll;
  dll.entryCount = 5;
  dll.sources[0] = 1;
  dll.sources[4] = 0;
  dll.Reset();
  EXPECT_EQ(dll.entryCount, 1);
  EXPECT_EQ(dll.sources[0], 0);
  for (size_t i = 1; i < DllFields::kMaxEntries; ++i) EXPECT_EQ(dll.sources[i], 1) << i;
  EXPECT_EQ(dll.typeCodes[4], 0);
  EXPECT_EQ(dll.extensionMode, 0);
}

Bytes BasicBytes(uint16_t version) {
  Bytes b;
  b.newClass("CBasic", 0).add(test::VisibleRecord());
  b.u16(version).u32(0xCAFEBABE).u16(1).str("ALT.EBC").str("MAIN.EBC").u16(0x55AA);
  return b;
}

TEST(BasicInsertTest, RecordRoundTripsAndOnlyVersion1Loads) {
  auto basic = std::dynamic_pointer_cast<CBasic>(test::ExpectLoadsAsNewest(BasicBytes(1).data, BasicBytes(1).data));
  ASSERT_TRUE(basic);
  EXPECT_EQ(basic->reservedLong, 0xCAFEBABEu);
  EXPECT_EQ(basic->extensionMode, 1);
  EXPECT_EQ(basic->alternatePath, "ALT.EBC");
  EXPECT_EQ(basic->scriptPath, "MAIN.EBC");
  EXPECT_EQ(basic->reservedWord, 0x55AA);
  EXPECT_EQ(test::LoadFailure(BasicBytes(0).data), CArchiveException::badSchema);
  EXPECT_EQ(test::LoadFailure(BasicBytes(2).data), CArchiveException::badSchema);
  CBasic fresh;
  fresh.Reset();
  EXPECT_EQ(fresh.showMode, 1);
  EXPECT_EQ(fresh.scriptPath, "");
}

}  // namespace
}  // namespace kv
