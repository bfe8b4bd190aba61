#include "net/kvg_archive.h"

#include <gtest/gtest.h>

#include "tests/net/locator_test_util.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;

void U32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A hand-laid archive: 8-bit texts, description "Hi", two entries.
//   entry 1: flags 0 (8-bit name, stored), name "a.txt", data "hi"
//   entry 2: flags 1 (16-bit name, stored), name "B" as 42 00, data "!"
// Key 0x01020304: key byte 01^02^03^04 = 04, so "hi" is stored 6C 6D and
// "!" (21) as 25.
Bytes HandArchive(uint32_t key = 0x01020304, uint32_t version = 5) {
  Bytes b = {'*', 'P', 'S', 'B'};
  U32(b, version);
  U32(b, 0);    // flags: 8-bit texts, may stay open
  U32(b, 0);    // not read
  U32(b, 2);    // entries
  U32(b, 0);    // not read
  U32(b, key);  // key
  U32(b, 0);
  U32(b, 0);    // not read (8 bytes)
  U32(b, 50);   // first entry: 48 + 2 description bytes
  U32(b, 6);    // name characters: 5 + 1
  U32(b, 2);    // description characters
  b.insert(b.end(), {'H', 'i'});
  U32(b, 0);  // entry 1 head: flags, size high, size low, name length
  U32(b, 0);
  U32(b, 2);
  U32(b, 5);
  b.insert(b.end(), {'a', '.', 't', 'x', 't', 0x6C, 0x6D});
  U32(b, 1);  // entry 2: 16-bit name
  U32(b, 0);
  U32(b, 1);
  U32(b, 1);
  b.insert(b.end(), {0x42, 0x00, 0x25});
  return b;
}

class KvgTest : public testing::Test {
 protected:
  std::string Write(const Bytes& bytes, const std::string& name = "x.kvg") {
    std::string path = dir_ / name;
    test::WriteBytes(path, bytes);
    return path;
  }
  test::ScratchDir dir_;
};

TEST_F(KvgTest, HandLaidArchiveReads) {
  KvgError error;
  auto reader = KvgReader::Open(Write(HandArchive()), 0x01020304, true, &error);
  ASSERT_TRUE(reader) << KvgErrorText(error);
  EXPECT_EQ(reader->description(), "Hi");
  ASSERT_EQ(reader->entries().size(), 2u);
  EXPECT_EQ(reader->entries()[0].name, "a.txt");
  EXPECT_EQ(reader->entries()[1].name, "B");
  // Offsets follow each entry's own name width: 50 + 16 + 5 + 2 = 73.
  EXPECT_EQ(reader->entries()[1].headOffset, 73u);
  Bytes data;
  EXPECT_EQ(reader->ReadEntry(reader->entries()[0], data), KvgError::None);
  EXPECT_EQ(data, (Bytes{'h', 'i'}));
  EXPECT_EQ(reader->ReadEntry(reader->entries()[1], data), KvgError::None);
  EXPECT_EQ(data, (Bytes{'!'}));
}

TEST_F(KvgTest, BuilderWritesTheHandLayout) {
  std::vector<KvgInput> in = {{"a.txt", {'h', 'i'}, kKvgStored, false}, {"B", {'!'}, kKvgStored, true}};
  EXPECT_EQ(BuildKvg(in, 0x01020304, "Hi", false), HandArchive());
}

TEST_F(KvgTest, HeaderFailures) {
  struct Case {
    const char* what;
    Bytes bytes;
    uint32_t key;
    KvgError error;
  };
  Bytes badMagic = HandArchive();
  badMagic[1] = 'X';
  Bytes manyEntries = HandArchive();
  manyEntries[16] = 0xFF;  // 255 entries of at least 16 bytes cannot fit
  Bytes longDesc = HandArchive();
  longDesc[45] = 0x10;  // 4096 description characters
  Bytes shortFile = HandArchive();
  shortFile.resize(40);
  Bytes farFirst = HandArchive();
  farFirst[37] = 0x10;  // first entry at 4146
  const Case cases[] = {
      {"wrong magic", badMagic, 0x01020304, KvgError::BadHeader},
      {"version 4", HandArchive(0x01020304, 4), 0x01020304, KvgError::BadHeader},
      {"wrong key", HandArchive(), 0x04030201, KvgError::WrongKey},
      {"short file", shortFile, 0x01020304, KvgError::BadHeader},
      {"count beyond file", manyEntries, 0x01020304, KvgError::BadHeader},
      {"description beyond file", longDesc, 0x01020304, KvgError::BadHeader},
      {"first entry beyond file", farFirst, 0x01020304, KvgError::BadHeader},
  };
  for (const Case& c : cases) {
    KvgError error = KvgError::None;
    EXPECT_FALSE(KvgReader::Open(Write(c.bytes), c.key, true, &error)) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
}

// Tools open any compilation with the key its own header names; only the
// reader reads the header.
TEST_F(KvgTest, OwnKeyOpensEveryKeyAndStillChecksTheHeader) {
  for (uint32_t key : {0x01020304u, 0u, 0xFFFFFFFFu}) {
    KvgError error = KvgError::None;
    auto reader = KvgReader::OpenWithOwnKey(Write(HandArchive(key)), true, &error);
    ASSERT_TRUE(reader) << key;
    EXPECT_EQ(reader->key(), key);
    EXPECT_EQ(reader->entries().size(), 2u);
  }
  KvgError error = KvgError::None;
  EXPECT_FALSE(KvgReader::OpenWithOwnKey(Write(HandArchive(0x01020304, 4)), true, &error));
  EXPECT_EQ(error, KvgError::BadHeader);
}

TEST_F(KvgTest, EntryHeadsAreCheckedAgainstTheFileSize) {
  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
  };
  const Case cases[] = {
      {"size high part", 50 + 4, 1},          // 4 GB more data
      {"size low part", 50 + 8, 0xFF},       // 255 data bytes
      {"name length", 50 + 12, 0xFF},        // 255 name characters
      {"second name length", 73 + 13, 0x01}, // 256 wide characters
  };
  for (const Case& c : cases) {
    Bytes b = HandArchive();
    b[c.at] = c.value;
    KvgError error = KvgError::None;
    EXPECT_FALSE(KvgReader::Open(Write(b), 0x01020304, true, &error)) << c.what;
    EXPECT_EQ(error, KvgError::BadEntry) << c.what;
  }
  // A truncated archive opened without an index fails when the walk reaches
  // the broken entry.
  Bytes cut = HandArchive();
  cut.resize(cut.size() - 1);
  auto reader = KvgReader::Open(Write(cut), 0x01020304, false, nullptr);
  ASSERT_TRUE(reader);
  int seen = 0;
  EXPECT_EQ(reader->ForEachEntry([&](const KvgEntry&) { return ++seen > 0; }), KvgError::BadEntry);
  EXPECT_EQ(seen, 1);
}

TEST_F(KvgTest, KeyWhoseBytesCancelStoresPlainBytes) {
  // 0x0F0F0000 and 0x11223300 ^ ... : 0F^0F^00^00 = 0.
  EXPECT_EQ(KvgKeyByte(0x0F0F0000), 0);
  EXPECT_EQ(KvgKeyByte(0x01020304), 4);
  EXPECT_EQ(KvgKeyByte(0xFF000000), 0xFF);
  Bytes archive = BuildKvg({{"p.txt", {'p', 'l', 'a', 'i', 'n'}, kKvgStored, false}}, 0x0F0F0000, "", false);
  const Bytes tail(archive.end() - 5, archive.end());
  EXPECT_EQ(tail, (Bytes{'p', 'l', 'a', 'i', 'n'}));
  auto reader = KvgReader::Open(Write(archive), 0x0F0F0000, true, nullptr);
  ASSERT_TRUE(reader);
  Bytes data;
  EXPECT_EQ(reader->ReadEntry(reader->entries()[0], data), KvgError::None);
  EXPECT_EQ(data, tail);
}

TEST_F(KvgTest, EveryMethodRoundTripsWithNameWidthsAndTexts) {
  Bytes big(200000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>((i * 7) ^ (i >> 5));
  const uint32_t methods[] = {kKvgStored, kKvgPredictor, kKvgLzss, kKvgLzhuf};
  for (bool wideTexts : {false, true}) {
    std::vector<KvgInput> in;
    for (uint32_t m : methods) {
      in.push_back({std::string("w") + KvgMethodName(m) + ".bin", big, m, true});
      in.push_back({std::string("N\xE9") + KvgMethodName(m) + ".bin", big, m, false});  // é, 8-bit
    }
    auto reader = KvgReader::Open(Write(BuildKvg(in, 77, "Caf\xE9 demo", wideTexts)), 77, true, nullptr);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->description(), "Caf\xE9 demo");
    ASSERT_EQ(reader->entries().size(), in.size());
    for (size_t i = 0; i < in.size(); ++i) {
      const KvgEntry& e = reader->entries()[i];
      EXPECT_EQ(e.name, in[i].name);
      EXPECT_EQ(e.method(), in[i].method);
      EXPECT_EQ(e.wideName(), in[i].wideName);
      Bytes data;
      EXPECT_EQ(reader->ReadEntry(e, data), KvgError::None) << e.name;
      EXPECT_TRUE(data == big) << e.name;
    }
  }
}

TEST_F(KvgTest, BadEntryDataFails) {
  // LZHUF entry that declares 4 GB in 6 bytes; an unknown method 0x7000.
  Bytes lz = {0xFF, 0xFF, 0xFF, 0xFF, 0xE6, 0x80};
  Bytes archive = BuildKvg({{"a.bin", lz, kKvgStored, false}, {"b.bin", {1, 2}, kKvgStored, false}}, 0, "", false);
  // No description: the first entry starts at 48.
  archive[48] = 0x00;
  archive[49] = 0x50;  // entry 1 flags := 0x5000
  size_t second = 48 + 16 + 5 + lz.size();
  archive[second + 1] = 0x70;  // entry 2 flags := 0x7000
  auto reader = KvgReader::Open(Write(archive), 0, true, nullptr);
  ASSERT_TRUE(reader);
  Bytes data;
  EXPECT_EQ(reader->ReadEntry(reader->entries()[0], data), KvgError::TooLarge);
  EXPECT_EQ(reader->ReadEntry(reader->entries()[1], data), KvgError::UnknownMethod);
  // The caller's limit holds for stored entries as well.
  auto plain = KvgReader::Open(Write(BuildKvg({{"c", Bytes(100), kKvgStored, true}}, 0, "", false)), 0, true, nullptr);
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->ReadEntry(plain->entries()[0], data, 99), KvgError::TooLarge);
}

TEST_F(KvgTest, NoLookupFlagRefusesTheIndexOnly) {
  Bytes archive = BuildKvg({{"a", {1}, kKvgStored, true}}, 0, "", false, true);
  KvgError error;
  EXPECT_FALSE(KvgReader::Open(Write(archive), 0, true, &error));
  EXPECT_EQ(error, KvgError::NoLookup);
  EXPECT_TRUE(KvgReader::Open(Write(archive), 0, false, &error));
}

}  // namespace
}  // namespace kv
