// The hosting protocol's frames, byte for byte from the layout: u32 kind and
// u32 payload length, little-endian, then the payload.
#include "net/host_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/host_connection.h"

namespace kv::host {
namespace {

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

TEST(HostProtocol, EncodesTheLayoutByteForByte) {
  struct Case {
    const char* what;
    std::string got;
    std::string want;
  } cases[] = {
      // kind 8, 4 bytes, the number 90 (0x5A)
      {"keep-alive", EncodeKeepAlive(), Bytes({8, 0, 0, 0, 4, 0, 0, 0, 0x5A, 0, 0, 0})},
      // kind 4, 8 bytes: version 1, sequence 7
      {"connect", EncodeConnect(7), Bytes({4, 0, 0, 0, 8, 0, 0, 0, 1, 0, 0, 0, 7, 0, 0, 0})},
      // kind 5, 4 + "a.bmp\0" + "\0" = 11 bytes
      {"request", EncodeRequest(2, "a.bmp", ""),
       Bytes({5, 0, 0, 0, 11, 0, 0, 0, 2, 0, 0, 0, 'a', '.', 'b', 'm', 'p', 0, 0})},
      // kind 4097 = 0x1001, no payload
      {"disconnect", EncodeDisconnect(), Bytes({0x01, 0x10, 0, 0, 0, 0, 0, 0})},
      // kind 11, id 3, size 0x1_0000_0002 as u64
      {"begin", EncodeBegin(3, 0x100000002ull), Bytes({11, 0, 0, 0, 12, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0})},
      // kind 16, sequence 0x01020304, value 0xFFFFFFFF
      {"reply", EncodeReply(0x01020304, 0xFFFFFFFF),
       Bytes({16, 0, 0, 0, 8, 0, 0, 0, 4, 3, 2, 1, 0xFF, 0xFF, 0xFF, 0xFF})},
      // kind 2, id 9, "x\0"
      {"refused", EncodeRefused(9, "x"), Bytes({2, 0, 0, 0, 6, 0, 0, 0, 9, 0, 0, 0, 'x', 0})},
      // kind 10, id 1, two bytes
      {"data", EncodeData(1, "hi"), Bytes({10, 0, 0, 0, 6, 0, 0, 0, 1, 0, 0, 0, 'h', 'i'})},
      // a quit of kind 7 stays 7; anything else is 3
      {"quit 7", EncodeQuit(7), Bytes({7, 0, 0, 0, 0, 0, 0, 0})},
      {"quit other", EncodeQuit(99), Bytes({3, 0, 0, 0, 0, 0, 0, 0})},
      // a name is cut at 500 bytes: payload 4 + 500 + 1
      {"long name", EncodeDelivered(1, std::string(600, 'n')).substr(4, 4), Bytes({0xF9, 1, 0, 0})},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(HostProtocol, DecodesWhatItEncodes) {
  Message m;
  std::string error;
  ASSERT_TRUE(DecodeMessage(kRequest, EncodeRequest(5, "pic.bmp", "Title").substr(8), m, error)) << error;
  EXPECT_EQ(m.seq, 5u);
  EXPECT_EQ(m.name, "pic.bmp");
  EXPECT_EQ(m.mapped, "Title");
  ASSERT_TRUE(DecodeMessage(kBegin, EncodeBegin(4, 2147483648ull).substr(8), m, error)) << error;
  EXPECT_EQ(m.id, 4u);
  EXPECT_EQ(m.size, 2147483648ull);
  ASSERT_TRUE(DecodeMessage(kData, EncodeData(6, std::string(kMaxChunkBytes, 'z')).substr(8), m, error));
  EXPECT_EQ(m.data.size(), kMaxChunkBytes);
}

TEST(HostProtocol, RefusesMalformedPayloads) {
  struct Case {
    const char* what;
    uint32_t kind;
    std::string payload;
  } cases[] = {
      {"unknown kind", 12, ""},
      {"reply one byte short", kReply, std::string(7, '\0')},
      {"connect too long", kConnect, std::string(9, '\0')},
      {"delivered name without zero", kDelivered, Bytes({1, 0, 0, 0, 'a', 'b'})},
      {"delivered with no name at all", kDelivered, Bytes({1, 0, 0, 0})},
      {"refused bytes after the name", kRefused, Bytes({1, 0, 0, 0, 'a', 0, 'b'})},
      {"request second name missing", kRequest, Bytes({1, 0, 0, 0, 'a', 0})},
      {"name of 501 bytes", kDelivered, Bytes({1, 0, 0, 0}) + std::string(501, 'n') + std::string(1, '\0')},
      {"empty data chunk", kData, Bytes({1, 0, 0, 0})},
      {"data chunk over 64 KiB", kData, std::string(4 + kMaxChunkBytes + 1, 'd')},
      {"quit with a payload", kQuit, "x"},
      {"begin short", kBegin, std::string(11, '\0')},
  };
  for (const Case& c : cases) {
    Message m;
    std::string error;
    EXPECT_FALSE(DecodeMessage(c.kind, c.payload, m, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
  // Exactly 500 bytes of name is the limit, accepted.
  Message m;
  std::string error;
  EXPECT_TRUE(DecodeMessage(kDelivered, Bytes({1, 0, 0, 0}) + std::string(500, 'n') + std::string(1, '\0'), m, error));
}

TEST(FrameReader, SplitsAStreamWhateverTheReadSizes) {
  const std::string stream = EncodeConnect(1) + EncodeQuit() + EncodeData(2, "abc") + EncodeKeepAlive();
  for (size_t step : {size_t(1), size_t(3), size_t(8), stream.size()}) {
    FrameReader reader;
    std::vector<uint32_t> kinds;
    std::string data;
    for (size_t at = 0; at < stream.size();) {
      const size_t n = std::min(step, stream.size() - at);
      size_t used = 0;
      while (used < n) {
        used += reader.Feed(stream.data() + at + used, n - used);
        while (auto f = reader.Next()) {
          kinds.push_back(f->kind);
          if (f->kind == kData) data = f->payload.substr(4);
        }
      }
      at += n;
    }
    EXPECT_EQ(kinds, (std::vector<uint32_t>{kConnect, kQuit, kData, kKeepAlive})) << "step " << step;
    EXPECT_EQ(data, "abc") << "step " << step;
    EXPECT_FALSE(reader.Failed());
  }
}

TEST(FrameReader, RefusesAFrameLargerThanTheLimit) {
  // kind 10, length 65541 (0x10005): one byte over 4 + 65536.
  const std::string header = Bytes({10, 0, 0, 0, 0x05, 0x00, 0x01, 0x00});
  FrameReader reader;
  reader.Feed(header.data(), header.size());
  EXPECT_TRUE(reader.Failed());
  EXPECT_FALSE(reader.Next());
  // Once failed, nothing more is taken.
  const std::string more = EncodeQuit();
  EXPECT_EQ(reader.Feed(more.data(), more.size()), 0u);
  // 0x10004 is the limit itself: accepted, waiting for its payload.
  FrameReader ok;
  const std::string limit = Bytes({10, 0, 0, 0, 0x04, 0x00, 0x01, 0x00});
  ok.Feed(limit.data(), limit.size());
  EXPECT_FALSE(ok.Failed());
  EXPECT_FALSE(ok.Next());
}

TEST(RelativeResourcePath, KeepsNamesInsideTheFolder) {
  struct Case {
    std::string name, base;
    std::optional<std::string> want;
  } cases[] = {
      {"scene1.kvs", "", "scene1.kvs"},
      {"\\pics\\A.bmp", "", "pics/A.bmp"},
      {"HTTP://Example.org/demo/pics/a.bmp", "http://example.org/demo/", "pics/a.bmp"},
      {"pics//a.bmp", "", "pics/a.bmp"},
      {"../secret", "", std::nullopt},
      {"pics/../../x", "", std::nullopt},
      {"./a", "", std::nullopt},
      {"C:\\x.bmp", "", std::nullopt},
      {"http://elsewhere.org/a.bmp", "http://example.org/", std::nullopt},
      {"", "", std::nullopt},
      {"///", "", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(RelativeResourcePath(c.name, c.base), c.want) << c.name;
}

}  // namespace
}  // namespace kv::host
