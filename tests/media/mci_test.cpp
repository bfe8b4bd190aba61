#include "media/mci.h"

#include <gtest/gtest.h>

#include "tests/inserts/kind_bytes.h"

namespace kv {
namespace {

using test::Bytes;

Bytes MciBytes(uint16_t version) {
  Bytes b;
  b.newClass("CMCI", 0).add(test::CommonRecordV5());
  b.u16(version).str("play").str("music").str("from 0 notify").u8(1).u32(0x01020304);
  return b;
}

TEST(MciTest, RecordRoundTripsAndOnlyVersion1Loads) {
  auto mci = std::dynamic_pointer_cast<CMCI>(test::ExpectLoadsAsNewest(MciBytes(1).data, MciBytes(1).data));
  ASSERT_TRUE(mci);
  EXPECT_EQ(mci->mciVerb, "play");
  EXPECT_EQ(mci->mciTarget, "music");
  EXPECT_EQ(mci->mciParameters, "from 0 notify");
  EXPECT_EQ(mci->showErrors, 1);
  EXPECT_EQ(mci->mciValue, 0x01020304u);
  EXPECT_EQ(test::LoadFailure(MciBytes(2).data), CArchiveException::badSchema);
}

}  // namespace
}  // namespace kv
