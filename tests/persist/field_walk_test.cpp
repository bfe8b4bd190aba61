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

// Fixed arrays, raw blocks, a one-byte count, entries counted into fixed
// arrays, bytes an old version keeps, and a group met twice.
struct Fixed : CObject {
  uint16_t version = 0;
  uint8_t inner = 0;
  std::array<uint16_t, 2> pair{};
  std::array<uint8_t, 2> tag{};
  std::vector<uint8_t> blob;
  std::vector<Pair> points;
  uint8_t count = 0;
  std::array<uint16_t, 4> entries{};
  uint8_t later = 0;
  template <class W>
  void Walk(W& w) {
    const uint16_t v = w.Version("version", version, 2, 1, "Fixed");
    w.Group("g", [&] { w("inner", inner); });
    w("pair", pair);
    w.Bytes("tag", tag);
    w.Bytes("blob", blob, CountForm::kU32);
    w.Records("points", nullptr, points, CountForm::kU8, 6, [&w](Pair& p) {
      w("a", p.a);
      w("b", p.b);
    });
    w.Counted("entries", count, entries.size(), [&](size_t i) { w("e", entries[i]); });
    if (v == 1) w.Skip(2);
    w.Group("g", [&] { w("later", later); });
  }
  void Serialize(Archive& ar) override {
    ArchiveWalk w(ar);
    Walk(w);
  }
  void DescribeFields(FieldVisitor& v) override {
    JsonWalk w(v);
    Walk(w);
  }
};

Fixed FixedSample() {
  Fixed f;
  f.inner = 1;
  f.pair = {0x0102, 3};
  f.tag = {0xAA, 0xBB};
  f.blob = {1, 2, 3};
  f.points = {{5, 6}};
  f.count = 2;
  f.entries = {7, 8, 0, 0};
  f.later = 2;
  return f;
}

// Version 2, inner, the pair's two u16, the tag's two raw bytes, the blob's
// u32 count and bytes, one point after its count byte, the entry count byte
// and two u16 entries, then later.
const Bytes kFixedBytes = Bytes().u16(2).u8(1).u16(0x0102).u16(3).raw({0xAA, 0xBB}).u32(3).raw({1, 2, 3})
                              .u8(1).u16(5).u32(6).u8(2).u16(7).u16(8).u8(2);

TEST(FieldWalkTest, FixedFormsStoreByTheirRules) {
  Fixed f = FixedSample();
  Archive ar("fixed");
  f.Serialize(ar);
  EXPECT_EQ(ar.buffer(), kFixedBytes.b);
}

TEST(FieldWalkTest, VersionOneSkipsTheBytesNothingReads) {
  // As kFixedBytes at version 1 with no blob, points or entries, and two kept bytes before later.
  const Bytes b = Bytes().u16(1).u8(0).u16(0).u16(0).raw({0, 0}).u32(0).u8(0).u8(0).raw({0xEE, 0xEE}).u8(9);
  Fixed f;
  Archive ar(b.b, "fixed");
  f.Serialize(ar);
  EXPECT_EQ(f.later, 9);
  EXPECT_EQ(ar.Remaining(), 0u);
}

struct RefusedBytesCase {
  const char* label;
  Bytes bytes;
  int cause;
};

class FixedRefusedBytesTest : public testing::TestWithParam<RefusedBytesCase> {};

TEST_P(FixedRefusedBytesTest, LoadFails) {
  Fixed f;
  Archive ar(GetParam().bytes.b, "fixed");
  try {
    f.Serialize(ar);
    ADD_FAILURE() << "loaded";
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.m_cause, GetParam().cause);
  }
}

const Bytes kFixedHead = Bytes().u16(2).u8(0).u16(0).u16(0).raw({0, 0}).u32(0);

INSTANTIATE_TEST_SUITE_P(
    Cases, FixedRefusedBytesTest,
    testing::Values(
        // 200 points of 6 bytes announced by the count byte, none present.
        RefusedBytesCase{"pointsPastTheEnd", Bytes(kFixedHead).u8(200), CArchiveException::endOfFile},
        // Five entries where the arrays hold four.
        RefusedBytesCase{"entriesAboveTheArrays", Bytes(kFixedHead).u8(0).u8(5).append(Bytes().u16(0).u16(0).u16(0)),
                         CArchiveException::badSchema},
        // A blob of 100 bytes announced, three present.
        RefusedBytesCase{"blobPastTheEnd", Bytes().u16(2).u8(0).u16(0).u16(0).raw({0, 0}).u32(100).raw({1, 2, 3}),
                         CArchiveException::endOfFile}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FieldWalkTest, OneByteRecordCountRefusesMoreThan255) {
  Fixed f;
  f.points.resize(256);
  Archive ar("fixed");
  EXPECT_THROW(f.Serialize(ar), CArchiveException);
}

TEST(FieldWalkTest, FixedFormsPrintAndPackBack) {
  Fixed f = FixedSample();
  const nlohmann::ordered_json json = ObjectToJson(f);
  // The group met twice prints once, holding both fields.
  EXPECT_EQ(json["g"], (nlohmann::ordered_json{{"inner", 1}, {"later", 2}}));
  EXPECT_EQ(json["pair"], (nlohmann::ordered_json{258, 3}));
  EXPECT_EQ(json["tag"], "aabb");
  EXPECT_EQ(json["entries"].size(), 2u);
  Fixed packed;
  FillFromJson(packed, json);
  Archive ar("fixed");
  packed.Serialize(ar);
  EXPECT_EQ(ar.buffer(), kFixedBytes.b);
}

struct RefusedJsonCase {
  const char* label;
  const char* pointer;
  nlohmann::ordered_json value;
};

class FixedRefusedJsonTest : public testing::TestWithParam<RefusedJsonCase> {};

TEST_P(FixedRefusedJsonTest, PackFails) {
  Fixed f = FixedSample();
  nlohmann::ordered_json json = ObjectToJson(f);
  json[nlohmann::ordered_json::json_pointer(GetParam().pointer)] = GetParam().value;
  Fixed packed;
  EXPECT_THROW(FillFromJson(packed, json), JsonFieldError);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FixedRefusedJsonTest,
    testing::Values(RefusedJsonCase{"shortArray", "/pair", {1}}, RefusedJsonCase{"longArray", "/pair", {1, 2, 3}},
                    RefusedJsonCase{"shortBytes", "/tag", "aa"},
                    RefusedJsonCase{"fiveEntries", "/entries", nlohmann::ordered_json::parse(
                                                                   R"([{"e":1},{"e":1},{"e":1},{"e":1},{"e":1}])")},
                    // A field nobody walks, in a group the walk enters twice.
                    RefusedJsonCase{"strayInGroup", "/g/stray", 0}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FieldWalkTest, CopyTakesCountedEntriesPastTheCount) {
  Fixed from = FixedSample();
  from.entries = {1, 2, 3, 4};
  Fixed to;
  FieldTransfer::Copy(to, from);
  EXPECT_EQ(to.count, 2);
  EXPECT_EQ(to.entries, from.entries);
  EXPECT_EQ(to.tag, from.tag);
  EXPECT_EQ(to.later, 2);
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
