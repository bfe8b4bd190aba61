#include "platform/byte_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace kv {
namespace {

struct Short {
  const void* context;
};
void ThrowShort(const void* context) { throw Short{context}; }

// 0x0201 as two bytes low first, 0x06050403 likewise, then 0x0708 high
// first and one more byte.
const std::vector<uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};

TEST(ByteReaderTest, ReadsLittleEndianUnlessNamedOtherwise) {
  ByteReader in(kBytes, ThrowShort);
  EXPECT_EQ(in.U16(), 0x0201);
  EXPECT_EQ(in.U32(), 0x06050403u);
  EXPECT_EQ(in.U16Be(), 0x0708);
  EXPECT_EQ(in.Remaining(), 1u);
  EXPECT_EQ(in.U8(), 0x09);
  EXPECT_TRUE(in.AtEnd());
  in.Seek(1);
  EXPECT_EQ(in.U32Be(), 0x02030405u);
  in.Seek(0);
  EXPECT_EQ(in.U64(), 0x0807060504030201u);
  EXPECT_EQ(in.Position(), 8u);
}

struct ShortCase {
  const char* label;
  size_t at;
  std::function<void(ByteReader&)> read;
};

class ByteReaderShortTest : public testing::TestWithParam<ShortCase> {};

// Every read that would pass the end calls the handler with the context and
// leaves the position where it was.
TEST_P(ByteReaderShortTest, CallsTheHandlerAndStays) {
  int owner = 0;
  ByteReader in(kBytes, ThrowShort, &owner);
  in.Seek(GetParam().at);
  try {
    GetParam().read(in);
    ADD_FAILURE() << "read past the end";
  } catch (const Short& s) {
    EXPECT_EQ(s.context, &owner);
  }
  EXPECT_EQ(in.Position(), GetParam().at);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ByteReaderShortTest,
    testing::Values(ShortCase{"u8", 9, [](ByteReader& in) { in.U8(); }},
                    ShortCase{"u16", 8, [](ByteReader& in) { in.U16(); }},
                    ShortCase{"u32", 6, [](ByteReader& in) { in.U32(); }},
                    ShortCase{"u32Be", 6, [](ByteReader& in) { in.U32Be(); }},
                    ShortCase{"take", 0, [](ByteReader& in) { in.Take(10); }},
                    // A length near 2^64 must not wrap the bound.
                    ShortCase{"hugeSkip", 1, [](ByteReader& in) { in.Skip(UINT64_MAX); }},
                    ShortCase{"seekPastEnd", 2, [](ByteReader& in) { in.Seek(10); }}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace kv
