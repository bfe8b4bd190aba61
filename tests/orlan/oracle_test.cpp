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
#include <random>
#include <string>
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
  bool variant = false;
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

RV Compare(const std::string& op, const RV& a, const RV& b) {
  int c;
  if (a.k == K::Str && b.k == K::Str) c = a.s < b.s ? -1 : a.s > b.s ? 1 : 0;
  else c = a.d < b.d ? -1 : a.d > b.d ? 1 : 0;
  bool r = op == "=" ? c == 0 : op == "<>" ? c != 0 : op == "<" ? c < 0 : op == "<=" ? c <= 0 : op == ">" ? c > 0 : c >= 0;
  return RV{K::Bool, r ? -1.0 : 0.0, {}, false};
}

RV Convert(const RV& v, K to) {
  if (to == K::Dbl) return RV{K::Dbl, v.d, {}, false};
  double r = std::nearbyint(v.d);
  if (!Fits(to, r)) throw VbaError{6};
  return RV{to, r, {}, false};
}

struct Operand {
  std::string text;
  RV value;
};

// Builds a module whose Main prints random expressions over typed and
// Variant variables and literals, and the output the evaluator expects.
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
  }

  void AddStatement() {
    Operand e = Expr(rng_.Int(1, 4));
    int form = rng_.Int(0, 5);
    std::string expected;
    std::string line;
    try {
      if (form == 0) {
        Operand b = Expr(rng_.Int(1, 3));
        std::string op = rng_.Pick(std::vector<std::string>{"=", "<>", "<", "<=", ">", ">="});
        line = "Print " + e.text + " " + op + " " + b.text;
        RV left = Eval(e);  // VBA evaluates left to right; so must we
        expected = Text(Compare(op, left, Eval(b)));
      } else if (form == 1) {
        line = "Print " + e.text + " & \"|\"";
        expected = Text(Eval(e)) + "|";
      } else if (form == 2 || form == 3) {
        // Assignment to a typed variable converts: Long rounds half to even.
        K to = form == 2 ? K::Lng : K::Int;
        line = std::string(to == K::Lng ? "tl" : "ti") + " = " + e.text;
        expected = Text(Convert(Eval(e), to));
        body_ += line + "\nIf Err.Number = 0 Then Print " + (to == K::Lng ? "tl" : "ti") + "\n" + Check();
        expect_ += expected + "\n";
        return;
      } else {
        line = "Print " + e.text;
        expected = Text(Eval(e));
      }
    } catch (const VbaError& err) {
      expected = "E" + std::to_string(err.number);
      if (form == 2 || form == 3) {
        body_ += std::string(form == 2 ? "tl" : "ti") + " = " + e.text + "\nIf Err.Number = 0 Then Print " + (form == 2 ? "tl" : "ti") + "\n" + Check();
        expect_ += expected + "\n";
        return;
      }
    }
    body_ += line + "\n" + Check();
    expect_ += expected + "\n";
  }

  std::string Source() const {
    return "Sub Main()\n" + decl_ + "Dim tl As Long, ti As Integer\nOn Error Resume Next\n" + init_ + body_ + "End Sub\n";
  }
  const std::string& Expected() const { return expect_; }

 private:
  static std::string Check() { return "If Err.Number <> 0 Then\nPrint \"E\" & Err.Number\nErr.Clear\nEnd If\n"; }

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
    char op = 0;  // 0 leaf, 'n' negation, else a binary operator
    RV leaf;
    std::vector<Node> kids;
  };

  Operand Expr(int depth) {
    Node n = Tree(depth);
    Operand o;
    o.text = Render(n);
    nodes_.push_back(n);
    o.value.d = static_cast<double>(nodes_.size() - 1);  // index of the tree
    return o;
  }

  RV Eval(const Operand& o) { return EvalNode(nodes_[static_cast<size_t>(o.value.d)]); }

  RV EvalNode(const Node& n) {
    if (n.op == 0) return n.leaf;
    if (n.op == 'n') {
      RV a = EvalNode(n.kids[0]);
      if (a.k == K::Dbl) return RV{K::Dbl, -a.d, {}, a.variant};
      return Fit(a.k, -a.d, a.variant);
    }
    RV a = EvalNode(n.kids[0]);
    RV b = EvalNode(n.kids[1]);
    return Arith(n.op, a, b);
  }

  Node Tree(int depth) {
    Node n;
    if (depth <= 0 || rng_.Chance(25)) {
      if (rng_.Chance(60)) {
        const auto& [name, v] = vars_[static_cast<size_t>(rng_.Int(0, static_cast<int>(vars_.size()) - 1))];
        n.leaf = v;
        n.leaf.s = name;
      } else {
        int kind = rng_.Int(0, 2);
        // Integer literals up to 32767, Long beyond, Double with a point.
        n.leaf = kind == 0 ? RV{K::Int, static_cast<double>(rng_.Int(0, 300)), {}, false}
                 : kind == 1 ? RV{K::Lng, static_cast<double>(rng_.Int(32768, 200000)), {}, false}
                             : RV{K::Dbl, rng_.Int(0, 4000) / 8.0 + 0.5, {}, false};
        n.leaf.s = Literal(n.leaf);
        if (n.leaf.k == K::Dbl && n.leaf.s.find('.') == std::string::npos) n.leaf.s += ".0";
      }
      return n;
    }
    if (rng_.Chance(10)) {
      n.op = 'n';
      n.kids.push_back(Tree(depth - 1));
      return n;
    }
    n.op = rng_.Pick(std::vector<char>{'+', '-', '*', '/', '\\', '%', '+', '-', '*'});
    n.kids.push_back(Tree(depth - 1));
    n.kids.push_back(Tree(depth - 1));
    return n;
  }

  static std::string Render(const Node& n) {
    if (n.op == 0) return n.leaf.s;
    if (n.op == 'n') return "-(" + Render(n.kids[0]) + ")";
    std::string op = n.op == '%' ? " Mod " : std::string(" ") + n.op + " ";
    return "(" + Render(n.kids[0]) + op + Render(n.kids[1]) + ")";
  }

  Rng& rng_;
  std::vector<std::pair<std::string, RV>> vars_;
  std::vector<Node> nodes_;
  std::string decl_, init_, body_, expect_;
};

TEST(Oracle, ExpressionsFollowVbaRules) {
  uint32_t seed = EnvOr("ORLAN_ORACLE_SEED", 20261209);
  uint32_t count = EnvOr("ORLAN_ORACLE_COUNT", 150);
  for (uint32_t n = 0; n < count; ++n) {
    Rng rng(seed + n);
    ExpressionProgram p(rng);
    for (int s = 0; s < 12; ++s) p.AddStatement();
    std::string src = p.Source();
    for (bool optimize : {true, false}) {
      RunOutcome r = RunProgram(src, "Main", CompileOptions{optimize});
      ASSERT_EQ(Describe(r), p.Expected()) << "seed " << seed + n << (optimize ? " optimised" : " plain") << "\n" << src;
    }
  }
}

}  // namespace
}  // namespace kv::orlan::testing
