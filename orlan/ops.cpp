#include "orlan/ops.h"

#include <cmath>
#include <cstdint>

#include "orlan/dates.h"
#include "orlan/runtime.h"

namespace kv::orlan {
namespace {

// Numeric rank for the result of mixed arithmetic.
enum Rank { kInt = 0, kLng = 1, kSng = 2, kDbl = 3 };

int RankOf(const Value& v) {
  switch (v.tag) {
    case Tag::Integer:
    case Tag::Boolean:
    case Tag::Empty: return kInt;
    case Tag::Long: return kLng;
    case Tag::Single: return kSng;
    default: return kDbl;
  }
}

// A string operand of arithmetic becomes a Double ("3" + 4 is 7).
Value Numeric(const Value& v) {
  switch (v.tag) {
    case Tag::Integer:
    case Tag::Long:
    case Tag::Single:
    case Tag::Double: return v;
    case Tag::Boolean: return Value::Int(v.i);
    case Tag::Empty: return Value::Int(0);
    case Tag::Null: return v;
    default: return Value::Dbl(ToDouble(v));
  }
}

Value IntResult(int64_t r, int rank, bool strict) {
  if (rank == kInt) {
    if (r >= -32768 && r <= 32767) return Value::Int(static_cast<int32_t>(r));
    if (strict) Raise(err::kOverflow);
    rank = kLng;
  }
  if (r >= INT32_MIN && r <= INT32_MAX) return Value::Lng(static_cast<int32_t>(r));
  if (strict) Raise(err::kOverflow);
  return Value::Dbl(static_cast<double>(r));
}

Value FloatResult(double r, int rank) {
  if (!std::isfinite(r)) Raise(err::kOverflow);
  if (rank == kSng) {
    if (std::fabs(r) > 3.402823466e38) Raise(err::kOverflow);
    return Value::Sng(static_cast<float>(r));
  }
  return Value::Dbl(r);
}

// Operands of \, Mod and the logical operators: rounded to Integer or Long.
int64_t IntegralOperand(const Value& v) {
  if (v.tag == Tag::Integer || v.tag == Tag::Long || v.tag == Tag::Boolean) return v.i;
  return ToLong(v);
}

Value Logical(Op op, const Value& a, const Value& b, bool strict) {
  if (a.tag == Tag::Null || b.tag == Tag::Null) return Value::NullValue();
  int64_t x = IntegralOperand(a), y = IntegralOperand(b);
  int64_t r = 0;
  switch (op) {
    case Op::And: r = x & y; break;
    case Op::Or: r = x | y; break;
    case Op::Xor: r = x ^ y; break;
    case Op::Eqv: r = ~(x ^ y); break;
    default: r = (~x) | y; break;  // Imp
  }
  if (a.tag == Tag::Boolean && b.tag == Tag::Boolean) return Value::Bool(r != 0);
  bool small = RankOf(a) == kInt && RankOf(b) == kInt && a.tag != Tag::String && b.tag != Tag::String;
  return IntResult(static_cast<int32_t>(r), small ? kInt : kLng, strict);
}

}  // namespace

int CompareValues(const Value& a0, const Value& b0, uint8_t flags, bool& isNull) {
  const Value& a = Deref(a0);
  const Value& b = Deref(b0);
  isNull = a.tag == Tag::Null || b.tag == Tag::Null;
  if (isNull) return 0;
  bool as = a.tag == Tag::String, bs = b.tag == Tag::String;
  if (as && bs) return CompareStrings(StrOf(a), StrOf(b), flags & kTextCmp);
  if (as || bs) {
    const Value& other = as ? b : a;
    if (other.tag == Tag::Empty) {
      return CompareStrings(as ? StrOf(a) : "", bs ? StrOf(b) : "", flags & kTextCmp);
    }
    // One declared operand against a Variant: a declared String compares the
    // Variant's text; a declared number or date reads the Variant string as
    // one (error 13 when it is not).
    bool typedString = ((flags & kTypedLeft) && as) || ((flags & kTypedRight) && bs);
    bool typedOther = ((flags & kTypedLeft) && !as) || ((flags & kTypedRight) && !bs);
    if (!(flags & kStrict) && typedString && other.tag != Tag::Array && other.tag != Tag::Object && other.tag != Tag::Record)
      return CompareStrings(ToStr(a), ToStr(b), flags & kTextCmp);
    if (typedOther && other.tag == Tag::Date) {
      double x = ToDate(a), y = ToDate(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    if (!(flags & kStrict) && !typedOther && (IsNumericTag(other.tag) || other.tag == Tag::Date)) {
      // Variants: a number sorts before any string.
      return as ? 1 : -1;
    }
  }
  if ((a.tag == Tag::Object || b.tag == Tag::Object || a.tag == Tag::Record || b.tag == Tag::Record ||
       a.tag == Tag::Array || b.tag == Tag::Array))
    Raise(err::kTypeMismatch);
  if ((a.tag == Tag::Integer || a.tag == Tag::Long || a.tag == Tag::Boolean) &&
      (b.tag == Tag::Integer || b.tag == Tag::Long || b.tag == Tag::Boolean))
    return a.i < b.i ? -1 : a.i > b.i ? 1 : 0;
  double x = ToDouble(a), y = ToDouble(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

Value BinaryOp(Op op, const Value& a0, const Value& b0, uint8_t flags) {
  const Value& a = Deref(a0);
  const Value& b = Deref(b0);
  bool strict = flags & kStrict;
  switch (op) {
    case Op::Cat: {
      if (a.tag == Tag::Null && b.tag == Tag::Null) return Value::NullValue();
      std::string s = a.tag == Tag::Null ? std::string() : ToStr(a);
      if (b.tag != Tag::Null) {
        AppendBounded(s, ToStr(b));
      }
      return Value::Str(std::move(s));
    }
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: {
      bool isNull;
      int c = CompareValues(a, b, flags, isNull);
      if (isNull) return Value::NullValue();
      bool r = op == Op::Eq ? c == 0 : op == Op::Ne ? c != 0 : op == Op::Lt ? c < 0 : op == Op::Le ? c <= 0 : op == Op::Gt ? c > 0 : c >= 0;
      return Value::Bool(r);
    }
    case Op::Like: {
      if (a.tag == Tag::Null || b.tag == Tag::Null) return Value::NullValue();
      return Value::Bool(LikeMatch(ToStr(a), ToStr(b), flags & kTextCmp));
    }
    case Op::Is: {
      if (a.tag != Tag::Object || b.tag != Tag::Object) Raise(err::kTypeMismatch);
      uint32_t ha = ObjOf(a)->handle.load(), hb = ObjOf(b)->handle.load();
      return Value::Bool(ha == hb && (ha == 0 || ObjOf(a)->library == ObjOf(b)->library));
    }
    case Op::And:
    case Op::Or:
    case Op::Xor:
    case Op::Eqv:
    case Op::Imp: return Logical(op, a, b, strict);
    default: break;
  }
  if (op == Op::Add && a.tag == Tag::String && b.tag == Tag::String) return BinaryOp(Op::Cat, a, b, flags);
  if (op == Op::Add && ((a.tag == Tag::String && b.tag == Tag::Empty) || (a.tag == Tag::Empty && b.tag == Tag::String)))
    return a.tag == Tag::String ? a : b;
  // A date plus or minus a number is a date; the difference of two dates is days.
  if ((op == Op::Add || op == Op::Sub) && (a.tag == Tag::Date || b.tag == Tag::Date) && a.tag != Tag::Null &&
      b.tag != Tag::Null) {
    double r = op == Op::Add ? ToDouble(a) + ToDouble(b) : ToDouble(a) - ToDouble(b);
    if (op == Op::Sub && a.tag == Tag::Date && b.tag == Tag::Date) return Value::Dbl(r);
    if (!InDateRange(r)) Raise(err::kOverflow);
    return Value::DateValue(r);
  }
  Value x = Numeric(a), y = Numeric(b);
  if (x.tag == Tag::Null || y.tag == Tag::Null) return Value::NullValue();
  int rank = std::max(RankOf(x), RankOf(y));
  // Single mixed with Long widens to Double, as VBA does.
  if (rank == kSng && (x.tag == Tag::Long || y.tag == Tag::Long)) rank = kDbl;
  bool integral = rank <= kLng;
  switch (op) {
    case Op::Add:
      if (integral) return IntResult(static_cast<int64_t>(x.i) + y.i, rank, strict);
      return FloatResult(ToDouble(x) + ToDouble(y), rank);
    case Op::Sub:
      if (integral) return IntResult(static_cast<int64_t>(x.i) - y.i, rank, strict);
      return FloatResult(ToDouble(x) - ToDouble(y), rank);
    case Op::Mul:
      if (integral) return IntResult(static_cast<int64_t>(x.i) * y.i, rank, strict);
      return FloatResult(ToDouble(x) * ToDouble(y), rank);
    case Op::Div: {
      double d = ToDouble(y);
      double n = ToDouble(x);
      if (d == 0) Raise(n == 0 ? err::kOverflow : err::kDivByZero);
      return FloatResult(n / d, rank == kSng ? kSng : kDbl);
    }
    case Op::Pow: {
      double n = ToDouble(x), e = ToDouble(y);
      if (n < 0 && e != std::floor(e)) Raise(err::kInvalidCall);
      if (n == 0 && e < 0) Raise(err::kDivByZero);
      return FloatResult(std::pow(n, e), kDbl);
    }
    case Op::IDiv:
    case Op::Mod: {
      int64_t n = IntegralOperand(x), d = IntegralOperand(y);
      if (d == 0) Raise(err::kDivByZero);
      // Truncating division; Mod takes the sign of the dividend (-7 Mod 3 = -1).
      int64_t r = op == Op::IDiv ? n / d : n % d;
      return IntResult(r, rank == kInt ? kInt : kLng, true);
    }
    default: Raise(err::kTypeMismatch);
  }
}

Value UnaryOp(Op op, const Value& a0) {
  const Value& a = Deref(a0);
  if (a.tag == Tag::Null) return a;
  if (op == Op::Not) {
    if (a.tag == Tag::Boolean) return Value::Bool(a.i == 0);
    int64_t x = IntegralOperand(a);
    bool small = a.tag == Tag::Integer || a.tag == Tag::Empty;
    return IntResult(static_cast<int32_t>(~x), small ? kInt : kLng, true);
  }
  Value x = Numeric(a);
  switch (x.tag) {
    case Tag::Integer: return IntResult(-static_cast<int64_t>(x.i), kInt, false);
    case Tag::Long: return IntResult(-static_cast<int64_t>(x.i), kLng, false);
    case Tag::Single: return Value::Sng(-x.f);
    default: return Value::Dbl(-ToDouble(x));
  }
}

namespace {
int StaticRank(VarType t) {
  switch (t) {
    case VarType::Integer:
    case VarType::Boolean:
    case VarType::Byte: return kInt;
    case VarType::Long: return kLng;
    case VarType::Single: return kSng;
    case VarType::Double: return kDbl;
    default: return -1;
  }
}
TypeRef Of(VarType t) { return TypeRef{t, -1, false}; }
}  // namespace

TypeRef ResultType(Op op, const TypeRef& a, const TypeRef& b) {
  switch (op) {
    case Op::Cat: return Of(VarType::String);
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge:
    case Op::Like:
    case Op::Is:
      return (a.vt == VarType::Variant || b.vt == VarType::Variant) ? Of(VarType::Variant) : Of(VarType::Boolean);
    default: break;
  }
  if (a.isArray || b.isArray) return Of(VarType::Variant);
  if (op == Op::Not || op == Op::Neg) {
    if (op == Op::Not && a.vt == VarType::Boolean) return a;
    int r = StaticRank(a.vt);
    if (r < 0) return Of(VarType::Variant);
    if (op == Op::Not) return Of(r == kInt ? VarType::Integer : VarType::Long);
    if (a.vt == VarType::Boolean || a.vt == VarType::Byte) return Of(VarType::Integer);
    return a;
  }
  if (op >= Op::And && op <= Op::Imp) {
    if (a.vt == VarType::Boolean && b.vt == VarType::Boolean) return Of(VarType::Boolean);
    int ra = StaticRank(a.vt), rb = StaticRank(b.vt);
    if (ra < 0 || rb < 0) return Of(VarType::Variant);
    return Of(ra == kInt && rb == kInt ? VarType::Integer : VarType::Long);
  }
  if (a.vt == VarType::String && b.vt == VarType::String && op == Op::Add) return Of(VarType::String);
  int ra = a.vt == VarType::String ? kDbl : StaticRank(a.vt);
  int rb = b.vt == VarType::String ? kDbl : StaticRank(b.vt);
  if (ra < 0 || rb < 0) return Of(VarType::Variant);
  int rank = std::max(ra, rb);
  if (rank == kSng && (a.vt == VarType::Long || b.vt == VarType::Long)) rank = kDbl;
  if (op == Op::Div) return Of(rank == kSng ? VarType::Single : VarType::Double);
  if (op == Op::Pow) return Of(VarType::Double);
  if (op == Op::IDiv || op == Op::Mod) return Of(rank == kInt ? VarType::Integer : VarType::Long);
  static const VarType kByRank[] = {VarType::Integer, VarType::Long, VarType::Single, VarType::Double};
  return Of(kByRank[rank]);
}

}  // namespace kv::orlan
