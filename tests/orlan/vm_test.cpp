// Language behaviour, program by program: each case is a module whose Main
// prints lines through the host's Print, or ends with a run-time error
// whose number and line are checked.
#include <gtest/gtest.h>

#include <cstdlib>

#include "orlan/codefile.h"
#include "tests/orlan/script_runner.h"

namespace kv::orlan::testing {
namespace {

struct Case {
  const char* name;
  const char* source;  // a whole module, or the body of Sub Main
  const char* output;  // expected prints, one per line
  int error = 0;       // expected run-time error number
  uint32_t line = 0;   // and its line (counted in the wrapped module)
};

std::string Module(const char* source) {
  std::string s = source;
  if (s.find("Sub ") == std::string::npos && s.find("Function ") == std::string::npos)
    return "Sub Main()\n" + s + "\nEnd Sub\n";
  return s;
}

class Programs : public ::testing::TestWithParam<Case> {};

// Every program runs compiled with and without optimisation.
TEST_P(Programs, RunAsExpected) {
  const Case& c = GetParam();
  setenv("KV_ORLAN_ENVIRON_TEST", "a b", 1);
  for (bool optimize : {true, false}) {
    SCOPED_TRACE(optimize ? "optimised" : "plain");
    RunOutcome r = RunProgram(Module(c.source), "Main", CompileOptions{optimize});
    for (const auto& e : r.compileErrors) ADD_FAILURE() << "compile error line " << e.line << ": " << e.message;
    EXPECT_EQ(r.output, c.output);
    EXPECT_EQ(r.error, c.error) << r.errorText;
    if (c.error > 0) {
      EXPECT_EQ(r.line, c.line) << r.errorText;
    }
  }
}

const Case kCases[] = {
    // Coercion corners.
    {"StringPlusNumberAdds", "Print \"3\" + 4", "7\n"},
    {"AmpersandConcatenates", "Print \"3\" & 4", "34\n"},
    {"StringPlusStringConcatenates", "Print \"3\" + \"4\"", "34\n"},
    {"CIntRoundsHalfToEven", "Print CInt(2.5) & \" \" & CInt(3.5) & \" \" & CInt(-2.5) & \" \" & CLng(0.5)", "2 4 -2 0\n"},
    {"TrueIsMinusOne", "Print CInt(True) & \" \" & (True = -1) & \" \" & CStr(False)", "-1 True False\n"},
    {"ModTakesSignOfDividend", "Print -7 Mod 3 & \" \" & 7 Mod -3 & \" \" & 5.5 Mod 2", "-1 1 0\n"},
    {"IntegerDivisionTruncates", "Print 7 \\ 2 & \" \" & -7 \\ 2 & \" \" & 9.6 \\ 2", "3 -3 5\n"},
    {"DivisionIsDouble", "Print 7 / 2 & \" \" & 1 / 4", "3.5 0.25\n"},
    {"PowerAndNegation", "Print -2 ^ 2 & \" \" & 2 ^ -1 & \" \" & 2 ^ 10", "-4 0.5 1024\n"},
    {"IntegerOverflowAt32768", "Dim i As Integer\ni = 32767\ni = i + 1", "", 6, 4},
    {"IntegerLiteralsOverflow", "Dim l As Long\nl = 32767 + 1", "", 6, 3},
    {"VariantIntegerPromotes", "Dim v\nv = 32767\nv = v + 1\nPrint v & \" \" & TypeName(v)", "32768 Long\n"},
    {"LongOverflow", "Dim l As Long\nl = 2147483647\nl = l + 1", "", 6, 4},
    {"AssignOverflowsInteger", "Dim i As Integer\ni = 40000", "", 6, 3},
    {"StringToNumberMismatch", "Dim l As Long\nl = \"abc\"", "", 13, 3},
    {"NumericStringConverts", "Dim l As Long\nl = \" 42 \"\nPrint l + 1", "43\n"},
    {"DivisionByZero", "Dim x\nx = 1 / 0", "", 11, 3},
    {"ZeroByZeroOverflows", "Dim x\nx = 0 / 0", "", 6, 3},
    {"IntDivByZero", "Print 5 \\ 0", "", 11, 2},
    {"DoubleToString", "Print 0.1 + 0.2 & \" \" & 1E+20 & \" \" & 1.5E-07 & \" \" & 100000# * 100000", "0.3 1E+20 1.5E-07 10000000000\n"},
    {"LongLiteralProductOverflows", "Print 100000 * 100000", "", 6, 2},
    {"BooleanArithmetic", "Print True + True & \" \" & (Not 0) & \" \" & (Not True)", "-2 -1 False\n"},
    {"LogicalBitwise", "Print (12 And 10) & \" \" & (12 Or 3) & \" \" & (12 Xor 10) & \" \" & (5 Eqv 3) & \" \" & (True Imp False)",
     "8 15 6 -7 False\n"},
    {"ComparisonsOfStrings", "Print (\"abc\" < \"abd\") & (\"B\" > \"a\") & (\"x\" = \"x\")", "TrueFalseTrue\n"},
    {"EmptyIsZeroAndEmptyString", "Dim v\nPrint v + 1 & \"|\" & v & \"|\" & (v = 0) & (v = \"\")", "1||TrueTrue\n"},
    {"LikeOperator", "Print (\"abc\" Like \"a*\") & (\"a1\" Like \"a#\") & (\"b\" Like \"[a-c]\") & (\"d\" Like \"[!a-c]\") & (\"A\" Like \"a\")",
     "TrueTrueTrueTrueFalse\n"},
    {"OptionCompareText", "Option Compare Text\nSub Main()\nPrint (\"ABC\" = \"abc\") & (\"A\" Like \"a\") & InStr(\"xAy\", \"a\")\nEnd Sub\n",
     "TrueTrue2\n"},
    {"Precedence", "Print 1 + 2 * 3 & \" \" & (1 + 2) * 3 & \" \" & 2 * 3 Mod 4 & \" \" & 10 - 4 - 3 & \" \" & (1 < 2 And 3 > 2)",
     "7 9 2 3 True\n"},
    // Statements.
    {"IfBlockElseIf",
     "Dim i As Integer\nFor i = 1 To 3\nIf i = 1 Then\nPrint \"one\"\nElseIf i = 2 Then\nPrint \"two\"\nElse\nPrint \"other\"\nEnd If\nNext",
     "one\ntwo\nother\n"},
    {"SingleLineIf", "Dim x\nx = 5\nIf x > 3 Then Print \"big\" Else Print \"small\"\nIf x < 3 Then Print \"no\": Print \"no2\"\nPrint \"end\"",
     "big\nend\n"},
    {"SelectCase",
     "Dim i\nFor i = 0 To 6\nSelect Case i\nCase 0: Print \"zero\"\nCase 1, 2: Print \"small\"\nCase 3 To 4: Print \"mid\"\n"
     "Case Is >= 6: Print \"big\"\nCase Else: Print \"else\"\nEnd Select\nNext",
     "zero\nsmall\nsmall\nmid\nmid\nelse\nbig\n"},
    {"SelectCaseStrings", "Select Case \"b\"\nCase \"a\"\nPrint 1\nCase \"b\", \"c\"\nPrint 2\nEnd Select", "2\n"},
    {"ForStep", "Dim i\nFor i = 10 To 1 Step -3\nPrint i\nNext i\nFor i = 0 To 1 Step 0.5\nPrint i\nNext", "10\n7\n4\n1\n0\n0.5\n1\n"},
    {"ForCounterAfterLoop", "Dim i As Long\nFor i = 1 To 3\nNext\nPrint i\nFor i = 5 To 1\nNext\nPrint i", "4\n5\n"},
    {"ForIntegerCounterOverflows", "Dim i As Integer\nFor i = 32760 To 32767\nNext", "", 6, 4},
    {"ForEachOverArray", "Dim a(2) As Long, x\na(0) = 5: a(1) = 6: a(2) = 7\nFor Each x In a\nPrint x\nNext", "5\n6\n7\n"},
    {"DoLoops",
     "Dim i\ni = 0\nDo While i < 2\ni = i + 1\nLoop\nPrint i\nDo\ni = i + 1\nLoop Until i >= 5\nPrint i\nDo Until i = 7\ni = i + 1\nLoop\n"
     "Print i\nDo\ni = i - 1\nLoop While i > 3\nPrint i",
     "2\n5\n7\n3\n"},
    {"WhileWend", "Dim i\nWhile i < 3\ni = i + 1\nWend\nPrint i", "3\n"},
    {"ExitForAndDo", "Dim i\nFor i = 1 To 10\nIf i = 3 Then Exit For\nNext\nPrint i\nDo\ni = i + 1\nIf i > 5 Then Exit Do\nLoop\nPrint i",
     "3\n6\n"},
    {"GoToLabels", "Dim i\ni = 0\nagain:\ni = i + 1\nIf i < 3 Then GoTo again\nPrint i\nGoTo 100\nPrint \"skipped\"\n100 Print \"done\"",
     "3\ndone\n"},
    {"WithRecord",
     "Type Pt\nX As Long\nY As Long\nEnd Type\nSub Main()\nDim p As Pt\nWith p\n.X = 3\n.Y = .X * 2\nEnd With\nPrint p.X & \",\" & p.Y\nEnd Sub\n",
     "3,6\n"},
    {"OnErrorGoToAndResumeNext",
     "Sub Main()\nOn Error GoTo handler\nDim x\nx = 1 / 0\nPrint \"after \" & x\nExit Sub\nhandler:\nPrint \"caught \" & Err.Number & \" \" & Err.Description\n"
     "Resume Next\nEnd Sub\n",
     "caught 11 Division by zero\nafter \n"},
    {"OnErrorResumeNext", "On Error Resume Next\nDim x\nx = 1 / 0\nPrint Err.Number\nErr.Clear\nPrint Err.Number\nx = CInt(\"zz\")\nPrint Err.Number",
     "11\n0\n13\n"},
    {"ResumeRetries",
     "Sub Main()\nDim d\nd = 0\nOn Error GoTo fix\nPrint 10 / d\nExit Sub\nfix:\nd = 2\nResume\nEnd Sub\n", "5\n"},
    {"ResumeLabel", "Sub Main()\nOn Error GoTo h\nErr.Raise 1234, \"src\", \"custom\"\nPrint \"no\"\nh:\nPrint Err.Number & \" \" & Err.Description\nEnd Sub\n",
     "1234 custom\n"},
    {"OnErrorGoToZeroStopsHandling", "On Error Resume Next\nOn Error GoTo 0\nDim x\nx = 1 / 0", "", 11, 5},
    {"ErrorPropagatesToCaller",
     "Sub Inner()\nDim a(1)\na(5) = 1\nEnd Sub\nSub Main()\nOn Error GoTo h\nInner\nPrint \"no\"\nExit Sub\nh:\nPrint \"caller got \" & Err.Number\nEnd Sub\n",
     "caller got 9\n"},
    {"ResumeNextInCallerSkipsCall",
     "Sub Inner()\nErr.Raise 5\nPrint \"no\"\nEnd Sub\nSub Main()\nOn Error Resume Next\nInner\nPrint \"next \" & Err.Number\nEnd Sub\n", "next 5\n"},
    {"UnhandledErrorInCalleeReportsItsLine", "Sub Inner()\nDim o As Object\no.Foo\nEnd Sub\nSub Main()\nInner\nEnd Sub\n", "", 91, 3},
    {"ResumeWithoutError", "Resume Next", "", 20, 2},
    {"ErrRaiseUserNumber", "Err.Raise 513", "", 513, 2},
    {"ErrRaiseObjectError", "On Error Resume Next\nErr.Raise vbObjectError + 1, \"mine\", \"bad thing\"\nPrint Err.Number - vbObjectError & \" \" & Err.Source & \" \" & Err.Description",
     "1 mine bad thing\n"},
    {"DoEventsYields", "DoEvents\nPrint \"ok\"", "ok\n"},
    {"DeclareParsedButNotBound",
     "Declare Function GetTickCount Lib \"kernel32\" () As Long\nSub Main()\nPrint \"x\"\nPrint GetTickCount()\nEnd Sub\n", "x\n", 453, 4},
    {"EndStopsTheRun", "Print 1\nEnd\nPrint 2", "1\n"},
    // Procedures.
    {"RecursionAndFunctions",
     "Function Fact(n As Long) As Double\nIf n <= 1 Then Fact = 1 Else Fact = n * Fact(n - 1)\nEnd Function\nSub Main()\nPrint Fact(10)\nEnd Sub\n",
     "3628800\n"},
    {"ByRefDefaultAndByVal",
     "Sub Bump(a As Long, ByVal b As Long)\na = a + 1\nb = b + 1\nEnd Sub\nSub Main()\nDim x As Long, y As Long\nBump x, y\nBump x, y\n"
     "Print x & \" \" & y\nBump (x), y\nPrint x\nEnd Sub\n",
     "2 0\n2\n"},
    {"ByRefArrayElementAndRecordField",
     "Type R\nN As Long\nEnd Type\nSub Twice(v As Long)\nv = v * 2\nEnd Sub\nSub Main()\nDim a(3) As Long, r As R\na(2) = 21\nTwice a(2)\n"
     "r.N = 5\nTwice r.N\nPrint a(2) & \" \" & r.N\nEnd Sub\n",
     "42 10\n"},
    {"RecordsCopyOnAssignment",
     "Type P\nX As Integer\nName As String\nEnd Type\nSub Main()\nDim a As P, b As P\na.X = 1: a.Name = \"a\"\nb = a\nb.X = 2\nPrint a.X & b.X & a.Name\nEnd Sub\n",
     "12a\n"},
    {"RecordByRefParameter",
     "Type P\nX As Long\nEnd Type\nSub SetIt(p As P)\np.X = 99\nEnd Sub\nSub Main()\nDim q As P\nSetIt q\nPrint q.X\nEnd Sub\n", "99\n"},
    {"NestedRecordsAndArraysOfRecords",
     "Type In\nV As Long\nEnd Type\nType Out\nI As In\nS As String * 3\nEnd Type\nSub Main()\nDim o(1) As Out\no(1).I.V = 7\no(1).S = \"abcdef\"\n"
     "Print o(1).I.V & o(1).S & Len(o(0).S)\nEnd Sub\n",
     "7abc3\n"},
    {"OptionalWithDefaults",
     "Function F(a As Long, Optional b As Long = 10, Optional c) As String\nF = a & \",\" & b & \",\" & IsMissing(c)\nEnd Function\n"
     "Sub Main()\nPrint F(1)\nPrint F(1, 2)\nPrint F(1, , 3)\nEnd Sub\n",
     "1,10,True\n1,2,True\n1,10,False\n"},
    {"ExitFunctionKeepsResult", "Function G() As Long\nG = 5\nExit Function\nG = 6\nEnd Function\nSub Main()\nPrint G()\nEnd Sub\n", "5\n"},
    {"StaticLocals", "Sub Count()\nStatic n As Long\nn = n + 1\nPrint n\nEnd Sub\nSub Main()\nCount\nCount\nCall Count\nEnd Sub\n", "1\n2\n3\n"},
    {"ModuleVariablesAndConstants",
     "Option Explicit\nPrivate Const Base As Long = 100\nPublic Total As Long\nDim Names(1 To 2) As String\nSub Add(n As Long)\nTotal = Total + n\nEnd Sub\n"
     "Sub Main()\nAdd Base\nAdd 5\nNames(2) = \"two\"\nPrint Total & Names(2) & LBound(Names)\nEnd Sub\n",
     "105two1\n"},
    {"OutOfStackSpace", "Sub Deep(n As Long)\nDeep n + 1\nEnd Sub\nSub Main()\nDeep 1\nEnd Sub\n", "", 28, 2},
    // A frame takes the place of one that returned: the old one's error handling must not carry over.
    {"ReusedFrameHasNoErrorHandler",
     "Sub A()\nOn Error Resume Next\nEnd Sub\nSub B()\nErr.Raise 5\nPrint \"resumed\"\nEnd Sub\nSub Main()\nA\nB\nEnd Sub\n", "", 5, 5},
    {"DeepRecursionAgainAfterOutOfStack",
     "Function Deep(n As Long) As Long\nDeep = Deep(n + 1)\nEnd Function\n"
     "Function Depth(n As Long) As Long\nIf n = 0 Then Depth = 0 Else Depth = 1 + Depth(n - 1)\nEnd Function\n"
     "Sub Main()\nOn Error Resume Next\nDeep 1\nPrint Err.Number\nPrint Depth(2500)\nEnd Sub\n",
     "28\n2500\n"},
    // Arrays.
    {"DynamicArraysReDimPreserve",
     "Dim a() As Long, i As Long\nReDim a(2)\nFor i = 0 To 2\na(i) = i * 10\nNext\nReDim Preserve a(4)\na(4) = 40\nPrint UBound(a) & \" \" & a(1) & \" \" & a(3) & \" \" & a(4)\n"
     "ReDim a(1)\nPrint a(1)",
     "4 10 0 40\n0\n"},
    {"MultiDimensional",
     "Dim m(1 To 2, 0 To 2) As Integer\nm(2, 1) = 7\nPrint m(2, 1) & LBound(m, 2) & UBound(m, 1) & UBound(m, 2)", "7022\n"},
    {"SubscriptOutOfRange", "Dim a(3)\na(4) = 1", "", 9, 3},
    {"WrongDimensionCount", "Dim a(3, 3)\nPrint a(1)", "", 9, 3},
    {"FixedArrayCannotReDim", "Dim a(3)\nReDim a(5)", "", 10, 3},
    // An element passed ByRef locks its array until the call returns.
    {"ReDimWhileAnElementIsByRef",
     "Dim a() As Long\nSub Grow(x As Long)\nReDim a(5)\nEnd Sub\nSub Main()\nReDim a(2)\nGrow a(1)\nEnd Sub\n", "", 10, 3},
    {"ReDimPreserveWhileAnElementIsByRef",
     "Dim a() As Long\nSub Grow(x As Long)\nReDim Preserve a(5)\nEnd Sub\nSub Main()\nReDim a(2)\nGrow a(1)\nEnd Sub\n", "", 10, 3},
    {"EraseWhileAnElementIsByRef",
     "Dim a() As Long\nSub Drop(x As Long)\nErase a\nEnd Sub\nSub Main()\nReDim a(2)\nDrop a(1)\nEnd Sub\n", "", 10, 3},
    {"ByValElementLeavesTheArrayFree",
     "Dim a() As Long\nSub Grow(ByVal x As Long)\nReDim a(5)\nPrint UBound(a)\nEnd Sub\nSub Main()\nReDim a(2)\nGrow a(1)\nEnd Sub\n", "5\n"},
    {"ArrayIsFreeAgainAfterTheCall",
     "Dim a() As Long\nSub Touch(x As Long)\nx = 4\nEnd Sub\nSub Main()\nReDim a(2)\nTouch a(1)\nPrint a(1)\nReDim a(3)\nErase a\nPrint \"ok\"\nEnd Sub\n", "4\nok\n"},
    {"ArrayAssignmentCopies", "Dim a, b\na = Array(1, 2)\nb = a\nb(0) = 9\nPrint a(0) & b(0)", "19\n"},
    {"OptionBaseOne", "Option Base 1\nSub Main()\nDim a(3)\nPrint LBound(a) & UBound(a) & LBound(Array(1))\nEnd Sub\n", "131\n"},
    {"EraseArrays", "Dim a(2) As Long, b() As String\na(1) = 5\nReDim b(3)\nErase a, b\nPrint a(1)\nPrint UBound(b)", "0\n", 9, 7},
    {"UBoundOfSplitOfEmpty", "Print UBound(Split(\"\", \",\"))", "-1\n"},
    // Objects.
    {"NothingAndIs", "Dim o As Object\nPrint (o Is Nothing)\nSet o = Nothing\nPrint IsObject(o) & TypeName(o)", "True\nTrueNothing\n"},
    {"ObjectNotSet", "Dim o As Object\no.Value = 1", "", 91, 3},
    // Strings are Windows-1252 bytes.
    {"StringsAreBytes", "Dim s As String\ns = Chr(233) & Chr(128)\nPrint Len(s) & \" \" & Asc(Right(s, 1)) & \" \" & Asc(UCase(Chr(233)))", "2 128 201\n"},
    {"MidStatement", "Dim s As String\ns = \"abcdef\"\nMid(s, 2, 3) = \"XYZW\"\nPrint s\nMid(s, 5) = \"12345\"\nPrint s", "aXYZef\naXYZ12\n"},
    {"TypeNameAndVarType",
     "Dim i As Integer, l As Long, d As Double, s As String, b As Boolean, v\nPrint TypeName(i) & TypeName(l) & TypeName(d) & TypeName(s) & TypeName(b) & TypeName(v)\n"
     "Print VarType(i) & VarType(l) & VarType(d) & VarType(s) & VarType(b) & VarType(v) & VarType(Array(1))",
     "IntegerLongDoubleStringBooleanEmpty\n2358110" "8204\n"},
    {"HexOctAndLiterals", "Print Hex(255) & \" \" & Hex(-1) & \" \" & Hex(-1&) & \" \" & Oct(8) & \" \" & &HFF & \" \" & &HFFFF & \" \" & &H10&",
     "FF FFFF FFFFFFFF 10 255 -1 16\n"},
    {"LineContinuationAndComments", "Dim s ' a comment\ns = \"a\" & _\n    \"b\"\nRem another\nPrint s", "ab\n"},
    {"ImplicitVariables", "x = 5\ny = x * 2\nPrint y", "10\n"},
    {"LocalsDeclaredLateKeepTheirStartValues",
     "Dim s As String\ns = Left(\"abc\", 2) & Mid(\"xyz\", 2)\nDim g(1, 1) As Integer, n As Long\ng(1, 1) = 3\nPrint s & g(1, 1) & n",
     "abyz30\n"},
    {"DimInLoopKeepsValue", "Dim i As Long\nFor i = 1 To 3\nDim total As Long\ntotal = total + i\nNext\nPrint total", "6\n"},
    // Programs that once ran wrongly or did not compile.
    {"TwoDimensionalComputedIndices",
     "Dim a(3, 3) As Long, i As Integer, j As Integer\nFor i = 0 To 2\nFor j = 0 To 2\na(i + 1, j * 1) = i * 10 + j\nNext\nNext\n"
     "Print a(1, 0) & \" \" & a(3, 2) & \" \" & a(2, 1) & \" \" & a(0, 0)",
     "0 22 11 0\n"},
    {"DynamicTwoDimensionalFilledInLoops",
     "Dim b() As Long, i As Integer, j As Integer, s As String\nReDim b(1 To 3, 1 To 2)\nFor i = 1 To 3\nFor j = 1 To 2\n"
     "b(i, 4 - j - 1) = i * 10 + j\nNext\nNext\nFor i = 1 To 3\nFor j = 1 To 2\ns = s & b(i + 0, j) & \",\"\nNext\nNext\nPrint s",
     "12,11,22,21,32,31,\n"},
    {"PrintSeparators", "Dim a, b, i\na = 1: b = \"x\"\nPrint a, b\nPrint a; b\nPrint a; b;\nPrint\nFor i = 1 To 3: Print i;: Next\nPrint \"|\"\nPrint \"open\";",
     "1\tx\n1x\n1x\n123|\nopen\n"},
    {"NextWithSeveralCounters",
     "Dim i As Integer, j As Integer, s As String\nFor i = 1 To 2\nFor j = 1 To 2\ns = s & i & j & \" \"\nNext j, i\nPrint s & i & j", "11 12 21 22 33\n"},
    {"SelectAfterErrorInItsHeaderSeesNoStaleValue",
     "Dim f As Long, g As Long\nOn Error Resume Next\ng = Abs(g - 5)\nSelect Case 5 \\ f\nCase 5\nPrint \"stale\"\nCase Else\nPrint \"else\"\nEnd Select",
     "else\n"},
    {"RecursiveVariantFunctionWithExpressionArguments",
     "Function F(n, acc)\nIf n > 5 Then\nF = acc\nElse\nF = F(n + 1, acc * 2 + n)\nEnd If\nEnd Function\n"
     "Sub Main()\nDim k\nk = 1\nPrint F(k + 0, k * 3)\nPrint F(0, 1)\nEnd Sub\n",
     "153\n121\n"},
    // The fused compare-and-jump of every loop and Select keeps Option Compare Text.
    {"OptionCompareTextInConditions",
     "Option Compare Text\nSub Main()\nDim s As String, v, n As Integer\ns = \"Hello\": v = \"HELLO\"\n"
     "If s = \"hello\" Then Print \"if\"\nIf v = s Then Print \"variant\"\n"
     "Do While s = \"HELLO\" And n < 2\nn = n + 1\nLoop\nPrint n\n"
     "Do Until s <> \"hello\"\nn = n + 1\nIf n > 5 Then Exit Do\nLoop\nPrint n\n"
     "Do\nn = n + 1\nLoop While s = \"hELLO\" And n < 8\nPrint n\n"
     "While s = \"hELLO\" And n < 10\nn = n + 1\nWend\nPrint n\n"
     "Select Case s\nCase \"HELLO\": Print \"case\"\nCase Else: Print \"else\"\nEnd Select\n"
     "Select Case s\nCase \"a\" To \"z\": Print \"range\"\nCase Else: Print \"else\"\nEnd Select\n"
     "Select Case s\nCase Is > \"GOODBYE\": Print \"is\"\nCase Else: Print \"else\"\nEnd Select\nEnd Sub\n",
     "if\nvariant\n2\n6\n8\n10\ncase\nrange\nis\n"},
    {"SeveralArraysInOneDimSizedByConstantExpressions",
     "Const N = 4\nSub Main()\nDim a(N), b(N * 2), c(1 To N + 1)\nb(8) = 7: c(5) = 2: a(4) = 1\n"
     "Print a(4) & b(8) & c(5) & UBound(b) & LBound(c)\nEnd Sub\n",
     "17281\n"},
    {"SingleLineIfWithColonAfterElse", "Dim x\nx = 1\nIf x = 2 Then Print \"a\" Else: Print \"b\": Print \"c\"\nIf x = 1 Then: Print \"d\"", "b\nc\nd\n"},
    {"ForEachOverArrayWithEmptyParentheses", "Dim a(2) As Integer, v\na(1) = 5\nFor Each v In a()\nPrint v\nNext", "0\n5\n0\n"},
    {"WithMembersAsPrintArguments", "Type P\nx As Long\ny As String\nEnd Type\nSub Main()\nDim r As P\nWith r\n.x = 4: .y = \"w\"\nPrint .x\nPrint .y & .x; .y\nEnd With\nEnd Sub\n",
     "4\nw4w\n"},
    // 100,000,001 elements is past the 8 Mi limit: error 7 at the Dim's or ReDim's line.
    {"OversizedDimRaisesOutOfMemoryAtItsLine", "Print \"never\"\nDim ok(3) As Long\nDim big(100000000) As Long", "", 7, 4},
    {"OversizedTwoDimensionalDim", "Dim big(10000, 1000) As Byte\nPrint \"never\"", "", 7, 2},
    {"OversizedReDimRaisesOutOfMemory", "Dim a() As Long\nReDim a(1 To 3)\nPrint UBound(a)\nReDim a(100000000)", "3\n", 7, 5},
    {"ReDimBelowLowerBoundIsSubscriptError", "Dim a() As Long\nReDim a(5 To 3)", "", 9, 3},
    // The test environment sets KV_ORLAN_ENVIRON_TEST; its entry is somewhere in the numbered list.
    {"Environ", "Dim i, found\nFor i = 1 To 10000\nIf Environ(i) = \"KV_ORLAN_ENVIRON_TEST=a b\" Then found = True\nIf Environ(i) = \"\" Then Exit For\nNext\n"
     "Print Environ(\"KV_ORLAN_ENVIRON_TEST\") & \"|\" & Environ(\"KV_ORLAN_NOT_SET\") & \"|\" & found\nPrint Environ(0)",
     "a b||True\n", 5, 8},
    // GoSub and Return: return points belong to the frame that made them.
    {"GoSubReturns", "Sub Main()\nDim n As Long\nGoSub Twice\nGoSub Twice\nPrint n\nExit Sub\nTwice:\nn = n + 2\nGoSub Once\nReturn\nOnce:\nn = n * 10\nReturn\nEnd Sub\n",
     "220\n"},
    {"GoSubToLineNumber", "Sub Main()\nGoSub 100\nPrint \"back\"\nExit Sub\n100 Print \"sub\": Return\nEnd Sub\n", "sub\nback\n"},
    {"ReturnWithoutGoSub", "Sub Main()\nPrint 1\nReturn\nEnd Sub\n", "1\n", 3, 3},
    {"GoSubReturnPointsStayInTheirFrame",
     "Sub Main()\nGoSub A\nPrint \"main\"\nExit Sub\nA:\nInner\nReturn\nEnd Sub\nSub Inner()\nReturn\nEnd Sub\n", "", 3, 10},
    {"GoSubInRecursion",
     "Function F(n As Long) As Long\nIf n = 0 Then Exit Function\nGoSub Add\nExit Function\nAdd:\nF = n + F(n - 1)\nReturn\nEnd Function\n"
     "Sub Main()\nPrint F(4)\nEnd Sub\n",
     "10\n"},
    {"EndlessGoSubRunsOutOfStack", "Sub Main()\n10 GoSub 10\nEnd Sub\n", "", 28, 2},
    // ParamArray: the extra arguments by value in a Variant array, empty (UBound -1) without any.
    {"ParamArraySums",
     "Function Sum(ParamArray xs()) As Double\nDim v\nFor Each v In xs\nSum = Sum + v\nNext\nEnd Function\n"
     "Sub Main()\nPrint Sum(1, 2, 3.5) & \" \" & Sum() & \" \" & Sum(Sum(1, 2), 4)\nEnd Sub\n",
     "6.5 0 7\n"},
    {"ParamArrayAfterFixed",
     "Sub Count(label As String, ParamArray items())\nPrint label & LBound(items) & \" \" & UBound(items) & \" \" & TypeName(items)\nEnd Sub\n"
     "Sub Main()\nCount \"a\"\nCount \"b\", 1, \"two\", 3\nEnd Sub\n",
     "a0 -1 Variant()\nb0 2 Variant()\n"},
    {"ParamArrayByValue",
     "Sub Bump(ParamArray xs())\nxs(0) = xs(0) + 1\nPrint xs(0)\nEnd Sub\nSub Main()\nDim n As Long\nn = 1\nBump n\nPrint n\nEnd Sub\n",
     "2\n1\n"},
    {"ParamArrayOmittedElement",
     "Sub Show(ParamArray xs())\nPrint IsMissing(xs(1)) & \" \" & xs(2)\nEnd Sub\nSub Main()\nShow 1, , 3\nEnd Sub\n", "True 3\n"},
    // Named arguments, in any order after the positional ones; those left out are Missing.
    {"NamedArguments",
     "Sub Show(a As Long, Optional b As String = \"B\", Optional c)\nPrint a & b & IsMissing(c)\nEnd Sub\n"
     "Sub Main()\nShow b:=\"x\", a:=2\nShow 3, c:=1\nShow c:=Empty, a:=4\nEnd Sub\n",
     "2xTrue\n3BFalse\n4BFalse\n"},
    {"NamedArgumentsEvaluateInOrder",
     "Dim trace As String\nFunction T(s As String) As String\ntrace = trace & s\nT = s\nEnd Function\n"
     "Function F(x As String, y As String) As String\nF = x & y\nEnd Function\n"
     "Sub Main()\nPrint F(y:=T(\"1\"), x:=T(\"2\")) & \" \" & trace\nEnd Sub\n",
     "21 12\n"},
    {"NamedArgumentByReference",
     "Sub Twice(n As Long)\nn = n * 2\nEnd Sub\nSub Main()\nDim k As Long\nk = 5\nTwice n:=k\nCall Twice(n:=k)\nPrint k\nEnd Sub\n", "20\n"},
    // Collection: items in order with optional keys (case-insensitive), 1-based, c(i) for c.Item(i).
    {"CollectionAddItemCount",
     "Dim c As Collection\nSet c = New Collection\nc.Add \"a\"\nc.Add \"b\", \"kb\"\nc.Add \"first\", , 1\nc.Add \"mid\", \"km\", , 2\n"
     "Print c.Count & c(1) & c.Item(\"KB\") & c(\"km\") & c(4) & \" \" & TypeName(c)",
     "4firstbmidb Collection\n"},
    {"CollectionBeforeKey",
     "Dim c As Collection\nSet c = New Collection\nc.Add \"z\", \"z\"\nc.Add \"y\", , \"z\"\nc.Add \"x\", , , 1\nPrint c(1) & c(2) & c(3)", "yxz\n"},
    {"CollectionForEachAndRemove",
     "Dim c As Collection, v\nSet c = New Collection\nc.Add 1: c.Add 2, \"two\": c.Add 3\nc.Remove \"two\"\nFor Each v In c\nPrint v\nc.Add 9\nNext\n"
     "c.Remove 1\nPrint c.Count & \" \" & c(1)",
     "1\n3\n3 3\n"},
    {"CollectionInVariantAndIs",
     "Dim c As Collection, v, w\nSet c = New Collection\nSet v = c\nv.Add \"x\", \"k\"\nSet w = New Collection\nPrint c.Count & (v Is c) & (w Is c) & v(\"k\") & IsObject(v)",
     "1TrueFalsexTrue\n"},
    {"CollectionHoldsArraysByValue",
     "Dim c As Collection, a(1) As Long\nSet c = New Collection\na(0) = 5\nc.Add a\na(0) = 6\nPrint c(1)(0)", "5\n"},
    {"CollectionDuplicateKey", "Dim c As Collection\nSet c = New Collection\nc.Add 1, \"k\"\nc.Add 2, \"K\"", "", 457, 5},
    {"CollectionKeyMustBeText", "Dim c As Collection\nSet c = New Collection\nc.Add 1, 2", "", 13, 4},
    {"CollectionBeforeAndAfter", "Dim c As Collection\nSet c = New Collection\nc.Add 1\nc.Add 2, , 1, 1", "", 5, 5},
    {"CollectionBadBefore", "Dim c As Collection\nSet c = New Collection\nc.Add 1\nc.Add 2, , 3", "", 5, 5},
    {"CollectionIndexOutOfRange", "Dim c As Collection\nSet c = New Collection\nc.Add 1\nPrint c(2)", "", 9, 5},
    {"CollectionUnknownKey", "Dim c As Collection\nSet c = New Collection\nc.Add 1, \"a\"\nc.Remove \"b\"", "", 5, 5},
    {"CollectionUnknownMember", "Dim c As Collection\nSet c = New Collection\nc.Clear", "", 438, 4},
    {"CollectionNotSet", "Dim c As Collection\nc.Add 1", "", 91, 3},
    // Erl: the numeric label reached last in the frame that handles the error.
    {"ErlNamesTheLabel", "On Error GoTo H\n10 Print Erl\n20 Print 1 / 0\n30 Exit Sub\nH:\nPrint Err.Number & \" \" & Erl\nErr.Clear\nPrint Erl",
     "0\n11 20\n0\n"},
    {"ErlWithoutLabels", "On Error Resume Next\nPrint 1 / 0\nPrint Erl", "0\n"},
    {"ErlOfTheCallingLine",
     "Sub Main()\nOn Error GoTo H\n100 Fail\nExit Sub\nH:\nPrint Erl\nEnd Sub\nSub Fail()\n5 Err.Raise 5\nEnd Sub\n", "100\n"},
    // A String constant passed to a ByRef parameter is the callee's own copy.
    {"ByRefConstantArgumentIsACopy", "Sub F(s As String)\ns = \"z\"\nEnd Sub\nSub Main()\nF \"abc\"\nPrint \"abc\"\nEnd Sub\n", "abc\n"},
    {"CallWithParenthesisedComparison", "Dim x\nx = 2\nPrint (x) = 2\nPrint (x + 1) * 2", "True\n6\n"},
};

INSTANTIATE_TEST_SUITE_P(Orlan, Programs, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// Shapes that real-world programs use, each a class of fault once met.
const Case kRealProgramCases[] = {
    // A function's own name followed by "(" is a call, also as a ByRef argument of itself.
    {"SelfCallAsVariantArgument",
     "Function A(m As Variant, n As Variant) As Variant\nIf m = 0 Then\nA = n + 1\nElseIf n = 0 Then\nA = A(m - 1, 1)\nElse\n"
     "A = A(m - 1, A(m, n - 1))\nEnd If\nEnd Function\nSub Main()\nPrint A(2, 3) & \" \" & A(3, 3)\nEnd Sub\n",
     "9 61\n"},
    {"SelfCallAsTypedArgument",
     "Function M(n As Long) As Long\nIf n > 100 Then M = n - 10 Else M = M(M(n + 11))\nEnd Function\n"
     "Sub Main()\nPrint M(1) & \" \" & M(99) & \" \" & M(150)\nEnd Sub\n",
     "91 91 140\n"},
    // Local constants size the arrays declared after them.
    {"LocalConstantsInDimBounds",
     "Sub Main()\nConst n = 9\nConst m As Long = n - 6\nDim a(n) As Long, c(1 To m, 1 To m) As Integer\n"
     "Print UBound(a) & \" \" & UBound(c, 2) & \" \" & LBound(c)\nEnd Sub\n",
     "9 3 1\n"},
    {"LocalConstantShadowsModuleConstantInBounds",
     "Const n = 2\nSub Main()\nConst n = 5\nDim a(1 To n)\nPrint UBound(a)\nEnd Sub\n", "5\n"},
    // A declared String against a declared number compares numbers.
    {"TypedStringAgainstTypedNumber",
     "Dim s As String, l As Long\ns = \"12\": l = 12\nPrint (s = l) & \" \" & (s < 9) & \" \" & (s = Len(\"abcdefghijk\") + 1)",
     "True False True\n"},
    {"TypedStringNotANumberAgainstNumber", "Dim s As String\ns = \"abc\"\nPrint s = 5", "", 13, 4},
    // A declared String against a Variant number compares text.
    {"TypedStringAgainstVariantNumber",
     "Dim s As String, v\ns = \"5\": v = 5\nPrint (s = v) & \" \" & (v = s) & \" \" & (s > v)\ns = \"10\": v = 9\nPrint (s < v) & \" \" & (v > s)\n"
     "If s = v + 1 Then Print \"fused\"",
     "True True False\nTrue True\nfused\n"},
    // A declared number against a Variant string reads the string as a number.
    {"TypedNumberAgainstVariantString",
     "Dim l As Long, v\nl = 10: v = \"9\"\nPrint (l > v) & \" \" & (v < l)\nv = \"abc\"\nPrint l = v", "True True\n", 13, 6},
    // Two Variants: a number sorts before any string; a literal is a declared number.
    {"VariantNumberAgainstVariantString", "Dim v, w\nv = 5: w = \"5\"\nPrint (v = w) & \" \" & (v < w) & \" \" & (w > 10000)",
     "False True False\n"},
    // A recursion that stops on a String against a Variant number.
    {"RecursionStopsOnStringNumberTest",
     "Function CountTo(s As String, n As Variant) As Long\nIf s = n Then\nCountTo = 0\nElse\nCountTo = 1 + CountTo(CStr(Val(s) + 1), n)\n"
     "End If\nEnd Function\nSub Main()\nPrint CountTo(\"1\", 5)\nEnd Sub\n",
     "4\n"},
    // Not may begin any operand.
    {"NotAsRightOperand",
     "Dim b As Boolean, x\nx = 3\nPrint (\"a\" & Not b) & \" \" & (5 + Not 0) & \" \" & (True And Not b) & \" \" & (x = Not b) & \" \" & (1 + Not 1 + 1)",
     "aTrue 4 True False -2\n"},
    {"NotInConstantOperand", "Const k = 5 + Not 0\nSub Main()\nPrint k & \" \" & (2 * Not -3)\nEnd Sub\n", "4 4\n"},
    // An Enum names a Long type, also for fields and parameters, and qualifies its members.
    {"EnumAsDeclaredType",
     "Type Basket\nf As Fruits\nEnd Type\nEnum Fruits\nApple\nPear = 5\nEnd Enum\nFunction Pick(f As Fruits) As Fruits\nPick = f + 1\nEnd Function\n"
     "Sub Main()\nDim f As Fruits, b As Basket\nf = Pear\nb.f = Fruits.Apple\nPrint f & \" \" & TypeName(f) & \" \" & Pick(f) & \" \" & b.f\nEnd Sub\n",
     "5 Long 6 0\n"},
    // Labels have their own name space.
    {"LabelNamedErr",
     "Sub Main()\nOn Error GoTo err\nPrint 1 / 0\nExit Sub\nerr:\nPrint \"handled \" & Err.Number\nEnd Sub\n", "handled 11\n"},
    // Bit masks and shifts on Long: Hex gives 16 bits for Integers, 32 for everything else
    // (a Double mask read back from its hex digits must not overflow).
    {"LongBitMasksAndHex",
     "Dim mask As Long, v As Long, k As Integer\nmask = CLng(2 ^ 8) - 1\nPrint Hex(Not mask) & \" \" & Hex(&HFF000000 Or mask And &HFF)\n"
     "v = CLng(\"&H\" & Right(\"0000000\" & Hex(-(2 ^ 4)), 8)) * 65536\nPrint Hex(-(2 ^ 8)) & \" \" & v\n"
     "v = 1\nFor k = 1 To 30\nv = v * 2\nNext\nPrint Hex(v) & \" \" & Hex(v \\ 2 ^ 4) & \" \" & Hex(-256& \\ 16) & \" \" & Hex(mask * CLng(2 ^ 23))\n"
     "Print Hex(-256& Xor 255) & \" \" & Hex(mask Xor 1.5) & \" \" & Hex(mask And -2.5) & \" \" & Hex(CInt(-256) Or 15)",
     "FFFFFF00 FF0000FF\nFFFFFF00 -1048576\n40000000 4000000 FFFFFFF0 7F800000\nFFFFFFFF FD FE FF0F\n"},
    {"HexAtTheLimitsOfEachType",
     "Print Hex(-1) & \" \" & Hex(-1&) & \" \" & Hex(-1#) & \" \" & Hex(CInt(-32768)) & \" \" & Hex(-32768) & \" \" & Hex(32767)\n"
     "Print Hex(2147483647) & \" \" & Hex(-2147483648#) & \" \" & Hex(CByte(255)) & \" \" & Hex(True) & \" \" & Hex(-0.5) & \" \" & Hex(Empty)\n"
     "Print Oct(-1) & \" \" & Oct(-1&) & \" \" & Hex(CSng(-3)) & \" \" & Hex(\"-1\")\nPrint Hex(2147483647.5)",
     "FFFF FFFFFFFF FFFFFFFF 8000 FFFF8000 7FFF\n7FFFFFFF 80000000 FF FFFF 0 0\n177777 37777777777 FFFFFFFD FFFFFFFF\n", 6, 5},
    {"CLngOfDoublesUpToTheLimit",
     "Print CLng(2 ^ 31 - 1) & \" \" & CLng(2147483646.5) & \" \" & CLng(-2147483648.5) & \" \" & CLng(2.5) & \" \" & CLng(-3.5)\nPrint CLng(2 ^ 31)",
     "2147483647 2147483646 -2147483648 2 -4\n", 6, 3},
};

INSTANTIATE_TEST_SUITE_P(RealPrograms, Programs, ::testing::ValuesIn(kRealProgramCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The typed and fused instructions: each program makes the optimised
// compile use the named instruction, on its fast path and on values that
// take the generic path (references, Variants, overflow, bad subscripts);
// plain code, which has none of them, must print and fail the same.
struct TypedCase {
  Case program;
  Op op;
};

class TypedForms : public ::testing::TestWithParam<TypedCase> {};

TEST_P(TypedForms, MatchPlainCode) {
  const TypedCase& c = GetParam();
  CompileResult r = Compile(Module(c.program.source));
  ASSERT_TRUE(r.ok());
  bool used = false;
  for (const Function& f : r.program.functions)
    for (const Ins& in : f.code) used = used || in.op == c.op;
  EXPECT_TRUE(used) << "no " << OpName(c.op) << " in\n" << Disassemble(r.program);
  for (bool optimize : {true, false}) {
    SCOPED_TRACE(optimize ? "optimised" : "plain");
    RunOutcome o = RunProgram(Module(c.program.source), "Main", CompileOptions{optimize});
    EXPECT_EQ(o.output, c.program.output);
    EXPECT_EQ(o.error, c.program.error) << o.errorText;
    if (c.program.error > 0) {
      EXPECT_EQ(o.line, c.program.line) << o.errorText;
    }
  }
}

const TypedCase kTypedCases[] = {
    {{"AddLong", "Dim a As Long, b As Long\na = 40000: b = 2\nPrint a + b", "40002\n"}, Op::AddL},
    {{"AddLongOverflows", "Dim a As Long, b As Long\na = 2147483647: b = 1\nPrint a + b", "", 6, 4}, Op::AddL},
    {{"SubLongOverflows", "Dim a As Long, b As Long\na = -2147483647: b = 2\nPrint a - b", "", 6, 4}, Op::SubL},
    {{"MulLongOverflows", "Dim a As Long, b As Long\na = 65536: b = 32768\nPrint a * b", "", 6, 4}, Op::MulL},
    {{"AddLongConstantOverflows", "Dim a As Long\na = 2147483600\nPrint a + 47\nPrint a + 48", "2147483647\n", 6, 5}, Op::AddLK},
    {{"SubLongConstant", "Dim a As Long\na = 5\nPrint a - 70000", "-69995\n"}, Op::SubLK},
    {{"MulLongConstantOverflows", "Dim a As Long\na = 1073741824\nPrint a * 2", "", 6, 4}, Op::MulLK},
    {{"ConstantFirstCommutes", "Dim a As Long\na = 7\nPrint 100000 * a & \" \" & 3 + a", "700000 10\n"}, Op::MulLK},
    // A constant first in a subtraction leaves it to the generic instruction.
    {{"ConstantFirstSubtracts", "Dim a As Long\na = 7\nPrint 100000 - a", "99993\n"}, Op::Sub},
    {{"AddIntegerOverflows", "Dim a As Integer, b As Integer\na = 32000: b = 767\nPrint a + b\nb = 768\nPrint a + b", "32767\n", 6, 6},
     Op::AddI},
    {{"SubIntegerOverflows", "Dim a As Integer, b As Integer\na = -32000: b = 769\nPrint a - b", "", 6, 4}, Op::SubI},
    {{"MulIntegerOverflows", "Dim a As Integer, b As Integer\na = 256: b = 128\nPrint a * b", "", 6, 4}, Op::MulI},
    {{"IntegerConstants", "Dim a As Integer\na = 300\nPrint a + 1 & \" \" & a - 1 & \" \" & a * 100\nPrint a * 110", "301 299 30000\n", 6, 5},
     Op::MulIK},
    {{"AddIntegerConstant", "Dim a As Integer\na = 32766\nPrint a + 1", "32767\n"}, Op::AddIK},
    {{"SubIntegerConstant", "Dim a As Integer\na = -32767\nPrint a - 1\nPrint a - 2", "-32768\n", 6, 5}, Op::SubIK},
    {{"AddDouble", "Dim a As Double, b As Double\na = 0.5: b = 0.25\nPrint a + b & \" \" & a - b & \" \" & a * b", "0.75 0.25 0.125\n"},
     Op::AddD},
    {{"SubDouble", "Dim a As Double, b As Double\na = 0.5: b = 0.25\nPrint a - b", "0.25\n"}, Op::SubD},
    {{"MulDoubleOverflows", "Dim a As Double, b As Double\na = 1E+200: b = 1E+200\nPrint a * b", "", 6, 4}, Op::MulD},
    {{"DoubleConstants", "Dim a As Double\na = 1.5\nPrint a + 1 & \" \" & a - 1 & \" \" & a * 2", "2.5 0.5 3\n"}, Op::AddDK},
    {{"SubDoubleConstant", "Dim a As Double\na = 1.5\nPrint a - 1", "0.5\n"}, Op::SubDK},
    {{"MulDoubleConstantOverflows", "Dim a As Double\na = 1E+300\nPrint a * 1E+300", "", 6, 4}, Op::MulDK},
    {{"AndOrLong", "Dim a As Long, b As Long\na = &HFF00&: b = &H0FF0&\nPrint (a And b) & \" \" & (a Or b)", "3840 65520\n"}, Op::AndL},
    {{"OrLong", "Dim a As Long, b As Long\na = 1: b = 65536\nPrint a Or b", "65537\n"}, Op::OrL},
    {{"AndOrLongConstants", "Dim a As Long\na = 70000\nPrint (a And &HFFFF&) & \" \" & (a Or 65536)", "4464 70000\n"}, Op::AndLK},
    {{"OrLongConstant", "Dim a As Long\na = 1\nPrint a Or &H10000", "65537\n"}, Op::OrLK},
    // A ByRef parameter holds a reference: the generic path follows it.
    {{"ByRefLongOperand",
      "Sub Main()\nDim x As Long\nx = 2147483646\nTwice x\nEnd Sub\nSub Twice(n As Long)\nPrint n + 1\nPrint n + n\nEnd Sub\n",
      "2147483647\n", 6, 8},
     Op::AddL},
    {{"ByRefDoubleOperand", "Sub Main()\nDim x As Double\nx = 2\nHalf x\nEnd Sub\nSub Half(d As Double)\nPrint d * 0.5 & \" \" & d - 0.5\nEnd Sub\n",
      "1 1.5\n"},
     Op::MulDK},
    // Each And/Or form that leaves its fast path must still do its own operation.
    {{"ByRefLongAnd", "Sub Main()\nDim x As Long, y As Long\nx = 12: y = 10\nBits x, y\nEnd Sub\nSub Bits(m As Long, n As Long)\nPrint m And n\nEnd Sub\n",
      "8\n"},
     Op::AndL},
    {{"ByRefLongOr", "Sub Main()\nDim x As Long, y As Long\nx = 12: y = 10\nBits x, y\nEnd Sub\nSub Bits(m As Long, n As Long)\nPrint m Or n\nEnd Sub\n",
      "14\n"},
     Op::OrL},
    {{"ByRefLongAndConstant", "Sub Main()\nDim x As Long\nx = 12\nBits x\nEnd Sub\nSub Bits(m As Long)\nPrint m And 6\nEnd Sub\n", "4\n"},
     Op::AndLK},
    {{"ByRefLongOrConstant", "Sub Main()\nDim x As Long\nx = 12\nBits x\nEnd Sub\nSub Bits(m As Long)\nPrint m Or 5\nEnd Sub\n", "13\n"},
     Op::OrLK},
    // An error in the middle of a statement leaves a string in a temporary
    // that the next pass writes with AndLK: the generic path takes over.
    {{"AndLongAfterResumeNext",
      "Dim k As Long, i As Integer, v\nv = \"ab\"\nOn Error Resume Next\nFor i = 1 To 2\nPrint CLng((Not k) And 38); Len(v) / 0\nNext",
      "3838\n"},
     Op::AndLK},
    {{"CompareJumps",
      "Dim a As Long, b As Double, s As String, n As Integer\na = 3: b = 2.5: s = \"b\"\n"
      "If a = 3 Then n = n + 1\nIf a <> 3 Then n = n + 10\nIf a < 4 Then n = n + 100\nIf b <= 2.5 Then n = n + 1000\n"
      "If b > 2.5 Then n = n + 10000\nIf s >= \"a\" Then n = n - 2\nPrint n",
      "1099\n"},
     Op::JmpCmpGe},
    {{"CompareJumpEq", "Dim a As Long\na = 3\nIf a = 3 Then Print \"eq\"", "eq\n"}, Op::JmpCmpEq},
    {{"CompareJumpNe", "Dim a As Long\na = 3\nIf a <> 4 Then Print \"ne\"", "ne\n"}, Op::JmpCmpNe},
    {{"CompareJumpLt", "Dim a As Double\na = 3\nIf a < 3.5 Then Print \"lt\"", "lt\n"}, Op::JmpCmpLt},
    {{"CompareJumpLe", "Dim a As Long\na = 3\nIf a <= 3 Then Print \"le\"", "le\n"}, Op::JmpCmpLe},
    {{"CompareJumpGt", "Dim a As Long, b As Integer\na = 70000: b = 3\nIf a > b Then Print \"gt\"", "gt\n"}, Op::JmpCmpGt},
    {{"CompareJumpText", "Option Compare Text\nSub Main()\nDim s As String\ns = \"ABC\"\nIf s = \"abc\" Then Print \"same\"\nEnd Sub\n", "same\n"},
     Op::JmpCmpEq},
    {{"CompareJumpNull", "Dim v\nv = Null\nIf v = 1 Then Print \"then\" Else Print \"else\"", "else\n"}, Op::JmpCmpEq},
    // For with the step left out: the counter ends one past the limit.
    {{"ForIncLong", "Dim i As Long, n As Long\nFor i = 1 To 5\nn = n + i\nNext\nPrint n & \" \" & i", "15 6\n"}, Op::ForInc},
    {{"ForIncIntegerOverflows", "Dim i As Integer, n As Long\nFor i = 32765 To 32767\nn = n + 1\nNext\nPrint n", "", 6, 5}, Op::ForInc},
    {{"ForIncLongOverflows", "Dim i As Long, n As Long\nFor i = 2147483646 To 2147483647\nn = n + 1\nNext", "", 6, 5}, Op::ForInc},
    {{"ForIncDoubleAndVariant", "Dim d As Double, v\nFor d = 0.5 To 2\nPrint d\nNext\nFor v = 32766 To 32767\nNext\nPrint v & TypeName(v)",
      "0.5\n1.5\n32768Long\n"},
     Op::ForInc},
    {{"ForIncEmptyRange", "Dim i As Long\nFor i = 5 To 1\nPrint i\nNext\nPrint i", "5\n"}, Op::ForInc},
    // a(j + k): the fused access adds k as the Long addition would.
    {{"IndexOffset", "Dim a(5) As Long, j As Long\nFor j = 0 To 5\na(j) = j * 10\nNext\nj = 2\nPrint a(j + 1) & \" \" & a(j - 2)", "30 0\n"},
     Op::IndexOff},
    {{"IndexOffsetOutOfRange", "Dim a(5) As Long, j As Long\nj = 5\nPrint a(j + 1)", "", 9, 4}, Op::IndexOff},
    {{"IndexOffsetOverflows", "Dim a(5) As Long, j As Long\nj = 2147483647\nPrint a(j + 1)", "", 6, 4}, Op::IndexOff},
    {{"IndexOffsetStrings", "Dim a(2) As String, j As Long\na(1) = \"x\"\nPrint a(j + 1) & a(j + 2) & \"|\"", "x|\n"}, Op::IndexOff},
    {{"IndexOffsetVariantArray", "Dim a, j As Long\na = Array(1, \"two\", 3.5)\nPrint a(j + 1) & a(j + 2)", "two3.5\n"}, Op::IndexOff},
    {{"IndexOffsetNotArray", "Dim a As Long, j As Long\nSub Main()\nDim v\nv = 1\nPrint v(j + 1)\nEnd Sub\n", "", 13, 5}, Op::IndexOff},
    {{"SetIndexOffset", "Dim a(3) As Long, j As Long, t As Long\nj = 1: t = 9\na(j + 1) = t\na(j - 1) = j\nPrint a(0) & a(1) & a(2) & a(3)", "1090\n"},
     Op::SetIndexOff},
    {{"SetIndexOffsetConverts", "Dim a(3) As Integer, j As Long, d As Double\nd = 2.5\na(j + 1) = d\nd = 40000\na(j + 2) = d", "", 6, 6},
     Op::SetIndexOff},
    {{"SetIndexOffsetOutOfRange", "Dim a(3) As Long, j As Long, t As Long\nj = 3\na(j + 1) = t", "", 9, 4}, Op::SetIndexOff},
    {{"IndexOffsetByRef",
      "Sub Main()\nDim a(3) As Long, j As Long\na(2) = 7\nj = 1\nShow a, j\nEnd Sub\nSub Show(b() As Long, k As Long)\nPrint b(k + 1)\nb(k + 2) = 5\nPrint b(3)\nEnd Sub\n",
      "7\n5\n"},
     Op::IndexOff},
    {{"JumpToReturnReturns", "Function F(n As Long) As Long\nIf n < 2 Then F = n Else F = F(n - 1) + F(n - 2)\nEnd Function\nSub Main()\nPrint F(15)\nEnd Sub\n",
      "610\n"},
     Op::SubLK},
};

INSTANTIATE_TEST_SUITE_P(Orlan, TypedForms, ::testing::ValuesIn(kTypedCases),
                         [](const ::testing::TestParamInfo<TypedCase>& info) { return std::string(info.param.program.name); });

}  // namespace
}  // namespace kv::orlan::testing
