#include "persist/field_walk.h"

#include <gtest/gtest.h>

#include "persist/document.h"
#include "persist/json_fields.h"
#include "tests/persist/bytes.h"

namespace kv {
namespace {

using test::Bytes;

struct Pair {
  uint16_t a = 0;
  uint32_t b = 0;
};

// A record with a version word, a versioned field, counted records and a
// field stored only on a condition.
struct Sample {
  uint16_t version = 0;
  uint8_t flag = 0;
  std::string text = "default";
  std::vector<Pair> pairs;
  uint8_t hasExtra = 0;
  uint32_t extra = 7;

  template <class W>
  void Walk(W& w) {
    const uint16_t v = w.Version("version", version, 2, 1, "Sample");
    if (v >= 2) w("flag", flag);
    w("text", text);
    w.Records("pairs", "pairCount", pairs, CountForm::kU32, 6, [&w](Pair& p) {
      w("a", p.a);
      w("b", p.b);
    });
    w("hasExtra", hasExtra);
    w.When(hasExtra != 0, "extra", extra, 99u);
  }
};

std::vector<uint8_t> Store(Sample& s) {
  Archive ar("sample");
  ArchiveWalk w(ar);
  s.Walk(w);
  return ar.buffer();
}

Sample Load(const std::vector<uint8_t>& bytes) {
  Archive ar(bytes, "sample");
  ArchiveWalk w(ar);
  Sample s;
  s.Walk(w);
  EXPECT_EQ(ar.Remaining(), 0u);
  return s;
}

TEST(FieldWalkTest, StoresInWalkOrderWithTheNewestVersion) {
  Sample s;
  s.flag = 5;
  s.text = "ab";
  s.pairs = {{0x0102, 0x03040506}};
  s.hasExtra = 1;
  s.extra = 0x11;
  // version 2 (u16), flag, "ab" with its length byte, the u32 count 1, the
  // pair's u16 and u32, hasExtra, then extra because hasExtra is set.
  const Bytes want = Bytes().u16(2).u8(5).str("ab").u32(1).u16(0x0102).u32(0x03040506).u8(1).u32(0x11);
  EXPECT_EQ(Store(s), want.b);
}

struct LoadCase {
  const char* label;
  Bytes bytes;
  uint16_t version;
  uint8_t flag;
  size_t pairs;
  uint32_t extra;
};

class FieldWalkLoadTest : public testing::TestWithParam<LoadCase> {};

TEST_P(FieldWalkLoadTest, ReadsWhatTheVersionAndConditionsHold) {
  const LoadCase& c = GetParam();
  Sample s = Load(c.bytes.b);
  EXPECT_EQ(s.version, c.version);
  EXPECT_EQ(s.flag, c.flag);
  EXPECT_EQ(s.pairs.size(), c.pairs);
  EXPECT_EQ(s.extra, c.extra);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FieldWalkLoadTest,
    testing::Values(
        // Version 1 has no flag byte; hasExtra 0 leaves the absent value 99.
        LoadCase{"v1", Bytes().u16(1).str("x").u32(0).u8(0), 1, 0, 0, 99},
        // Version 2 with the flag and two pairs, extra present.
        LoadCase{"v2", Bytes().u16(2).u8(3).str("").u32(2).u16(1).u32(2).u16(3).u32(4).u8(1).u32(8), 2, 3, 2, 8}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FieldWalkTest, RefusesACountLargerThanTheInput) {
  // Two million pairs announced, none present.
  const Bytes b = Bytes().u16(2).u8(0).str("").u32(2000000);
  EXPECT_THROW(Load(b.b), CArchiveException);
}

TEST(FieldWalkTest, RefusesAVersionOutOfRange) {
  EXPECT_THROW(Load(Bytes().u16(3).b), CArchiveException);
  EXPECT_THROW(Load(Bytes().u16(0).b), CArchiveException);
}

struct Holder {
  std::vector<std::shared_ptr<CObject>> list;
  template <class W>
  void Walk(W& w) {
    w.Objects("list", list, CountForm::kU8);
  }
};

TEST(FieldWalkTest, OneByteCountRefusesMoreThan255Objects) {
  Holder h;
  h.list.resize(256);
  Archive ar("holder");
  ArchiveWalk w(ar);
  EXPECT_THROW(h.Walk(w), CArchiveException);

  h.list.resize(2);  // two null references: count byte 2, then 0x0000 twice
  Archive ok("holder");
  ArchiveWalk w2(ok);
  h.Walk(w2);
  EXPECT_EQ(ok.buffer(), Bytes().u8(2).u16(0).u16(0).b);
}

TEST(FieldWalkTest, CopyTakesEveryFieldAndTheConditionalRule) {
  Sample from;
  from.version = 1;
  from.flag = 4;
  from.text = "t";
  from.pairs = {{1, 2}, {3, 4}};
  from.hasExtra = 0;
  from.extra = 55;  // not stored while hasExtra is 0: the copy holds the absent value
  Sample to;
  FieldTransfer::Copy(to, from);
  EXPECT_EQ(to.version, 1);
  EXPECT_EQ(to.flag, 4);
  EXPECT_EQ(to.text, "t");
  EXPECT_EQ(to.pairs.size(), 2u);
  EXPECT_EQ(to.extra, 99u);
}

TEST(FieldWalkTest, ResetGivesNewValuesButKeepsTheVersionRead) {
  Sample s;
  s.version = 1;
  s.flag = 9;
  s.text = "changed";
  s.pairs = {{1, 2}};
  FieldTransfer::Reset(s);
  EXPECT_EQ(s.version, 1);
  EXPECT_EQ(s.flag, 0);
  EXPECT_EQ(s.text, "default");
  EXPECT_TRUE(s.pairs.empty());
}

// A walk that branches on a field value cannot be copied field by field.
struct Branchy {
  uint8_t kind = 0;
  uint32_t number = 0;
  std::string word;
  template <class W>
  void Walk(W& w) {
    if (kind) {
      w("number", number);
    } else {
      w("word", word);
    }
    w("kind", kind);
  }
};

TEST(FieldWalkTest, CopyRefusesAWalkThatBranchesOnValues) {
  Branchy from;
  from.kind = 1;
  Branchy to;
  EXPECT_THROW(FieldTransfer::Copy(to, from), std::logic_error);
}

struct LeadCase {
  int32_t leadLong;
  int64_t positiveLead;
};

class PositiveLeadTest : public testing::TestWithParam<LeadCase> {};

// The dump prints the derived flag; the pack derives it again and accepts a
// printed one only when it agrees.
TEST_P(PositiveLeadTest, PackDerivesItAndDumpPrintsIt) {
  RegisterPersistClasses();
  CStgDoc blank;
  nlohmann::ordered_json json = ObjectToJson(blank);
  json.erase("positiveLead");
  json["leadLong"] = GetParam().leadLong;

  CStgDoc packed;
  packed.positiveLead = 7;
  FillFromJson(packed, json);
  EXPECT_EQ(packed.positiveLead, GetParam().positiveLead);
  nlohmann::ordered_json dumped = ObjectToJson(packed);
  ASSERT_TRUE(dumped.contains("positiveLead"));
  EXPECT_EQ(dumped["positiveLead"].get<int64_t>(), GetParam().positiveLead);

  // A printed value is taken when it agrees and refused when it does not.
  CStgDoc agreeing;
  FillFromJson(agreeing, dumped);
  EXPECT_EQ(agreeing.positiveLead, GetParam().positiveLead);
  dumped["positiveLead"] = 1 - GetParam().positiveLead;
  CStgDoc wrong;
  EXPECT_THROW(FillFromJson(wrong, dumped), JsonFieldError);
}

INSTANTIATE_TEST_SUITE_P(Leads, PositiveLeadTest,
                         testing::Values(LeadCase{20, 1}, LeadCase{1, 1}, LeadCase{0, 0}, LeadCase{-5, 0}));

}  // namespace
}  // namespace kv
