#include "persist/archive.h"

#include <gtest/gtest.h>

#include "persist/containers.h"
#include "tests/persist/bytes.h"

namespace kv {
namespace {

using test::Bytes;

std::span<const uint8_t> Span(const std::vector<uint8_t>& v) { return {v.data(), v.size()}; }

int CauseOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const CArchiveException& e) {
    return e.m_cause;
  }
  return -1;
}

class ArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterPersistClasses(); }
};

// Each row: a string length and the prefix bytes the rules give for it.
TEST_F(ArchiveTest, StringPrefixes) {
  struct Case {
    size_t length;
    std::vector<uint8_t> prefix;
  } cases[] = {
      {0, {0x00}},
      {3, {0x03}},
      {254, {0xFE}},                                   // below 255: one byte
      {255, {0xFF, 0xFF, 0x00}},                       // 0xFF then u16 255
      {65533, {0xFF, 0xFD, 0xFF}},                     // the largest u16 form
      {65534, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},  // 0xFF, 0xFFFF, u32
  };
  for (const Case& c : cases) {
    std::string s(c.length, 'x');
    Archive out("t");
    out.WriteString(s);
    ASSERT_EQ(out.buffer().size(), c.prefix.size() + c.length) << c.length;
    EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), out.buffer().begin())) << c.length;
    Archive in(Span(out.buffer()), "t");
    EXPECT_EQ(in.ReadString(), s) << c.length;
    EXPECT_EQ(in.Remaining(), 0u);
  }
}

TEST_F(ArchiveTest, WideStringReadsAsWindows1252) {
  // 0xFF, u16 0xFFFE marks a wide string; then a length of 3 characters:
  // 'a', U+20AC (the euro sign, 0x80 in Windows-1252), 'c'.
  Bytes b;
  b.u8(0xFF).u16(0xFFFE).u8(3).u16('a').u16(0x20AC).u16('c');
  Archive in(Span(b.b), "t");
  EXPECT_EQ(in.ReadString(), "a\x80" "c");
  EXPECT_EQ(in.Remaining(), 0u);
}

TEST_F(ArchiveTest, WideStringWithLongPrefix) {
  // The second prefix takes the 0xFF + u16 form: 300 characters of 'z'.
  Bytes b;
  b.u8(0xFF).u16(0xFFFE).u8(0xFF).u16(300);
  for (int i = 0; i < 300; ++i) b.u16('z');
  Archive in(Span(b.b), "t");
  EXPECT_EQ(in.ReadString(), std::string(300, 'z'));
}

TEST_F(ArchiveTest, Counts) {
  struct Case {
    uint64_t count;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {0, {0x00, 0x00}},
      {0xFFFE, {0xFE, 0xFF}},
      {0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}},
      {0x12345, {0xFF, 0xFF, 0x45, 0x23, 0x01, 0x00}},
  };
  for (const Case& c : cases) {
    Archive out("t");
    out.WriteCount(c.count);
    EXPECT_EQ(out.buffer(), c.bytes) << c.count;
    Archive in(Span(c.bytes), "t");
    EXPECT_EQ(in.ReadCount(0), c.count);
  }
}

TEST_F(ArchiveTest, Primitives) {
  Archive out("t");
  out.WriteU8(0x12);
  out.WriteU16(0x3456);
  out.WriteU32(0x789ABCDE);
  out.WriteI32(-2);
  out.WriteFloat(1.0f);   // 0x3F800000
  out.WriteDouble(-2.0);  // 0xC000000000000000
  Bytes want;
  want.u8(0x12).u16(0x3456).u32(0x789ABCDE).u32(0xFFFFFFFE).u32(0x3F800000).u32(0).u32(0xC0000000);
  EXPECT_EQ(out.buffer(), want.b);
  Archive in(Span(want.b), "t");
  EXPECT_EQ(in.ReadU8(), 0x12);
  EXPECT_EQ(in.ReadU16(), 0x3456);
  EXPECT_EQ(in.ReadU32(), 0x789ABCDEu);
  EXPECT_EQ(in.ReadI32(), -2);
  EXPECT_EQ(in.ReadFloat(), 1.0f);
  EXPECT_EQ(in.ReadDouble(), -2.0);
}

TEST_F(ArchiveTest, SharedObjectBecomesReference) {
  auto list = std::make_shared<CStringList>();
  list->items = {"a"};
  Archive out("t");
  out.WriteObject(list.get());
  out.WriteObject(list.get());
  out.WriteObject(nullptr);
  // Entry 1 is the class, entry 2 the object: the second write is u16 2.
  Bytes want;
  want.newClass("CStringList").u16(1).str("a").u16(2).u16(0);
  EXPECT_EQ(out.buffer(), want.b);

  Archive in(Span(want.b), "t");
  ObjectPtr first = in.ReadObject(nullptr);
  ObjectPtr second = in.ReadObject(nullptr);
  EXPECT_EQ(first, second);
  EXPECT_EQ(in.ReadObject(nullptr), nullptr);
  EXPECT_EQ(std::static_pointer_cast<CStringList>(first)->items, std::vector<std::string>{"a"});
}

TEST_F(ArchiveTest, SecondObjectOfAClassCarriesClassReference) {
  auto a = std::make_shared<CDWordArray>();
  auto b = std::make_shared<CDWordArray>();
  b->items = {7};
  Archive out("t");
  out.WriteObject(a.get());
  out.WriteObject(b.get());
  // The class is entry 1 and object a entry 2: b's tag is 0x8000 | 1.
  Bytes want;
  want.newClass("CDWordArray").u16(0).u16(0x8001).u16(1).u32(7);
  EXPECT_EQ(out.buffer(), want.b);
  Archive in(Span(want.b), "t");
  auto ra = in.ReadObjectOf<CDWordArray>();
  auto rb = in.ReadObjectOf<CDWordArray>();
  EXPECT_NE(ra, rb);
  EXPECT_EQ(rb->items, std::vector<uint32_t>{7});
}

TEST_F(ArchiveTest, LongTagForms) {
  // Object reference 0x7FFF + u32: only the table size limits it.
  Bytes b;
  b.u16(0x7FFF).u32(5);
  Archive in(Span(b.b), "t");
  EXPECT_EQ(CauseOf([&] { in.ReadObject(nullptr); }), CArchiveException::badIndex);
}

// Every failure cause, each from the smallest input that provokes it.
TEST_F(ArchiveTest, FailureCauses) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const ClassInfo* expected;
    int cause;
  };
  Bytes unknown;
  unknown.newClass("CNoSuchClass");
  Bytes longName;
  longName.newClass(std::string(64, 'A'));
  Bytes badSchema;
  badSchema.newClass("CStringList", 1);
  Bytes wrongKind;
  wrongKind.newClass("CStringList").u16(0);
  Bytes classZero;
  classZero.u16(0x8000);
  Bytes classIsObject;  // entry 2 is an object, not a class
  classIsObject.newClass("CStringList").u16(0).u16(0x8002);
  Bytes objectIsClass;  // entry 1 is a class, not an object
  objectIsClass.newClass("CStringList").u16(0).u16(1);
  Bytes truncated;
  truncated.newClass("CStringList").u16(3).str("a");
  Bytes countLie;  // a count of 0xFFFF0000 strings in a few bytes
  countLie.newClass("CStringList").u16(0xFFFF).u32(0xFFFF0000);
  Bytes nameCut;
  nameCut.u16(0xFFFF).u16(0).u16(11).chars("CStr");
  const Case cases[] = {
      {"unknown class", unknown.b, nullptr, CArchiveException::badClass},
      {"name of 64 characters", longName.b, nullptr, CArchiveException::badClass},
      {"schema of a plain class", badSchema.b, nullptr, CArchiveException::badSchema},
      {"unexpected class", wrongKind.b, &CDWordArray::StaticClass(), CArchiveException::badClass},
      {"class entry 0", classZero.b, nullptr, CArchiveException::badIndex},
      {"object reference beyond table", {0x05, 0x00}, nullptr, CArchiveException::badIndex},
      {"class tag naming an object", classIsObject.b, nullptr, CArchiveException::badIndex},
      {"truncated data", truncated.b, nullptr, CArchiveException::endOfFile},
      {"count beyond the data", countLie.b, nullptr, CArchiveException::endOfFile},
      {"class name cut short", nameCut.b, nullptr, CArchiveException::badClass},
      {"empty input", {}, nullptr, CArchiveException::endOfFile},
  };
  for (const Case& c : cases) {
    Archive in(Span(c.bytes), "t.kvs");
    EXPECT_EQ(CauseOf([&] {
                in.ReadObject(c.expected);
                in.ReadObject(c.expected);
              }),
              c.cause)
        << c.what;
  }
  // An object reference where the table holds a class.
  Archive in(Span(objectIsClass.b), "t.kvs");
  in.ReadObject(nullptr);
  EXPECT_EQ(CauseOf([&] { in.ReadObject(nullptr); }), CArchiveException::badIndex);
}

TEST_F(ArchiveTest, DirectionFailures) {
  std::vector<uint8_t> none;
  Archive in(Span(none), "t");
  EXPECT_EQ(CauseOf([&] { in.WriteU8(1); }), CArchiveException::readOnly);
  Archive out("t");
  EXPECT_EQ(CauseOf([&] { out.ReadU8(); }), CArchiveException::writeOnly);
}

TEST_F(ArchiveTest, VersionWordOutsideRangeIsBadSchema) {
  Bytes b;
  b.u16(9);
  Archive in(Span(b.b), "t");
  EXPECT_EQ(CauseOf([&] { in.Version(8, 1, "document"); }), CArchiveException::badSchema);
  Bytes zero;
  zero.u16(0);
  Archive in0(Span(zero.b), "t");
  EXPECT_EQ(CauseOf([&] { in0.Version(8, 1, "document"); }), CArchiveException::badSchema);
}

TEST_F(ArchiveTest, MessagesNameTheFile) {
  const std::pair<int, const char*> cases[] = {
      {0, "No error occurred."},
      {1, "An unknown error occurred while accessing a.kvp."},
      {2, "An attempt was made to write to the reading a.kvp."},
      {3, "An attempt was made to access a.kvp past its end."},
      {4, "An attempt was made to read from the writing a.kvp."},
      {5, "a.kvp has a bad format."},
      {6, "a.kvp contained an unexpected object."},
      {7, "a.kvp contains an incorrect schema."},
  };
  for (auto [cause, text] : cases) EXPECT_EQ(CArchiveException(cause, "a.kvp").Message(), text);
  EXPECT_EQ(CArchiveException(3, "").Message(), "An attempt was made to access an unnamed file past its end.");
}

// A versionable class sees the schema found in the file.
class CVersioned : public CObject {
  KV_DECLARE_CLASS(CVersioned)
 public:
  uint32_t seen = 0;
  void Serialize(Archive& ar) override {
    if (ar.IsLoading()) seen = ar.GetObjectSchema();
  }
};
KV_IMPLEMENT_CLASS(CVersioned, CObject, kVersionable | 2)

TEST_F(ArchiveTest, VersionableClassKeepsFileSchema) {
  CVersioned::StaticClass();
  Bytes b;
  b.newClass("CVersioned", 1).u16(0x8001);
  Archive in(Span(b.b), "t");
  auto first = in.ReadObjectOf<CVersioned>();
  auto second = in.ReadObjectOf<CVersioned>();
  EXPECT_EQ(first->seen, 1u);
  EXPECT_EQ(second->seen, 1u);  // remembered for the class
  EXPECT_EQ(in.GetObjectSchema(), Archive::kNoSchema);

  Archive out("t");
  out.WriteObject(first.get());
  Bytes want;
  want.newClass("CVersioned", 2);
  EXPECT_EQ(out.buffer(), want.b);
}

TEST_F(ArchiveTest, NestingDepthIsBounded) {
  // CObList inside CObList, deeper than any stored file goes.
  Bytes b;
  b.newClass("CObList").u16(1);
  for (int i = 0; i < Archive::kMaxDepth + 5; ++i) b.u16(0x8001).u16(1);
  b.u16(0);
  Archive in(Span(b.b), "t");
  EXPECT_EQ(CauseOf([&] { in.ReadObject(nullptr); }), CArchiveException::badIndex);
}

TEST_F(ArchiveTest, ContainersRoundTrip) {
  auto map = std::make_shared<CMapStringToString>();
  map->SetAt("k", "v");
  map->SetAt("k2", "v2");
  auto bytes = std::make_shared<CByteArray>();
  bytes->items = {1, 2, 3};
  auto obs = std::make_shared<CObArray>();
  obs->items = {map, bytes, map};
  Archive out("t");
  out.WriteObject(obs.get());
  // CObArray: class 1, object 2; count 3; map class 3 object 4 with 2 pairs;
  // byte array class 5 object 6 with count 3; then a reference to entry 4.
  Bytes want;
  want.newClass("CObArray").u16(3);
  want.newClass("CMapStringToString").u16(2).str("k").str("v").str("k2").str("v2");
  want.newClass("CByteArray").u16(3).raw({1, 2, 3});
  want.u16(4);
  EXPECT_EQ(out.buffer(), want.b);
  Archive in(Span(want.b), "t");
  auto read = in.ReadObjectOf<CObArray>();
  ASSERT_EQ(read->items.size(), 3u);
  EXPECT_EQ(read->items[0], read->items[2]);
  EXPECT_EQ(*std::static_pointer_cast<CMapStringToString>(read->items[0])->Lookup("k2"), "v2");
}

TEST_F(ArchiveTest, RegistryKnowsBases) {
  const ClassInfo* list = ClassRegistry::Find("CObList");
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->IsDerivedFrom(CObject::StaticClass()));
  EXPECT_FALSE(list->IsDerivedFrom(CObArray::StaticClass()));
  EXPECT_EQ(ClassRegistry::Find("cobList"), nullptr);  // names are case-sensitive
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Holds a back-link to whatever contains it.
class CBackLinked : public CObject {
  KV_DECLARE_CLASS(CBackLinked)
 public:
  std::weak_ptr<CObject> owner;
  void Serialize(Archive& ar) override {
    if (ar.IsLoading()) owner = ar.ReadBackReference(nullptr);
  }
};
KV_IMPLEMENT_CLASS(CBackLinked, CObject, 0)

TEST(ArchiveCycles, OwningSelfReferenceIsRefused) {
  RegisterPersistClasses();
  // A CObList (class 1, object 2) whose one element is a reference to entry 2.
  Bytes b;
  b.newClass("CObList").u16(1).u16(2);
  Archive in(std::span(b.b.data(), b.b.size()), "t");
  EXPECT_EQ(CauseOf([&] { in.ReadObject(nullptr); }), CArchiveException::badIndex);
  // Once the list is complete, a reference to it is fine.
  Bytes later;
  later.newClass("CObList").u16(0).u16(2);
  Archive in2(std::span(later.b.data(), later.b.size()), "t");
  EXPECT_EQ(in2.ReadObject(nullptr), in2.ReadObject(nullptr));
}

TEST(ArchiveCycles, BackReferenceToAnOwnerResolves) {
  RegisterPersistClasses();
  CBackLinked::StaticClass();
  // A list (entry 2) holding a back-linked object whose data names entry 2.
  Bytes b;
  b.newClass("CObList").u16(1).newClass("CBackLinked").u16(2);
  Archive in(std::span(b.b.data(), b.b.size()), "t");
  auto list = in.ReadObjectOf<CObList>();
  ASSERT_EQ(list->items.size(), 1u);
  EXPECT_EQ(std::static_pointer_cast<CBackLinked>(list->items[0])->owner.lock(), list);
}

// Notes, while it loads, whether the archive counts it as just made, before
// and after reading an optional object of its own class.
class CMadeProbe : public CObject {
  KV_DECLARE_CLASS(CMadeProbe)
 public:
  bool madeAtStart = false;
  bool madeAfterChild = false;
  ObjectPtr child;
  void Serialize(Archive& ar) override {
    if (ar.IsStoring()) return;
    madeAtStart = ar.IsNewlyMade(this);
    if (ar.ReadU8()) child = ar.ReadObject(nullptr);
    madeAfterChild = ar.IsNewlyMade(this);
  }
};
KV_IMPLEMENT_CLASS(CMadeProbe, CObject, 0)

TEST(ArchiveNewObjects, OnlyTheObjectTheLoadMadeCountsAsJustMade) {
  CMadeProbe::StaticClass();
  // A probe (class 1, object 2) holding a second probe (class reference 1).
  Bytes b;
  b.newClass("CMadeProbe").u8(1).u16(0x8001).u8(0);
  Archive in(std::span(b.b.data(), b.b.size()), "t");
  auto outer = in.ReadObjectOf<CMadeProbe>();
  auto inner = std::static_pointer_cast<CMadeProbe>(outer->child);
  ASSERT_TRUE(inner);
  EXPECT_TRUE(outer->madeAtStart);
  EXPECT_TRUE(outer->madeAfterChild);  // the inner object's load is over
  EXPECT_TRUE(inner->madeAtStart);
  EXPECT_FALSE(in.IsNewlyMade(outer.get()));  // its load is over too

  // An object the caller hands to Serialize is not one the load made.
  Bytes again;
  again.u8(0);
  Archive in2(std::span(again.b.data(), again.b.size()), "t");
  CMadeProbe existing;
  existing.Serialize(in2);
  EXPECT_FALSE(existing.madeAtStart);
}

}  // namespace
}  // namespace kv
