#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/symbol_text.h"

namespace kv {
namespace {

TEST(Text, Cp1252ToUnicodeTable) {
  const std::pair<uint8_t, char32_t> cases[] = {
      {0x41, 0x41},     {0x80, 0x20AC}, {0x85, 0x2026}, {0x8A, 0x0160}, {0x92, 0x2019},
      {0x99, 0x2122},   {0x9F, 0x0178}, {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF},
      {0x81, 0x0081},   {0x8D, 0x008D}, {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D},  // undefined bytes
  };
  for (auto [byte, cp] : cases) {
    EXPECT_EQ(Cp1252ToUnicode(byte), cp) << int(byte);
    EXPECT_EQ(UnicodeToCp1252(cp), byte) << int(byte);
  }
  EXPECT_EQ(UnicodeToCp1252(0x2603), '?');  // a snowman has no byte
}

TEST(Text, SymbolFontBytesByHand) {
  const std::pair<uint8_t, char32_t> cases[] = {
      {'\n', '\n'},  {'\t', '\t'},   {' ', ' '},       {'1', '1'},       {'a', 0x03B1},  // alpha
      {'W', 0x03A9}, {'p', 0x03C0},  {'"', 0x2200},    {0xA5, 0x221E},   {0xD6, 0x221A},  // radical
      {0xE6, 0xF8EB}, {0xF2, 0x222B}, {0xBE, 0xF8E7},  {0x7F, 0xFFFD},   {0xF0, 0xFFFD}, {0xFF, 0xFFFD},
  };
  for (auto [byte, cp] : cases) EXPECT_EQ(SymbolToUnicode(byte), cp) << int(byte);
}

// Against Perl's Encode, which carries the same public table ("AdobeSymbol").
TEST(Text, SymbolFontTableMatchesPerlsEncode) {
  const std::string command = std::string(KV_PERL) +
                              " -MEncode -e 'for (0x20..0xFF) { my $u = decode(\"AdobeSymbol\", chr($_));"
                              " printf \"%d %d\\n\", $_, length $u ? ord($u) : 0xFFFD }'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  int byte = 0, cp = 0, lines = 0;
  while (std::fscanf(pipe, "%d %d", &byte, &cp) == 2) {
    EXPECT_EQ(SymbolToUnicode(uint8_t(byte)), char32_t(cp)) << byte;
    ++lines;
  }
  EXPECT_EQ(pclose(pipe), 0) << command;
  EXPECT_EQ(lines, 224);
}

TEST(Text, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int i = 1; i < 256; ++i) all += static_cast<char>(i);
  bool lossy = true;
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all), &lossy), all);
  EXPECT_FALSE(lossy);
}

TEST(Text, Utf8Conversions) {
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");
  EXPECT_EQ(Cp1252ToUtf8("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(Cp1252ToUtf8("\x80" "ab\x9F\xFF" "cd"), "\xE2\x82\xAC" "ab\xC5\xB8\xC3\xBF" "cd");
  struct Case {
    const char* utf8;
    const char* cp1252;
    bool lossy;
  } cases[] = {
      {"plain", "plain", false},
      {"\xE2\x82\xAC 5", "\x80 5", false},
      {"\xE2\x98\x83", "?", true},      // not in the code page
      {"\xC3", "?", true},              // cut sequence
      {"\xC0\xAF", "??", true},         // overlong form
      {"\xED\xA0\x80", "???", true},    // a surrogate
      {"\xF0\x9F\x98\x80", "?", true},  // outside the BMP
  };
  for (const Case& c : cases) {
    bool lossy = false;
    EXPECT_EQ(Utf8ToCp1252(c.utf8, &lossy), c.cp1252) << c.utf8;
    EXPECT_EQ(lossy, c.lossy) << c.utf8;
  }
  EXPECT_EQ(Utf16ToCp1252(u"a\u20ACb\U0001F600"), "a\x80" "b?");
}

TEST(Text, CaseFolding) {
  const std::pair<char, char> pairs[] = {
      {'a', 'A'}, {'z', 'Z'}, {'\xE9', '\xC9'}, {'\xFE', '\xDE'}, {'\x9A', '\x8A'},
      {'\x9C', '\x8C'}, {'\x9E', '\x8E'}, {'\xFF', '\x9F'},
  };
  for (auto [lower, upper] : pairs) {
    EXPECT_EQ(ToUpper1252(lower), upper);
    EXPECT_EQ(ToLower1252(upper), lower);
  }
  // Letters without a case partner and the two signs between the letters.
  for (char c : {'\xDF', '\xF7', '\xD7', '\xB5', '1', '_'}) {
    EXPECT_EQ(ToUpper1252(c), c);
    EXPECT_EQ(ToLower1252(c), c);
  }
}

TEST(Text, NoCaseCompare) {
  EXPECT_TRUE(EqualsNoCase("Sc\xC8ne.KVS", "sc\xE8ne.kvs"));
  EXPECT_FALSE(EqualsNoCase("a", "ab"));
  EXPECT_EQ(CompareNoCase("abc", "ABD"), -1);
  EXPECT_EQ(CompareNoCase("B", "a"), 1);
  EXPECT_EQ(CompareNoCase("ab", "AB"), 0);
  EXPECT_EQ(CompareNoCase("ab", "abc"), -1);
}

TEST(Text, Trim) {
  EXPECT_EQ(Trim(" \t x y \r\n"), "x y");
  EXPECT_EQ(TrimLeft("  x "), "x ");
  EXPECT_EQ(TrimRight("  x "), "  x");
  EXPECT_EQ(Trim("   "), "");
}

}  // namespace
}  // namespace kv
