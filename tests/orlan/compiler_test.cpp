// Compile errors: every error of a module is reported, each with its line.
#include "orlan/compiler.h"

#include <gtest/gtest.h>

namespace kv::orlan {
namespace {

struct ErrorCase {
  const char* name;
  const char* source;
  uint32_t line;
  const char* message;  // a part of the expected message
};

class CompileErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(CompileErrors, ReportLineAndMessage) {
  const ErrorCase& c = GetParam();
  CompileResult r = Compile(c.source);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.errors[0].line, c.line) << r.errors[0].message;
  EXPECT_NE(r.errors[0].message.find(c.message), std::string::npos) << r.errors[0].message;
}

const ErrorCase kErrors[] = {
    {"UndeclaredWithOptionExplicit", "Option Explicit\nSub Main()\nx = 1\nEnd Sub\n", 3, "Variable not defined: x"},
    {"MissingEndIf", "Sub Main()\nIf 1 Then\nx = 1\nEnd Sub\n", 4, "Expected: End If"},
    {"MissingEndSub", "Sub Main()\nx = 1\n", 1, "Expected: End Sub"},
    {"LoopWithoutDo", "Sub Main()\nFor i = 1 To 2\nLoop\nNext\nEnd Sub\n", 3, "Loop without Do"},
    {"ExitForOutsideLoop", "Sub Main()\nExit For\nEnd Sub\n", 2, "Exit For not within For"},
    {"UnknownLabel", "Sub Main()\nGoTo nowhere\nEnd Sub\n", 2, "Label not defined: nowhere"},
    {"DuplicateLabel", "Sub Main()\na:\na:\nEnd Sub\n", 3, "Duplicate label"},
    {"DuplicateDim", "Sub Main()\nDim a\nDim a\nEnd Sub\n", 3, "Duplicate declaration"},
    {"StatementOutsideProcedure", "x = 1\n", 1, "Invalid outside procedure"},
    {"UnterminatedString", "Sub Main()\ns = \"abc\nEnd Sub\n", 2, "Unterminated string"},
    {"ArgumentNotOptional", "Sub F(a)\nEnd Sub\nSub Main()\nF\nEnd Sub\n", 4, "Argument not optional"},
    {"TooManyArguments", "Sub F(a)\nEnd Sub\nSub Main()\nF 1, 2\nEnd Sub\n", 4, "Wrong number of arguments"},
    {"WrongLibraryArgumentCount", "Sub Main()\nx = Left(\"a\")\nEnd Sub\n", 2, "Wrong number of arguments"},
    {"AssignToConstant", "Const K = 1\nSub Main()\nK = 2\nEnd Sub\n", 3, "Assignment to constant"},
    {"ConstantOverflow", "Const K As Integer = 40000\n", 1, "Overflow"},
    {"NamedArgumentNotFound", "Sub F(a)\nEnd Sub\nSub Main()\nF b:=1\nEnd Sub\n", 4, "Named argument not found: b"},
    {"NamedArgumentTwice", "Sub F(a)\nEnd Sub\nSub Main()\nF a:=1, a:=2\nEnd Sub\n", 4, "Named argument already specified: a"},
    {"NamedArgumentRequiredLeftOut", "Sub F(a, b)\nEnd Sub\nSub Main()\nF b:=1\nEnd Sub\n", 4, "Argument not optional"},
    {"PositionalAfterNamed", "Sub F(a, b)\nEnd Sub\nSub Main()\nF a:=1, 2\nEnd Sub\n", 4, "Expected: named argument"},
    {"NamedArgumentToHost", "Sub Main()\nShowText text:=1\nEnd Sub\n", 2, "Named arguments need a procedure of this module"},
    {"NamedArgumentToLibrary", "Sub Main()\nx = Len(s:=1)\nEnd Sub\n", 2, "Named arguments need a procedure of this module"},
    {"ParamArrayNotLast", "Sub F(ParamArray a(), b)\nEnd Sub\n", 1, "ParamArray must be the last parameter"},
    {"ParamArrayTyped", "Sub F(ParamArray a() As Long)\nEnd Sub\n", 1, "Invalid ParamArray"},
    {"ParamArrayWithoutParentheses", "Sub F(ParamArray a)\nEnd Sub\n", 1, "Invalid ParamArray"},
    {"GoSubLabelMissing", "Sub Main()\nGoSub x\nEnd Sub\n", 2, "Label not defined: x"},
    {"ExpressionExpected", "Sub Main()\nx = 1 +\nEnd Sub\n", 2, "Expected: expression"},
    {"SetNeedsObject", "Sub Main()\nSet x = 5\nEnd Sub\n", 2, "Object required"},
    {"OptionBaseTwo", "Option Base 2\n", 1, "Option Base"},
    {"OversizedModuleArray", "Dim g(10000, 10000)\nSub Main()\nEnd Sub\n", 1, "Out of memory"},
    {"OversizedStaticArray", "Sub Main()\nStatic s(9000000) As Byte\nEnd Sub\n", 2, "Out of memory"},
    {"UnknownRecordField", "Type P\nX As Long\nEnd Type\nSub Main()\nDim p As P\np.Y = 1\nEnd Sub\n", 6, "member not found: Y"},
};

INSTANTIATE_TEST_SUITE_P(Orlan, CompileErrors, ::testing::ValuesIn(kErrors),
                         [](const ::testing::TestParamInfo<ErrorCase>& info) { return std::string(info.param.name); });

TEST(Compiler, ReportsEveryErrorInOrder) {
  CompileResult r = Compile("Sub Main()\nx = \nDim a\nDim a\ny = 1 +\nEnd Sub\nSub Two()\nGoTo none\nEnd Sub\n");
  ASSERT_EQ(r.errors.size(), 4u);
  EXPECT_EQ(r.errors[0].line, 2u);
  EXPECT_EQ(r.errors[1].line, 4u);
  EXPECT_EQ(r.errors[2].line, 5u);
  EXPECT_EQ(r.errors[3].line, 8u);
}

// A block left open ends at its procedure's End: one error, nothing reported
// about the lines after it.
TEST(Compiler, BlockLeftOpenIsOneError) {
  const struct {
    const char* source;
    uint32_t line;
    const char* message;
  } cases[] = {
      {"Sub Main()\nIf 1 Then\nx = 1\nEnd Sub\nSub Two()\nEnd Sub\n", 4, "Expected: End If"},
      {"Sub Main()\nDim x\nIf x = 1 Then\nx = 2\nEnd Sub\n", 5, "Expected: End If"},
      {"Function F()\nFor i = 1 To 2\nEnd Function\nSub Main()\nEnd Sub\n", 3, "Expected: Next"},
      {"Sub Main()\nDo\nWith x\nEnd Sub\n", 4, "Expected: End With"},
  };
  for (const auto& c : cases) {
    CompileResult r = Compile(c.source);
    ASSERT_EQ(r.errors.size(), 1u) << c.source << r.errors.back().line << ": " << r.errors.back().message;
    EXPECT_EQ(r.errors[0].line, c.line) << c.source;
    EXPECT_EQ(r.errors[0].message, c.message) << c.source;
  }
}

TEST(Compiler, ArraysSizedByVariablesAreEachReportedAndDeclared) {
  CompileResult r = Compile("Sub Main()\nDim n\nn = 3\nDim a(n), b(n * 2), c(1 To n)\nb(5) = 7: c(3) = 2\nPrint a(0)\nEnd Sub\n");
  ASSERT_EQ(r.errors.size(), 3u);
  for (const auto& e : r.errors) {
    EXPECT_EQ(e.line, 4u);
    EXPECT_EQ(e.message, "Constant expression required");
  }
}

std::string Repeat(const std::string& s, int n) {
  std::string r;
  for (int k = 0; k < n; ++k) r += s;
  return r;
}

// Depths that once overflowed the compiler's stack: one error, with its line.
TEST(Compiler, DeepNestingIsAnErrorNotACrash) {
  const struct {
    std::string source;
    uint32_t line;
    const char* message;
  } cases[] = {
      {"Sub Main()\nx = " + Repeat("(", 3600) + "1" + Repeat(")", 3600) + "\nEnd Sub\n", 2, "Expression too complex"},
      {"Sub Main()\nx = " + Repeat("-", 47000) + "1\nEnd Sub\n", 2, "Expression too complex"},
      {"Sub Main()\nx = " + Repeat("Not ", 20000) + "1\nEnd Sub\n", 2, "Expression too complex"},
      {"Const K = " + Repeat("-", 47000) + "1\nSub Main()\nEnd Sub\n", 1, "Expression too complex"},
      {"Sub Main()\n" + Repeat("If 1 Then\n", 12400) + Repeat("End If\n", 12400) + "End Sub\n", 252, "Nesting too deep"},
      {"Sub Main()\n" + Repeat("For i = 1 To 1\n", 12400) + Repeat("Next\n", 12400) + "End Sub\n", 252, "Nesting too deep"},
      {"Sub Main()\n" + Repeat("If 1 Then ", 5000) + "x = 1\nEnd Sub\n", 2, "Nesting too deep"},
  };
  for (const auto& c : cases) {
    CompileResult r = Compile(c.source);
    ASSERT_EQ(r.errors.size(), 1u) << c.source.substr(0, 40) << " " << r.errors.back().message;
    EXPECT_EQ(r.errors[0].line, c.line) << c.source.substr(0, 40);
    EXPECT_EQ(r.errors[0].message, c.message);
  }
  // Nesting within the bounds still compiles.
  EXPECT_TRUE(Compile("Sub Main()\nx = " + Repeat("(", 90) + "1" + Repeat(")", 90) + "\n" + Repeat("If 1 Then\n", 200) +
                      Repeat("End If\n", 200) + "End Sub\n")
                  .ok());
}

TEST(Compiler, ForwardCallsAndHostImports) {
  CompileResult r = Compile("Sub Main()\nLater 1\nkvoShow \"x\"\nDim r As kvrect\nEnd Sub\nSub Later(n)\nEnd Sub\n");
  ASSERT_TRUE(r.ok()) << r.errors[0].message;
  ASSERT_EQ(r.program.imports.size(), 1u);
  EXPECT_EQ(r.program.imports[0].name, "kvoShow");
  ASSERT_EQ(r.program.records.size(), 1u);
  EXPECT_TRUE(r.program.records[0].external);
  EXPECT_EQ(r.program.FindFunction("later"), 1);
}

TEST(Compiler, FoldsConstantsAndFusesComparisons) {
  CompileResult r = Compile("Sub Main()\nDim i As Long\nIf i < 2 * 3 + 1 Then i = 1\nEnd Sub\n");
  ASSERT_TRUE(r.ok());
  const Function& f = r.program.functions[0];
  bool fused = false;
  for (const Ins& in : f.code) {
    EXPECT_NE(GenericOp(in.op), Op::Mul);
    if (in.op == Op::JmpCmpLt) fused = true;
  }
  EXPECT_TRUE(fused);
}

TEST(Compiler, TypedFormsOnlyWhenOptimising) {
  const char* source = "Sub Main()\nDim i As Long, a(3) As Long\nFor i = 1 To 2\na(i + 1) = i\na(i) = i * 3\nNext\nEnd Sub\n";
  CompileResult plain = Compile(source, CompileOptions{false});
  ASSERT_TRUE(plain.ok());
  for (const Ins& in : plain.program.functions[0].code) EXPECT_EQ(GenericOp(in.op), in.op) << OpName(in.op);
  CompileResult opt = Compile(source);
  ASSERT_TRUE(opt.ok());
  std::string ops;
  for (const Ins& in : opt.program.functions[0].code) ops += std::string(OpName(in.op)) + " ";
  EXPECT_NE(ops.find("MulLK"), std::string::npos) << ops;
  EXPECT_NE(ops.find("SetIndexOff"), std::string::npos) << ops;
  EXPECT_NE(ops.find("ForInc"), std::string::npos) << ops;
}

TEST(Compiler, PlainModeKeepsEveryOperation) {
  CompileResult r = Compile("Sub Main()\nDim i As Long\nIf i < 2 * 3 + 1 Then i = 1\nEnd Sub\n", CompileOptions{false});
  ASSERT_TRUE(r.ok());
  int muls = 0;
  for (const Ins& in : r.program.functions[0].code) {
    EXPECT_NE(in.op, Op::JmpCmp);
    muls += in.op == Op::Mul;
  }
  EXPECT_EQ(muls, 1);
}

}  // namespace
}  // namespace kv::orlan
