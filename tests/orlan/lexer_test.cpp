// Tokens of the lexer: literals with their VBA types, type characters,
// continuations, comments and line numbers.
#include "orlan/lexer.h"

#include <gtest/gtest.h>

namespace kv::orlan {
namespace {

TEST(Lexer, LiteralsAndSuffixes) {
  auto t = Tokenize("x = 12 + 3.5 + 1E3 + &HFF + &HFFFF& + 7& + \"a\"\"b\" & Left$(s, 1)\n");
  ASSERT_GE(t.size(), 20u);
  EXPECT_EQ(t[0].kind, Tok::Ident);
  EXPECT_EQ(t[2].kind, Tok::Integer);
  EXPECT_EQ(t[2].number, 12);
  EXPECT_EQ(t[4].kind, Tok::Float);
  EXPECT_EQ(t[6].kind, Tok::Float);
  EXPECT_EQ(t[6].number, 1000);
  EXPECT_EQ(t[8].number, 255);
  EXPECT_EQ(t[10].number, 65535);
  EXPECT_EQ(t[10].suffix, '&');
  EXPECT_EQ(t[12].suffix, '&');
  EXPECT_EQ(t[14].kind, Tok::String);
  EXPECT_EQ(t[14].text, "a\"b");
  EXPECT_EQ(t[15].text, "&");
  EXPECT_EQ(t[16].text, "Left");
  EXPECT_EQ(t[16].suffix, '$');
}

TEST(Lexer, HexWithoutSuffixIsSixteenBit) {
  auto t = Tokenize("&HFFFF");
  EXPECT_EQ(t[0].number, -1);
}

TEST(Lexer, ContinuationsCommentsAndLines) {
  auto t = Tokenize("a = 1 _\n  + 2 ' note\nRem whole line\nb = 3: c = 4\n");
  std::vector<Tok> kinds;
  for (const auto& tk : t) kinds.push_back(tk.kind);
  const std::vector<Tok> want = {Tok::Ident, Tok::Op, Tok::Integer, Tok::Op, Tok::Integer, Tok::Newline, Tok::Ident, Tok::Op,
                                 Tok::Integer, Tok::Colon, Tok::Ident, Tok::Op, Tok::Integer, Tok::Newline, Tok::End};
  EXPECT_EQ(kinds, want);
  EXPECT_EQ(t[4].line, 2u);
  EXPECT_EQ(t[6].line, 4u);
}

TEST(Lexer, Errors) {
  EXPECT_THROW(Tokenize("s = \"open\n"), LexError);
  try {
    Tokenize("a\nb\n c = `");
  } catch (const LexError& e) {
    EXPECT_EQ(e.line, 3u);
  }
}

TEST(Lexer, ConcatenationNextToNames) {
  auto t = Tokenize("a & b\na&\"x\"\n");
  EXPECT_EQ(t[1].text, "&");
  EXPECT_EQ(t[0].suffix, 0);
  EXPECT_EQ(t[4].suffix, 0);
  EXPECT_EQ(t[5].text, "&");
}

}  // namespace
}  // namespace kv::orlan
