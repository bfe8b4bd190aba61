// Differential oracle for the compiler. Random well-typed programs compiled
// with and without optimisation must print the same and stop with the same
// error; random expressions must also print what a small evaluator of VBA's
// rules (overflow, rounding, coercion) computes. CI runs a fixed seed and a
// bounded count; ORLAN_ORACLE_SEED and ORLAN_ORACLE_COUNT run longer by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "tests/orlan/script_runner.h"

namespace kv::orlan::testing {
namespace {

uint32_t EnvOr(const char* name, uint32_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<uint32_t>(std::strtoul(v, nullptr, 10)) : fallback;
}

class Rng {
 public:
  explicit Rng(uint32_t seed) : gen_(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(gen_); }
  bool Chance(int percent) { return Int(1, 100) <= percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& v) { return v[static_cast<size_t>(Int(0, static_cast<int>(v.size()) - 1))]; }

 private:
  std::mt19937 gen_;
};

std::string Describe(const RunOutcome& r) {
  std::string s = r.output;
  for (const auto& e : r.compileErrors) s += "compile error " + std::to_string(e.line) + ": " + e.message + "\n";
  if (r.error) s += "error " + std::to_string(r.error) + " line " + std::to_string(r.line) + " " + r.errorText + "\n";
  return s;
}

// ---- the reference evaluator ----

enum class K { Int, Lng, Dbl, Str, Bool };

struct RV {
  K k = K::Int;
  double d = 0;  // integers are held exactly
  std::string s;
  bool variant = false;  // of static type Variant (a declared type otherwise)
};

struct VbaError {
  int number;
};

bool Fits(K k, double v) {
  if (k == K::Int) return v >= -32768 && v <= 32767;
  if (k == K::Lng) return v >= -2147483648.0 && v <= 2147483647.0;
  return std::isfinite(v);
}

std::string Text(const RV& v) {
  switch (v.k) {
    case K::Str: return v.s;
    case K::Bool: return v.d != 0 ? "True" : "False";
    case K::Dbl: {
      if (v.d == 0) return "0";
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15G", v.d);
      std::string s = buf;  // %G writes at least two exponent digits, as VBA does
      return s;
    }
    default: return std::to_string(static_cast<long long>(v.d));
  }
}

// Typed operands overflow with error 6; a Variant result widens Integer to
// Long and Long to Double instead.
RV Fit(K k, double r, bool variant) {
  while (!Fits(k, r)) {
    if (!variant || k == K::Dbl) throw VbaError{6};
    k = k == K::Int ? K::Lng : K::Dbl;
  }
  return RV{k, r, {}, variant};
}

RV Arith(char op, const RV& a, const RV& b) {
  bool variant = a.variant || b.variant;
  if (op == '&') return RV{K::Str, 0, Text(a) + Text(b), variant};
  if (op == '/') {
    if (b.d == 0) throw VbaError{a.d == 0 ? 6 : 11};
    double r = a.d / b.d;
    if (!std::isfinite(r)) throw VbaError{6};
    return RV{K::Dbl, r, {}, variant};
  }
  if (op == '\\' || op == '%') {
    // Both operands round half to even to whole numbers first.
    K k = a.k == K::Int && b.k == K::Int ? K::Int : K::Lng;
    double x = std::nearbyint(a.d), y = std::nearbyint(b.d);
    if (!Fits(K::Lng, x) || !Fits(K::Lng, y)) throw VbaError{6};
    if (y == 0) throw VbaError{11};
    auto xi = static_cast<int64_t>(x), yi = static_cast<int64_t>(y);
    double r = static_cast<double>(op == '\\' ? xi / yi : xi % yi);
    if (!Fits(k, r) && (!variant || k == K::Lng)) throw VbaError{6};
    return RV{Fits(k, r) ? k : K::Lng, r, {}, variant};
  }
  K k = std::max(a.k, b.k);
  double r = op == '+' ? a.d + b.d : op == '-' ? a.d - b.d : a.d * b.d;
  return Fit(k, r, variant);
}

// The operand of Not, And, Or, Xor and Hex: whole numbers stay, a Double
// rounds half to even to a Long.
int32_t Whole(const RV& v) {
  double x = std::nearbyint(v.d);
  if (!Fits(K::Lng, x)) throw VbaError{6};
  return static_cast<int32_t>(x);
}

// Integers give Integers; anything with a Long or Double gives a Long.
RV Logical(char op, const RV& a, const RV& b) {
  int32_t x = Whole(a), y = Whole(b);
  int32_t r = op == 'A' ? (x & y) : op == 'O' ? (x | y) : (x ^ y);
  return RV{a.k == K::Int && b.k == K::Int ? K::Int : K::Lng, static_cast<double>(r), {}, a.variant || b.variant};
}

RV NotOf(const RV& a) {
  int32_t x = Whole(a);
  return RV{a.k == K::Int ? K::Int : K::Lng, static_cast<double>(~x), {}, a.variant};
}

// Hex: an Integer gives its 16-bit two's complement, anything else is a Long
// and gives 32 bits.
std::string HexOf(const RV& v) {
  char buf[16];
  uint32_t x = v.k == K::Int ? static_cast<uint16_t>(static_cast<int32_t>(v.d)) : static_cast<uint32_t>(Whole(v));
  std::snprintf(buf, sizeof buf, "%X", x);
  return buf;
}

// Text read as a number: blanks around an optional sign, digits and a point.
bool NumberOfText(const std::string& s, double& out) {
  size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
  if (b == std::string::npos) return false;
  std::string t = s.substr(b, e - b + 1);
  char* end = nullptr;
  out = std::strtod(t.c_str(), &end);
  return end == t.c_str() + t.size() && t.find_first_not_of("+-.0123456789") == std::string::npos;
}

// VBA's comparison table: two strings compare as text; a declared String
// against a Variant number compares the number's text; a declared number (or
// two declared operands) reads the string as a number, error 13 when it is
// not one; a Variant number sorts before a Variant string.
RV Compare(const std::string& op, const RV& a, const RV& b) {
  auto three = [](auto x, auto y) { return x < y ? -1 : x > y ? 1 : 0; };
  int c;
  if (a.k == K::Str && b.k == K::Str) {
    c = three(a.s, b.s);
  } else if (a.k == K::Str || b.k == K::Str) {
    const RV& str = a.k == K::Str ? a : b;
    const RV& num = a.k == K::Str ? b : a;
    if (!str.variant && num.variant) {
      c = three(Text(a), Text(b));
    } else if (str.variant && num.variant) {
      c = a.k == K::Str ? 1 : -1;
    } else {
      double x;
      if (!NumberOfText(str.s, x)) throw VbaError{13};
      c = a.k == K::Str ? three(x, b.d) : three(a.d, x);
    }
  } else {
    c = three(a.d, b.d);
  }
  bool r = op == "=" ? c == 0 : op == "<>" ? c != 0 : op == "<" ? c < 0 : op == "<=" ? c <= 0 : op == ">" ? c > 0 : c >= 0;
  return RV{K::Bool, r ? -1.0 : 0.0, {}, false};
}

RV Convert(const RV& v, K to) {
  if (to == K::Dbl) return RV{K::Dbl, v.d, {}, false};
  double r = std::nearbyint(v.d);
  if (!Fits(to, r)) throw VbaError{6};
  return RV{to, r, {}, false};
}

// Functions whose calls pass a call of themselves as an argument: by Variant
// (an Ackermann-like recursion) and by a ByRef Long (McCarthy's 91 with a
// chosen top).
int64_t Ackermann(int64_t m, int64_t n, int c1, int c2) {
  if (m == 0) return n + c1;
  if (n == 0) return Ackermann(m - 1, c2, c1, c2);
  return Ackermann(m - 1, Ackermann(m, n - 1, c1, c2), c1, c2);
}
int64_t McCarthy(int64_t n, int top) { return n > top ? n - 10 : McCarthy(McCarthy(n + 11, top), top); }

// Builds a module whose Main prints random expressions over typed and
// Variant variables, local constants and literals, comparisons of strings
// with numbers, Hex of them and calls that pass a call of themselves, and
// the output the evaluator expects.
class ExpressionProgram {
 public:
  explicit ExpressionProgram(Rng& rng) : rng_(rng) {
    const char* names[] = {"i1", "i2", "l1", "l2", "d1", "d2", "v1", "v2", "v3"};
    const K kinds[] = {K::Int, K::Int, K::Lng, K::Lng, K::Dbl, K::Dbl, K::Int, K::Lng, K::Dbl};
    for (size_t n = 0; n < 9; ++n) {
      bool variant = names[n][0] == 'v';
      RV v{kinds[n], 0, {}, variant};
      switch (v.k) {
        case K::Int: v.d = rng_.Int(-300, 300); break;
        case K::Lng: v.d = rng_.Int(-100000, 100000); break;
        default: v.d = rng_.Int(-4000, 4000) / 8.0; break;
      }
      vars_.push_back({names[n], v});
      decl_ += std::string("Dim ") + names[n] + (variant ? "" : v.k == K::Int ? " As Integer" : v.k == K::Lng ? " As Long" : " As Double") + "\n";
      // A Variant's subtype comes from a conversion function.
      std::string lit = Literal(v);
      init_ += std::string(names[n]) + " = " + (!variant ? lit : v.k == K::Int ? "CInt(" + lit + ")" : v.k == K::Lng ? "CLng(" + lit + ")" : "CDbl(" + lit + ")") + "\n";
    }
    // Local constants: operands of expressions and bounds of the arrays after them.
    int c1 = rng_.Int(0, 300), c2 = rng_.Int(32768, 200000);
    RV k3{K::Dbl, rng_.Int(0, 400) / 4.0 + 0.5, {}, false};
    consts_ = {{"kc1", RV{K::Int, static_cast<double>(c1), {}, false}}, {"kc2", RV{K::Lng, static_cast<double>(c2), {}, false}},
               {"kc3", k3}};
    bound_ = c1 / 50 + 1;
    decl_ += "Const kc1 = " + std::to_string(c1) + "\nConst kc2 As Long = " + std::to_string(c2) + ", kc3 = " + Literal(k3) +
             "\nConst kc4 = kc1 \\ 50 + 1\nDim ca(kc4) As Long, cb(1 To kc4, kc4 To kc4 + 2) As Integer\n";
    // Strings: declared ones and a Variant, holding numbers or not.
    for (const char* s : {"s1", "s2", "w1"}) {
      RV v{K::Str, 0, rng_.Pick(Texts()), s[0] == 'w'};
      strings_.push_back({s, v});
      decl_ += std::string("Dim ") + s + (v.variant ? "" : " As String") + "\n";
      init_ += std::string(s) + " = \"" + v.s + "\"\n";
    }
    // Self-calls.
    ack1_ = rng_.Int(1, 2);
    ack2_ = rng_.Int(1, 2);
    top_ = rng_.Int(50, 150);
    funcs_ = "Function Ak(m As Variant, n As Variant) As Variant\nIf m = 0 Then\nAk = n + " + std::to_string(ack1_) +
             "\nElseIf n = 0 Then\nAk = Ak(m - 1, " + std::to_string(ack2_) + ")\nElse\nAk = Ak(m - 1, Ak(m, n - 1))\nEnd If\nEnd Function\n" +
             "Function Mc(n As Long) As Long\nIf n > " + std::to_string(top_) + " Then Mc = n - 10 Else Mc = Mc(Mc(n + 11))\nEnd Function\n";
  }

  void AddStatement() {
    int form = rng_.Int(0, 9);
    std::string line;
    std::function<std::string()> expect;
    if (form == 0) {
      Operand a = Expr(rng_.Int(1, 4)), b = Expr(rng_.Int(1, 3));
      std::string op = Relation();
      line = "Print " + a.text + " " + op + " " + b.text;
      expect = [=, this] {
        RV left = Eval(a);  // VBA evaluates left to right; so must we
        return Text(Compare(op, left, Eval(b)));
      };
    } else if (form == 1) {
      Operand a = Expr(rng_.Int(1, 4));
      line = "Print " + a.text + " & \"|\"";
      expect = [=, this] { return Text(Eval(a)) + "|"; };
    } else if (form == 2 || form == 3) {
      // Assignment to a typed variable converts: Long rounds half to even.
      Operand a = Expr(rng_.Int(1, 4));
      K to = form == 2 ? K::Lng : K::Int;
      std::string target = to == K::Lng ? "tl" : "ti";
      line = target + " = " + a.text + "\nIf Err.Number = 0 Then Print " + target;
      expect = [=, this] { return Text(Convert(Eval(a), to)); };
    } else if (form == 6) {
      // A string against a number, either side first.
      // A string variable, or a literal (a declared String).
      size_t pick = static_cast<size_t>(rng_.Int(0, static_cast<int>(strings_.size())));
      std::string name;
      RV str;
      if (pick < strings_.size()) {
        std::tie(name, str) = strings_[pick];
      } else {
        str = RV{K::Str, 0, rng_.Pick(Texts()), false};
        name = "\"" + str.s + "\"";
      }
      Operand a = Expr(rng_.Int(1, 3));
      std::string op = Relation();
      bool stringFirst = rng_.Chance(50);
      line = "Print " + (stringFirst ? name + " " + op + " " + a.text : a.text + " " + op + " " + name);
      RV s = str;
      expect = [=, this] {
        RV n = Eval(a);
        return Text(stringFirst ? Compare(op, s, n) : Compare(op, n, s));
      };
    } else if (form == 7) {
      Operand a = Expr(rng_.Int(1, 4));
      line = "Print Hex(" + a.text + ")";
      expect = [=, this] { return HexOf(Eval(a)); };
    } else if (form == 8) {
      if (rng_.Chance(50)) {
        int m = rng_.Int(0, 2), n = rng_.Int(0, 3);
        line = "Print Ak(" + std::to_string(m) + ", " + std::to_string(n) + ")";
        expect = [=, this] { return std::to_string(Ackermann(m, n, ack1_, ack2_)); };
      } else {
        int n = rng_.Int(0, 200);
        line = "Print Mc(" + std::to_string(n) + ")";
        expect = [=, this] { return std::to_string(McCarthy(n, top_)); };
      }
    } else {
      Operand a = Expr(rng_.Int(1, 4));
      line = "Print " + a.text;
      expect = [=, this] { return Text(Eval(a)); };
    }
    std::string expected;
    try {
      expected = expect();
    } catch (const VbaError& err) {
      expected = "E" + std::to_string(err.number);
    }
    body_ += line + "\n" + Check();
    expect_ += expected + "\n";
  }

  std::string Source() const {
    return funcs_ + "Sub Main()\n" + decl_ + "Dim tl As Long, ti As Integer\nOn Error Resume Next\n" + init_ + body_ +
           "Print UBound(ca) & \" \" & UBound(cb, 1) & \" \" & LBound(cb, 2) & \" \" & UBound(cb, 2)\nEnd Sub\n";
  }
  std::string Expected() const {
    return expect_ + std::to_string(bound_) + " " + std::to_string(bound_) + " " + std::to_string(bound_) + " " + std::to_string(bound_ + 2) +
           "\n";
  }

 private:
  struct Operand {
    std::string text;
    size_t tree;  // index into nodes_
  };

  static std::string Check() { return "If Err.Number <> 0 Then\nPrint \"E\" & Err.Number\nErr.Clear\nEnd If\n"; }

  static const std::vector<std::string>& Texts() {
    static const std::vector<std::string> kTexts = {"12", "-3.5", " 7 ", "abc", "0", "100000", "2.25", ""};
    return kTexts;
  }

  std::string Relation() { return rng_.Pick(std::vector<std::string>{"=", "<>", "<", "<=", ">", ">="}); }

  static std::string Literal(const RV& v) {
    if (v.k == K::Dbl) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.3f", std::fabs(v.d));
      return std::string(v.d < 0 ? "-" : "") + buf;
    }
    return std::to_string(static_cast<long long>(v.d));
  }

  // An expression tree kept as text beside a closure-free description: the
  // value is computed when asked, so errors surface where VBA raises them.
  struct Node {
    char op = 0;  // 0 leaf, 'n' negation, 'N' Not, 'A' And, 'O' Or, 'X' Xor, else arithmetic
    RV leaf;
    std::string text;  // a leaf's source
    std::vector<Node> kids;
  };

  Operand Expr(int depth) {
    Node n = Tree(depth);
    Operand o{Render(n, false), nodes_.size()};
    nodes_.push_back(std::move(n));
    return o;
  }

  RV Eval(const Operand& o) { return EvalNode(nodes_[o.tree]); }

  RV EvalNode(const Node& n) {
    if (n.op == 0) return n.leaf;
    RV a = EvalNode(n.kids[0]);
    if (n.op == 'n') {
      if (a.k == K::Dbl) return RV{K::Dbl, -a.d, {}, a.variant};
      return Fit(a.k, -a.d, a.variant);
    }
    if (n.op == 'N') return NotOf(a);
    RV b = EvalNode(n.kids[1]);
    if (n.op == 'A' || n.op == 'O' || n.op == 'X') return Logical(n.op, a, b);
    return Arith(n.op, a, b);
  }

  Node Leaf() {
    Node n;
    int kind = rng_.Int(0, 9);
    if (kind < 5) {
      const auto& [name, v] = vars_[static_cast<size_t>(rng_.Int(0, static_cast<int>(vars_.size()) - 1))];
      n.leaf = v;
      n.text = name;
    } else if (kind == 5) {
      const auto& [name, v] = consts_[static_cast<size_t>(rng_.Int(0, static_cast<int>(consts_.size()) - 1))];
      n.leaf = v;
      n.text = name;
    } else if (kind == 6) {
      // A power of two is a Double: masks and shifts up to 2^31.
      int k = rng_.Int(0, 31);
      n.leaf = RV{K::Dbl, std::ldexp(1.0, k), {}, false};
      n.text = "(2 ^ " + std::to_string(k) + ")";
    } else {
      // Integer literals up to 32767, Long beyond, Double with a point.
      kind -= 7;
      n.leaf = kind == 0 ? RV{K::Int, static_cast<double>(rng_.Int(0, 300)), {}, false}
               : kind == 1 ? RV{K::Lng, static_cast<double>(rng_.Int(32768, 200000)), {}, false}
                           : RV{K::Dbl, rng_.Int(0, 4000) / 8.0 + 0.5, {}, false};
      n.text = Literal(n.leaf);
      if (n.leaf.k == K::Dbl && n.text.find('.') == std::string::npos) n.text += ".0";
    }
    return n;
  }

  Node Tree(int depth) {
    if (depth <= 0 || rng_.Chance(25)) return Leaf();
    Node n;
    if (rng_.Chance(10)) {
      n.op = rng_.Chance(50) ? 'n' : 'N';
      n.kids.push_back(Tree(depth - 1));
      return n;
    }
    n.op = rng_.Pick(std::vector<char>{'+', '-', '*', '/', '\\', '%', '+', '-', '*', 'A', 'O', 'X'});
    n.kids.push_back(Tree(depth - 1));
    // Not may begin a right operand of any operator.
    if (rng_.Chance(15)) {
      Node no;
      no.op = 'N';
      no.kids.push_back(Tree(depth - 1));
      n.kids.push_back(std::move(no));
    } else {
      n.kids.push_back(Tree(depth - 1));
    }
    return n;
  }

  // A Not that is a right operand is written bare ("a And Not b"); elsewhere
  // it is parenthesised, since it would take the operator after it too.
  static std::string Render(const Node& n, bool rightOperand) {
    switch (n.op) {
      case 0: return n.text;
      case 'n': return "-(" + Render(n.kids[0], false) + ")";
      case 'N': return rightOperand ? "Not " + Render(n.kids[0], false) : "(Not " + Render(n.kids[0], false) + ")";
      default: break;
    }
    std::string op = n.op == '%' ? " Mod " : n.op == 'A' ? " And " : n.op == 'O' ? " Or " : n.op == 'X' ? " Xor " : std::string(" ") + n.op + " ";
    return "(" + Render(n.kids[0], false) + op + Render(n.kids[1], true) + ")";
  }

  Rng& rng_;
  std::vector<std::pair<std::string, RV>> vars_, consts_, strings_;
  std::vector<Node> nodes_;
  int bound_ = 0, ack1_ = 1, ack2_ = 1, top_ = 100;
  std::string funcs_, decl_, init_, body_, expect_;
};

TEST(Oracle, ExpressionsFollowVbaRules) {
  uint32_t seed = EnvOr("ORLAN_ORACLE_SEED", 20261209);
  uint32_t count = EnvOr("ORLAN_ORACLE_COUNT", 150);
  for (uint32_t n = 0; n < count; ++n) {
    Rng rng(seed + n);
    ExpressionProgram p(rng);
    for (int s = 0; s < 12; ++s) p.AddStatement();
    std::string src = p.Source();
    if (std::getenv("ORLAN_ORACLE_DUMP")) std::fprintf(stderr, "seed %u\n%s-- expected\n%s", seed + n, src.c_str(), p.Expected().c_str());
    for (bool optimize : {true, false}) {
      RunOutcome r = RunProgram(src, "Main", CompileOptions{optimize});
      ASSERT_EQ(Describe(r), p.Expected()) << "seed " << seed + n << (optimize ? " optimised" : " plain") << "\n" << src;
    }
  }
}

// ---- random whole programs, optimised against plain ----

// Statements over typed scalars, fixed and dynamic arrays of one and two
// dimensions indexed by expressions (some sized by a local constant), records
// under With, ByRef and ByVal calls, recursion with Long and Variant
// parameters (also passing a call of itself), strings against numbers, bit
// operations with Not operands and Hex, loops, Select and an error handler
// that reports and resumes.
class ProgramGenerator {
 public:
  explicit ProgramGenerator(Rng& rng) : rng_(rng) {}

  std::string Module() {
    std::string m;
    if (rng_.Chance(30)) m += "Option Compare Text\n";
    m += "Type Rec\n  n As Long\n  s As String\n  d As Double\nEnd Type\n";
    m += "Dim gl As Long\nDim ga(1 To 4) As Long\n";
    m += "Function RecL(ByVal n As Long) As Long\nIf n <= 0 Then\nRecL = " + Num(1, {"n"}) + "\nElse\nRecL = RecL(n - 1) + (" +
         Num(1, {"n"}) + ") Mod 1000\nEnd If\nEnd Function\n";
    m += "Function RecV(n As Variant, acc As Variant) As Variant\nIf n <= 0 Then\nRecV = acc\nElse\nRecV = RecV(n - 1, acc + n * 2)\n"
         "End If\nEnd Function\n";
    // A call of itself as an argument.
    m += "Function RecA(m As Variant, n As Variant) As Variant\nIf m <= 0 Then\nRecA = n + 1\nElseIf n <= 0 Then\nRecA = RecA(m - 1, 1)\n"
         "Else\nRecA = RecA(m - 1, RecA(m, n - 1))\nEnd If\nEnd Function\n";
    m += "Sub Bump(x As Long, ByVal y As Long)\nx = x + y\ny = y * 2\nEnd Sub\n";
    m += "Sub Scale(d As Double, ByVal k As Integer)\nd = d * k + 0.5\nk = 0\nEnd Sub\n";
    m += "Sub Main()\n"
         "Dim i As Integer, j As Integer, c1 As Integer, c2 As Integer, c3 As Integer, k1 As Long, k2 As Long, k3 As Long\n"
         "Dim g1 As Long, g2 As Long, g3 As Long\n"
         "Dim ia As Integer, ib As Integer, la As Long, lb As Long, da As Double, db As Double\n"
         "Dim sa As String, sb As String, va, vb, handled As Integer\n"
         "Dim f1(0 To 6) As Long, f2(1 To 3, 0 To 4) As Long, fs(2) As String\n"
         "Dim d1() As Double, d2() As Long, r As Rec, dt As Date\n"
         "Const kn = " + std::to_string(rng_.Int(2, 5)) + "\nDim f3(kn) As Long, f4(1 To kn, 0 To kn \\ 2) As Double\n"
         "On Error GoTo Handler\n";
    m += "ReDim d1(" + std::to_string(rng_.Int(0, 1)) + " To 5)\nReDim d2(1 To 3, 1 To 3)\n";
    m += "ia = " + std::to_string(rng_.Int(-50, 50)) + ": la = " + std::to_string(rng_.Int(-5000, 5000)) + ": da = " +
         std::to_string(rng_.Int(-400, 400)) + ".25\n";
    m += "sa = \"" + rng_.Pick(std::vector<std::string>{"Abc", "abc", "x", ""}) + "\": va = " +
         rng_.Pick(std::vector<std::string>{"3", "2.5", "\"7\"", "70000"}) + "\n";
    for (int n = rng_.Int(6, 14); n > 0; --n) m += Statement(3);
    m += "Dump:\nPrint ia & \" \" & ib & \" \" & la & \" \" & lb & \" \" & da & \" \" & db & \" \" & sa & \"|\" & sb & \"|\" & va & \" \" & vb\n"
         "For i = 0 To 6: Print f1(i);: Next\nPrint\n"
         "For i = 1 To 3: For j = 0 To 4: Print f2(i, j);: Next: Next\nPrint\n"
         "For i = LBound(d1) To UBound(d1): Print d1(i);: Next\nPrint\n"
         "For i = 1 To 3: For j = 1 To 3: Print d2(i, j);: Next: Next\nPrint\n"
         "Print r.n & r.s & r.d & gl & ga(2) & fs(1) & dt\n"
         "Print UBound(f3) & LBound(f4) & UBound(f4, 2)\n"
         "Exit Sub\n"
         "Handler:\nPrint \"error \" & Err.Number\nhandled = handled + 1\nIf handled > 20 Then Print \"gave up\": Exit Sub\nResume Next\nEnd Sub\n";
    return m;
  }

 private:
  // A numeric expression over Main's scalars, elements and calls, or with
  // `params` over those names and literals only.
  std::string Num(int depth, std::vector<std::string> params = {}) {
    if (depth <= 0 || rng_.Chance(30)) {
      if (!params.empty()) return rng_.Chance(50) ? rng_.Pick(params) : std::to_string(rng_.Int(0, 40));
      switch (rng_.Int(0, 9)) {
        case 0: return std::to_string(rng_.Int(0, 40));
        case 1: return std::to_string(rng_.Int(0, 99)) + ".5";
        case 2: return rng_.Pick(std::vector<std::string>{"c1", "c2", "c3", "k1", "k2", "k3"});
        case 3: return "f1(" + Index(0, 6, depth) + ")";
        case 4: return "f2(" + Index(1, 3, depth) + ", " + Index(0, 4, depth) + ")";
        case 5: return "d2(" + Index(1, 3, depth) + ", " + Index(1, 3, depth) + ")";
        case 6: return "d1(" + Index(1, 5, depth) + ")";
        case 7: return "r.n";
        default: return rng_.Pick(std::vector<std::string>{"ia", "ib", "la", "lb", "da", "db", "va", "vb", "gl", "Len(sa)"});
      }
    }
    int form = params.empty() ? rng_.Int(0, 11) : 9;
    if (form == 0) return "RecL(" + Index(0, 6, depth - 1) + ")";
    if (form == 1) return "RecV(" + Index(0, 4, depth - 1) + ", " + Num(depth - 1, params) + ")";
    if (form == 2) return "-(" + Num(depth - 1, params) + ")";
    if (form == 3) return "CLng(" + Num(depth - 1, params) + ") Mod 97";
    // Bit operations with Not beginning the right operand.
    if (form == 10)
      return "(" + Num(depth - 1) + rng_.Pick(std::vector<std::string>{" And Not ", " Or Not ", " Xor Not ", " + Not ", " * Not "}) +
             Num(depth - 1) + ")";
    std::string op = rng_.Pick(std::vector<std::string>{"+", "-", "*", "+", "-", "\\", "/"});
    return "(" + Num(depth - 1, params) + " " + op + " " + Num(depth - 1, params) + ")";
  }

  // An index kept inside lo..hi whatever the expression's value.
  std::string Index(int lo, int hi, int depth) {
    if (depth <= 1 || rng_.Chance(40)) return std::to_string(rng_.Int(lo, hi));
    return std::to_string(lo) + " + Abs(CLng(" + Num(depth - 1) + ") Mod " + std::to_string(hi - lo + 1) + ")";
  }

  std::string Str(int depth) {
    switch (rng_.Int(0, 5)) {
      case 0: return "sa";
      case 1: return "\"" + rng_.Pick(std::vector<std::string>{"ABC", "abc", "q", "Zz"}) + "\"";
      case 2: return "Left(sa & sb, " + std::to_string(rng_.Int(0, 4)) + ")";
      case 3: return "fs(" + Index(0, 2, depth) + ")";
      case 4: return "CStr(" + Num(depth - 1) + ")";
      default: return "Hex(" + Num(depth - 1) + ")";
    }
  }

  std::string Cond(int depth) {
    if (rng_.Chance(35)) {
      return Str(depth) + " " + rng_.Pick(std::vector<std::string>{"=", "<>", "<", ">="}) + " " + Str(depth);
    }
    // A string against a number, declared or Variant.
    if (rng_.Chance(15)) {
      return rng_.Pick(std::vector<std::string>{"sa", "sb", "va", "CStr(la)"}) + " " +
             rng_.Pick(std::vector<std::string>{"=", "<>", "<", ">="}) + " " + Num(depth);
    }
    std::string c = Num(depth) + " " + rng_.Pick(std::vector<std::string>{"=", "<>", "<", "<=", ">", ">="}) + " " + Num(depth);
    if (rng_.Chance(20)) c = "(" + c + ") And (" + Num(depth - 1) + " > 0)";
    return c;
  }

  std::string Target() {
    switch (rng_.Int(0, 9)) {
      case 0: return "f1(" + Index(0, 6, 2) + ")";
      case 1: return "f2(" + Index(1, 3, 2) + ", " + Index(0, 4, 2) + ")";
      case 2: return "d2(" + Index(1, 3, 2) + ", " + Index(1, 3, 2) + ")";
      case 3: return "d1(" + Index(1, 5, 2) + ")";
      case 4: return "gl";
      case 5: return "ga(" + Index(1, 4, 2) + ")";
      default: return rng_.Pick(std::vector<std::string>{"ia", "ib", "la", "lb", "da", "db", "va", "vb"});
    }
  }

  std::string Statement(int depth) {
    int kind = depth <= 0 ? rng_.Int(0, 4) : rng_.Int(0, 15);
    switch (kind) {
      case 0:
      case 1: return Target() + " = " + Num(3) + "\n";
      case 2: return rng_.Pick(std::vector<std::string>{"sa", "sb", "fs(" + Index(0, 2, 2) + ")"}) + " = " + Str(2) + " & " + Str(2) + "\n";
      case 3: return "Print " + Num(3) + "; \" \"; " + Str(2) + "\n";
      case 4: return rng_.Chance(50) ? "Bump " + rng_.Pick(std::vector<std::string>{"la", "lb", "gl", "f1(2)", "d2(1, 2)"}) + ", " + Num(2) + "\n"
                                     : "Scale " + rng_.Pick(std::vector<std::string>{"da", "db", "d1(3)", "r.d"}) + ", " + Index(0, 9, 2) + "\n";
      // Each nesting depth has its own counters, so inner loops never reset outer ones.
      case 5: {
        std::string c = "c" + std::to_string(depth), k = "k" + std::to_string(depth);
        // Literal bounds: after an error in a header, Resume Next would enter the body unprepared.
        std::string s = "For " + c + " = " + Index(0, 2, 0) + " To " + Index(2, 5, 0) + "\n";
        if (rng_.Chance(50)) return s + "For " + k + " = 1 To " + Index(1, 3, 0) + "\n" + Block(depth - 1) + "Next " + k + ", " + c + "\n";
        return s + Block(depth - 1) + "Next " + c + "\n";
      }
      case 6: {
        std::string g = "g" + std::to_string(depth);
        // The guard is also tested in the body: an error in the condition resumes there.
        return g + " = 0\nDo While " + g + " < " + std::to_string(rng_.Int(1, 6)) + " And " + Cond(2) + "\n" + g + " = " + g +
               " + 1\nIf " + g + " > 6 Then Exit Do\n" + Block(depth - 1) + "Loop\n";
      }
      case 7: {
        std::string g = "g" + std::to_string(depth);
        return g + " = 0\nDo\n" + g + " = " + g + " + 1\n" + Block(depth - 1) + "Loop Until " + g + " >= " + std::to_string(rng_.Int(1, 4)) +
               " Or " + Cond(1) + "\n";
      }
      case 8: {
        std::string s = "If " + Cond(2) + " Then\n" + Block(depth - 1);
        if (rng_.Chance(40)) s += "ElseIf " + Cond(2) + " Then\n" + Block(depth - 1);
        if (rng_.Chance(60)) s += "Else\n" + Block(depth - 1);
        return s + "End If\n";
      }
      case 9: return "If " + Cond(2) + " Then " + Target() + " = " + Num(2) + " Else " + Target() + " = " + Num(1) + "\n";
      case 10: {
        bool text = rng_.Chance(40);
        std::string s = "Select Case " + (text ? Str(2) : Num(2)) + "\n";
        if (text) {
          s += "Case \"abc\", \"q\"\n" + Block(depth - 1) + "Case \"b\" To \"x\"\n" + Block(depth - 1);
        } else {
          s += "Case 1, 2\n" + Block(depth - 1) + "Case 3 To 10\n" + Block(depth - 1) + "Case Is > 50\n" + Block(depth - 1);
        }
        return s + "Case Else\n" + Block(depth - 1) + "End Select\n";
      }
      case 11: return "With r\n.n = " + Num(2) + "\n.s = .s & " + Str(1) + "\n.d = .d + " + Num(1) + "\nPrint .n; .s\nEnd With\n";
      case 12: return "Print RecL(" + Index(0, 8, 2) + "); RecV(" + Index(0, 5, 2) + ", " + Num(2) + ")\n";
      case 15: return "Print RecA(" + Index(0, 2, 2) + ", " + Index(0, 3, 2) + "); Hex(f3(" + Index(0, 2, 2) + ") Xor Not la)\n";
      case 13: return "dt = DateSerial(2000, " + Num(1) + ", " + Num(1) + ") + " + Num(1) + "\nPrint dt; \" \"; Year(dt); " +
                      "DateDiff(\"d\", #1/1/2000 6:00#, dt); \" \"; Format(dt - " + Num(1) + ", \"yyyy-mm-dd hh:nn\")\n";
      default: return "vb = " + rng_.Pick(std::vector<std::string>{"va", "sa", "la", "da"}) + " + " + Num(2) + "\n";
    }
  }

  std::string Block(int depth) {
    std::string s;
    for (int n = rng_.Int(1, 3); n > 0; --n) s += Statement(depth);
    return s;
  }

  Rng& rng_;
};

TEST(Oracle, OptimisedProgramsMatchPlainOnes) {
  uint32_t seed = EnvOr("ORLAN_ORACLE_SEED", 20261209);
  uint32_t count = EnvOr("ORLAN_ORACLE_COUNT", 150);
  int gaveUp = 0;
  for (uint32_t n = 0; n < count; ++n) {
    Rng rng(seed + n);
    std::string src = ProgramGenerator(rng).Module();
    if (std::getenv("ORLAN_ORACLE_DUMP")) std::fprintf(stderr, "seed %u\n%s", seed + n, src.c_str());
    RunOutcome opt = RunProgram(src, "Main", CompileOptions{true});
    RunOutcome plain = RunProgram(src, "Main", CompileOptions{false});
    ASSERT_TRUE(opt.compileErrors.empty() && opt.error == 0) << "seed " << seed + n << "\n" << Describe(opt) << src;
    ASSERT_EQ(Describe(opt), Describe(plain)) << "seed " << seed + n << "\n" << src;
    gaveUp += opt.output.find("gave up") != std::string::npos;
  }
  // Most programs must run through: a generator whose programs all fail
  // would compare nothing but error reports.
  EXPECT_LT(gaveUp, static_cast<int>(count) / 2 + 1);
}

// By hand: ORLAN_ORACLE_FILE=prog.ebs runs one module both ways and compares.
TEST(Oracle, FileFromEnvironment) {
  const char* path = std::getenv("ORLAN_ORACLE_FILE");
  if (!path) GTEST_SKIP() << "ORLAN_ORACLE_FILE not set";
  std::FILE* f = std::fopen(path, "rb");
  ASSERT_NE(f, nullptr) << path;
  std::string src;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) src.append(buf, n);
  std::fclose(f);
  EXPECT_EQ(Describe(RunProgram(src, "Main", CompileOptions{true})), Describe(RunProgram(src, "Main", CompileOptions{false})));
}

}  // namespace
}  // namespace kv::orlan::testing
