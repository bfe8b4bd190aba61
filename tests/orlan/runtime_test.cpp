// The runtime library through scripts: each case is one expression printed
// by Main, or an expression whose evaluation must raise an error.
#include <gtest/gtest.h>

#include "orlan/runtime.h"
#include "tests/orlan/script_runner.h"

namespace kv::orlan::testing {
namespace {

struct Expr {
  const char* expr;
  const char* printed;  // nullptr: the expression raises `error`
  int error = 0;
};

class Library : public ::testing::TestWithParam<Expr> {};

TEST_P(Library, Evaluates) {
  const Expr& e = GetParam();
  RunOutcome r = RunProgram(std::string("Sub Main()\nPrint ") + e.expr + "\nEnd Sub\n");
  ASSERT_TRUE(r.compileErrors.empty()) << r.compileErrors[0].message;
  if (e.printed) {
    EXPECT_EQ(r.error, 0) << r.errorText;
    EXPECT_EQ(r.output, std::string(e.printed) + "\n");
  } else {
    EXPECT_EQ(r.error, e.error);
  }
}

const Expr kStrings[] = {
    {"Len(\"abc\") & Len(\"\") & Len(12)", "302"},
    {"Left(\"abcdef\", 2) & \"|\" & Right(\"abcdef\", 2) & \"|\" & Left(\"ab\", 9)", "ab|ef|ab"},
    {"Mid(\"abcdef\", 2, 3) & \"|\" & Mid(\"abcdef\", 5) & \"|\" & Mid(\"abc\", 9) & \"|\"", "bcd|ef||"},
    {"Mid(\"abc\", 0)", nullptr, 5},
    {"Left(\"abc\", -1)", nullptr, 5},
    {"InStr(\"hello\", \"l\") & InStr(4, \"hello\", \"l\") & InStr(\"hello\", \"z\") & InStr(\"abc\", \"\")", "3401"},
    {"InStr(1, \"ABC\", \"b\", 1) & InStr(1, \"ABC\", \"b\", 0)", "20"},
    {"InStrRev(\"a.b.c\", \".\") & InStrRev(\"a.b.c\", \".\", 3) & InStrRev(\"abc\", \"z\")", "420"},
    {"LCase(\"AbC\" & Chr(201)) = \"abc\" & Chr(233)", "True"},
    {"UCase(Chr(255)) = Chr(159)", "True"},
    {"\"[\" & Trim(\"  a b  \") & \"][\" & LTrim(\"  a \") & \"][\" & RTrim(\" a  \") & \"]\"", "[a b][a ][ a]"},
    {"\"[\" & Trim(vbTab) & \"]\" & Len(vbCrLf) & vbYesNo & vbTextCompare", "[\t]241"},
    {"Space(3) & \"|\" & String(3, \"xy\") & String(2, 65)", "   |xxxAA"},
    {"Replace(\"a-b-c\", \"-\", \"+\") & \" \" & Replace(\"a-b-c\", \"-\", \"\", 1, 1) & \" \" & Replace(\"aXbx\", \"x\", \"_\", 1, -1, 1)",
     "a+b+c ab-c a_b_"},
    {"Replace(\"abcabc\", \"b\", \"B\", 3)", "caBc"},
    {"Join(Split(\"a,b,,c\", \",\"), \"|\") & \" \" & UBound(Split(\"a b c\")) & \" \" & Join(Split(\"a,b,c\", \",\", 2), \"|\")",
     "a|b||c 2 a|b,c"},
    {"StrComp(\"a\", \"B\") & StrComp(\"a\", \"B\", 1) & StrComp(\"x\", \"x\")", "1-10"},
    {"Asc(\"A\") & \" \" & Asc(Chr(200)) & \" \" & Chr(72) & Chr(105)", "65 200 Hi"},
    {"Asc(\"\")", nullptr, 5},
    {"Chr(256)", nullptr, 5},
    {"\"[\" & Str(5) & \"][\" & Str(-5) & \"][\" & Str(2.5) & \"]\"", "[ 5][-5][ 2.5]"},
    {"Val(\"  12 34abc\") & \" \" & Val(\"&H1F\") & \" \" & Val(\"x1\") & \" \" & Val(\"-1.5e2\")", "1234 31 0 -150"},
    {"StrReverse(\"abc\")", "cba"},
    {"Hex(255) & \" \" & Oct(64) & \" \" & Hex(-1)", "FF 100 FFFF"},
};

const Expr kNumbers[] = {
    {"CInt(\"12\") + CLng(2.5) + CDbl(\"1.5\")", "15.5"},
    {"CBool(\"True\") & CBool(0) & CBool(\"0\") & CStr(1.25)", "TrueFalseFalse1.25"},
    {"CInt(\"x\")", nullptr, 13},
    {"CByte(256)", nullptr, 6},
    {"CInt(32767.5)", nullptr, 6},
    {"Int(-2.5) & \" \" & Fix(-2.5) & \" \" & Int(2.7) & \" \" & TypeName(Int(2&))", "-3 -2 2 Long"},
    {"Abs(-3) & \" \" & Sgn(-2) & Sgn(0) & Sgn(5)", "3 -101"},
    {"Round(2.5) & \" \" & Round(3.5) & \" \" & Round(0.125, 2) & \" \" & Round(-1.5)", "2 4 0.12 -2"},
    {"Sqr(16) & \" \" & Exp(0) & \" \" & Log(1) & \" \" & Int(Atn(1) * 4 * 1000)", "4 1 0 3141"},
    {"Sqr(-1)", nullptr, 5},
    {"Log(0)", nullptr, 5},
    {"Sin(0) + Cos(0) + Tan(0)", "1"},
    {"Rnd(-1) = Rnd(-1)", "True"},
    {"(Rnd() >= 0) And (Rnd() < 1)", "True"},
    {"Timer() >= 0 And Timer() < 86400", "True"},
    {"Now() > 40000", "True"},
    {"IsNumeric(\"1e3\") & IsNumeric(\"abc\") & IsNumeric(5) & IsEmpty(Empty) & IsNull(Null) & IsArray(Array())", "TrueFalseTrueTrueTrueTrue"},
    {"TypeName(Array(1)) & \" \" & VarType(\"s\") & \" \" & TypeName(Null)", "Variant() 8 Null"},
    {"IIf(1 > 2, \"yes\", \"no\")", "no"},
    {"LBound(Array(1, 2)) & UBound(Array(1, 2))", "01"},
    {"UBound(5)", nullptr, 13},
    {"MsgBox(\"hello\")", "1"},
    {"InputBox(\"q\", \"t\", \"dflt\")", "dflt"},
};

// No builder of strings passes the 64 MiB limit (67108864 characters); each
// raises "Out of string space" (14) before it allocates past it.
const Expr kStringLimit[] = {
    {"Len(Space(67108864)) & \" \" & Len(String(67108864, \"a\"))", "67108864 67108864"},
    {"Len(Space(67108865))", nullptr, 14},
    {"Len(String(67108865, \"a\"))", nullptr, 14},
    {"Space(-1)", nullptr, 5},
    {"Len(Space(67108863) & \"a\")", "67108864"},
    {"Len(Space(67108864) & \"a\")", nullptr, 14},
    // 8 Mi hits, each made 9 characters long: 72 Mi.
    {"Len(Replace(String(8388608, \"a\"), \"a\", \"123456789\"))", nullptr, 14},
    {"Len(Replace(String(8388608, \"a\"), \"a\", \"12345678\"))", "67108864"},
    {"Len(Join(Array(Space(40000000), Space(40000000)), \"\"))", nullptr, 14},
    // A million empty parts joined by a long delimiter.
    {"Len(Join(Split(String(1000000, \",\"), \",\"), Space(100)))", nullptr, 14},
    {"Len(Join(Array(Space(33554432), Space(33554431)), \"x\"))", "67108864"},
    {"Len(Format(1, String(67108865, \"0\")))", nullptr, 14},
    // Zeros of the pattern pad in one step (digit by digit this took hours).
    {"Len(Format(1, String(8000000, \"0\"))) & \" \" & Len(Format(1, \"0E+\" & String(8000000, \"0\")))",
     "8000000 8000003"},
};

INSTANTIATE_TEST_SUITE_P(Strings, Library, ::testing::ValuesIn(kStrings));
INSTANTIATE_TEST_SUITE_P(StringLimit, Library, ::testing::ValuesIn(kStringLimit));
INSTANTIATE_TEST_SUITE_P(Numbers, Library, ::testing::ValuesIn(kNumbers));

TEST(Runtime, LikePatterns) {
  struct L {
    const char* text;
    const char* pattern;
    bool text_mode;
    bool match;
  };
  const L cases[] = {
      {"", "", false, true},           {"abc", "a?c", false, true},   {"abc", "*c", false, true},
      {"abc", "*b", false, false},     {"a5", "a#", false, true},     {"aX", "a#", false, false},
      {"b", "[a-c]", false, true},     {"B", "[a-c]", false, false},  {"B", "[a-c]", true, true},
      {"d", "[!a-c]", false, true},    {"*", "[*]", false, true},     {"abcabc", "*b*c", false, true},
      {"\xE9t\xE9", "?t?", false, true}, {"\xC9", "\xE9", true, true}, {"\xC9", "\xE9", false, false},
  };
  for (const L& c : cases) EXPECT_EQ(LikeMatch(c.text, c.pattern, c.text_mode), c.match) << c.text << " Like " << c.pattern;
  EXPECT_THROW(LikeMatch("a", "[a", false), ScriptError);
}

TEST(Runtime, CompareStringsUsesBytesOrCodePageCase) {
  EXPECT_EQ(CompareStrings("a", "b", false), -1);
  EXPECT_EQ(CompareStrings("\xE9", "a", false), 1);  // bytes compare unsigned
  EXPECT_EQ(CompareStrings("\xE9", "\xC9", true), 0);
  EXPECT_EQ(CompareStrings("ab", "a", false), 1);
}

}  // namespace
}  // namespace kv::orlan::testing
