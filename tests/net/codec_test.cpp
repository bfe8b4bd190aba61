#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "net/lzhuf.h"
#include "net/lzss.h"
#include "net/predictor.h"
#include "tests/net/locator_test_util.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;
using test::CompressionData;

Bytes B(std::initializer_list<int> v) {
  Bytes out;
  for (int x : v) out.push_back(static_cast<uint8_t>(x));
  return out;
}
Bytes S(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Mixed input for round trips: text-like runs, noise and long repeats.
Bytes Mixed(size_t size, uint32_t seed) {
  Bytes out;
  out.reserve(size);
  uint32_t x = seed;
  auto next = [&] { return (x = x * 1103515245u + 12345u) >> 16; };
  while (out.size() < size) {
    uint32_t kind = next() % 4;
    size_t len = 1 + next() % 300;
    for (size_t i = 0; i < len && out.size() < size; ++i) {
      if (kind == 0) {
        out.push_back(static_cast<uint8_t>("the quick brown fox "[i % 20]));
      } else if (kind == 1) {
        out.push_back(static_cast<uint8_t>(next()));
      } else if (kind == 2) {
        out.push_back(static_cast<uint8_t>('A' + next() % 4));
      } else {
        out.push_back(out.empty() ? 0 : out[out.size() - 1 - (next() % std::min<size_t>(out.size(), 4000))]);
      }
    }
  }
  return out;
}

struct Vector {
  const char* what;
  Bytes in;
  CodecStatus status;
  Bytes out;
};

TEST(Lzss, HandVectors) {
  const Vector cases[] = {
      // Flag 00: unit 0 is a pair ED F0 -> position 0xFED (a pre-filled
      // space), length 0 + 3; the copy overlaps the bytes it writes.
      {"three spaces", B({0x00, 0xED, 0xF0}), CodecStatus::Ok, S("   ")},
      // Flag 03: two literals; bit 2 clear at the end of input ends it.
      {"two literals", B({0x03, 'A', 'B'}), CodecStatus::Ok, S("AB")},
      // Flag 07: literals a b c land at 4078..4080; the pair EE F0 copies
      // three bytes from 0xFEE = 4078.
      {"match on own data", B({0x07, 'a', 'b', 'c', 0xEE, 0xF0}), CodecStatus::Ok, S("abcabc")},
      // Length nibble F: 15 + 3 = 18 spaces from 0xFED.
      {"longest match", B({0x00, 0xED, 0xFF}), CodecStatus::Ok, Bytes(18, ' ')},
      {"empty", Bytes{}, CodecStatus::Ok, Bytes{}},
      {"half a pair", B({0x07, 'a', 'b', 'c', 0xEE}), CodecStatus::Truncated, Bytes{}},
      {"literal flag without its byte", B({0x01}), CodecStatus::Truncated, Bytes{}},
  };
  for (const Vector& c : cases) {
    Bytes out;
    EXPECT_EQ(DecodeLzss(c.in, out), c.status) << c.what;
    if (c.status == CodecStatus::Ok) {
      EXPECT_EQ(out, c.out) << c.what;
    }
  }
}

TEST(Lzhuf, HandVectors) {
  const Vector cases[] = {
      // In the starting tree a node n < 626 has its parent at 314 + n/2 and
      // an odd node is a 1 bit, sent root first.
      // "A": leaf 65 -> 346 487 557 592 610 619 623 625: 111001101 -> E6 80.
      {"A", B({1, 0, 0, 0, 0xE6, 0x80}), CodecStatus::Ok, S("A")},
      // NUL: leaf 0 -> 314 471 549 588 608 618 623 625: 110001100 -> C6 00.
      {"NUL", B({1, 0, 0, 0, 0xC6, 0x00}), CodecStatus::Ok, B({0})},
      // Symbol 313 (a 60-byte match): leaf 313 -> 470 549 588 608 618 623
      // 625: 11000101; then position 0: code 000 and six 0 bits. 17 bits:
      // C5 00 00. Distance 1 from 4036 copies the pre-filled space at 4035.
      {"sixty spaces", B({60, 0, 0, 0, 0xC5, 0x00, 0x00}), CodecStatus::Ok, Bytes(60, ' ')},
      {"empty", B({0, 0, 0, 0}), CodecStatus::Ok, Bytes{}},
      // The same code with its last bit gone: it would come from past the end.
      {"code cut short", B({1, 0, 0, 0, 0xE6}), CodecStatus::Truncated, Bytes{}},
      {"header cut short", B({1, 0, 0}), CodecStatus::Truncated, Bytes{}},
      // Two bytes declared, one coded.
      {"too few codes", B({2, 0, 0, 0, 0xE6, 0x80}), CodecStatus::Truncated, Bytes{}},
      // 4 GB declared by a six-byte stream.
      {"declared length over the bound", B({0xFF, 0xFF, 0xFF, 0xFF, 0xE6, 0x80}), CodecStatus::TooLarge, Bytes{}},
  };
  for (const Vector& c : cases) {
    Bytes out;
    EXPECT_EQ(DecodeLzhuf(c.in, out), c.status) << c.what;
    if (c.status == CodecStatus::Ok) {
      EXPECT_EQ(out, c.out) << c.what;
    }
  }
}

TEST(Predictor, HandVectors) {
  const Vector cases[] = {
      // Table filled with 'a'. Indexes: (0,0)=0, (0,'a')=0x61, ('a','a')=0x30E1:
      // all guess 'a', so flags 0F; bit 4 clear at the end of input ends it.
      {"aaaa", B({'a', 0x0F}), CodecStatus::Ok, S("aaaa")},
      // 'a' guessed at 0; 'b' at 0x61 is a miss: literal. Flags 01.
      {"ab", B({'a', 0x01, 'b'}), CodecStatus::Ok, S("ab")},
      // a: hit at 0; b: literal at 0x61; a: hit at ('a','b')=0x30E2; b: literal
      // at ('b','a')=0x3161, now learnt; a: hit at 0x30E2; b: hit at 0x3161.
      // Flags 1,0,1,0,1,1 from the lowest bit = 0x35.
      {"ababab", B({'a', 0x35, 'b', 'b'}), CodecStatus::Ok, S("ababab")},
      {"fill byte only", B({'x'}), CodecStatus::Ok, Bytes{}},
      // Eight hits from flag FF, then the next flag byte is missing.
      {"full group", B({'z', 0xFF}), CodecStatus::Ok, Bytes(8, 'z')},
      {"empty", Bytes{}, CodecStatus::Ok, Bytes{}},
  };
  for (const Vector& c : cases) {
    Bytes out;
    EXPECT_EQ(DecodePredictor(c.in, out), c.status) << c.what;
    EXPECT_EQ(out, c.out) << c.what;
  }
}

TEST(Decoders, CapsAreHonoured) {
  Bytes out;
  EXPECT_EQ(DecodeLzss(B({0x00, 0xED, 0xFF}), out, 17), CodecStatus::TooLarge);
  EXPECT_EQ(DecodeLzhuf(B({60, 0, 0, 0, 0xC5, 0x00, 0x00}), out, 59), CodecStatus::TooLarge);
  EXPECT_EQ(DecodePredictor(B({'z', 0xFF}), out, 7), CodecStatus::TooLarge);
}

class ReferenceFiles : public testing::TestWithParam<const char*> {};

TEST_P(ReferenceFiles, DecodeExactly) {
  const std::string base = CompressionData(GetParam());
  const Bytes raw = ReadFile(base + ".raw");
  Bytes out;
  EXPECT_EQ(DecodeLzhuf(ReadFile(base + ".lzhuf"), out), CodecStatus::Ok);
  EXPECT_TRUE(out == raw) << "lzhuf " << GetParam() << ": " << out.size() << " vs " << raw.size();
  EXPECT_EQ(DecodeLzss(ReadFile(base + ".lzss"), out), CodecStatus::Ok);
  EXPECT_TRUE(out == raw) << "lzss " << GetParam() << ": " << out.size() << " vs " << raw.size();
}

INSTANTIATE_TEST_SUITE_P(Compression, ReferenceFiles,
                         testing::Values("empty", "single_A", "abracadabra_1000", "text_64k", "random_300k",
                                         "alphabet4_200k", "repeat_70000"));

TEST(ReferenceFiles, TruncatedLzhufFails) {
  Bytes in = ReadFile(CompressionData("text_64k") + ".lzhuf");
  in.resize(in.size() - 3);
  Bytes out;
  EXPECT_EQ(DecodeLzhuf(in, out), CodecStatus::Truncated);
  EXPECT_TRUE(out.empty());
}

struct Method {
  const char* name;
  std::vector<uint8_t> (*encode)(std::span<const uint8_t>);
  CodecStatus (*decode)(std::span<const uint8_t>, std::vector<uint8_t>&, size_t);
};

class RoundTrip : public testing::TestWithParam<Method> {};

TEST_P(RoundTrip, LargeAndEdgeInputs) {
  const Method& m = GetParam();
  const std::vector<Bytes> inputs = {
      Bytes{}, S("x"), Bytes(100000, 0), Bytes(4097, ' '), Mixed(3 << 20, 7),
      ReadFile(CompressionData("random_300k") + ".raw"),
  };
  for (const Bytes& in : inputs) {
    Bytes packed = m.encode(in);
    Bytes out;
    ASSERT_EQ(m.decode(packed, out, kNoOutputCap), CodecStatus::Ok) << m.name << " size " << in.size();
    EXPECT_TRUE(out == in) << m.name << " size " << in.size();
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, RoundTrip,
                         testing::Values(Method{"lzss", EncodeLzss, DecodeLzss}, Method{"lzhuf", EncodeLzhuf, DecodeLzhuf},
                                         Method{"predictor", EncodePredictor, DecodePredictor}),
                         [](const testing::TestParamInfo<Method>& info) { return std::string(info.param.name); });

TEST(Lzhuf, EncoderOutputStaysSmall) {
  // 3 MB of mixed input passes the 0x8000 rescaling dozens of times; the
  // ratio shows the tree keeps adapting after each rebuild.
  Bytes in = Mixed(3 << 20, 11);
  Bytes packed = EncodeLzhuf(in);
  EXPECT_LT(packed.size(), in.size() * 3 / 4);
  Bytes text = ReadFile(CompressionData("text_64k") + ".raw");
  EXPECT_LT(EncodeLzhuf(text).size(), text.size() / 2);
}

}  // namespace
}  // namespace kv
