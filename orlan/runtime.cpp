#include "orlan/runtime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>

#include "orlan/dates.h"
#include "orlan/engine.h"
#include "platform/environment.h"
#include "platform/text.h"

namespace kv::orlan {
namespace {

// Argument i (1-based) after following a ByRef reference.
inline const Value& Arg(Value* fr, int i) { return Deref(fr[i]); }
inline bool Has(Value* fr, int n, int i) { return i <= n && Arg(fr, i).tag != Tag::Missing; }
inline bool IsNull(const Value& v) { return v.tag == Tag::Null; }

int32_t ArgLong(Value* fr, int i) { return ToLong(Arg(fr, i)); }
std::string ArgStr(Value* fr, int i) { return ToStr(Arg(fr, i)); }

bool TextMode(Thread& t, Value* fr, int n, int i) {
  if (Has(fr, n, i)) {
    int32_t c = ArgLong(fr, i);
    if (c < -1 || c > 2) Raise(err::kInvalidCall);
    if (c >= 0) return c == 1;
  }
  return t.script().program().compare == CompareMode::Text;
}

// Finds `what` in `in` from position `from` (0-based).
size_t Find(std::string_view in, std::string_view what, size_t from, bool text) {
  if (!text) return in.find(what, from);
  if (what.size() > in.size()) return std::string_view::npos;
  for (size_t i = from; i + what.size() <= in.size(); ++i) {
    bool ok = true;
    for (size_t k = 0; k < what.size() && ok; ++k) ok = ToUpper1252(in[i + k]) == ToUpper1252(what[k]);
    if (ok) return i;
  }
  return std::string_view::npos;
}

size_t FindRev(std::string_view in, std::string_view what, size_t endPos, bool text) {
  // Last match that ends at or before endPos.
  if (what.size() > endPos) return std::string_view::npos;
  for (size_t i = endPos - what.size() + 1; i-- > 0;) {
    bool ok = true;
    for (size_t k = 0; k < what.size() && ok; ++k) {
      char a = in[i + k], b = what[k];
      ok = text ? ToUpper1252(a) == ToUpper1252(b) : a == b;
    }
    if (ok) return i;
  }
  return std::string_view::npos;
}

#define FN(name) void name(Thread& t, Value* fr, int n)
#define UNUSED (void)t, (void)n

FN(Len) {
  UNUSED;
  const Value& v = Arg(fr, 1);
  if (IsNull(v)) {
    fr[0] = Value::NullValue();
    return;
  }
  fr[0] = Value::Lng(static_cast<int32_t>(v.tag == Tag::String ? StrOf(v).size() : ToStr(v).size()));
}

FN(Left) {
  UNUSED;
  if (IsNull(Arg(fr, 1))) return void(fr[0] = Value::NullValue());
  std::string s = ArgStr(fr, 1);
  int32_t k = ArgLong(fr, 2);
  if (k < 0) Raise(err::kInvalidCall);
  fr[0] = Value::Str(s.substr(0, static_cast<size_t>(k)));
}

FN(Right) {
  UNUSED;
  if (IsNull(Arg(fr, 1))) return void(fr[0] = Value::NullValue());
  std::string s = ArgStr(fr, 1);
  int32_t k = ArgLong(fr, 2);
  if (k < 0) Raise(err::kInvalidCall);
  size_t len = std::min(s.size(), static_cast<size_t>(k));
  fr[0] = Value::Str(s.substr(s.size() - len));
}

FN(Mid) {
  UNUSED;
  if (IsNull(Arg(fr, 1))) return void(fr[0] = Value::NullValue());
  std::string s = ArgStr(fr, 1);
  int32_t start = ArgLong(fr, 2);
  if (start < 1) Raise(err::kInvalidCall);
  size_t from = static_cast<size_t>(start - 1);
  if (from >= s.size()) return void(fr[0] = Value::Str(""));
  size_t len = s.size() - from;
  if (Has(fr, n, 3)) {
    int32_t l = ArgLong(fr, 3);
    if (l < 0) Raise(err::kInvalidCall);
    len = std::min(len, static_cast<size_t>(l));
  }
  fr[0] = Value::Str(s.substr(from, len));
}

FN(MidSet) {
  UNUSED;
  Value& target = Deref(fr[1]);
  std::string s = ToStr(target);
  int32_t start = ArgLong(fr, 2);
  if (start < 1 || static_cast<size_t>(start) > s.size()) Raise(err::kInvalidCall);
  std::string repl = ArgStr(fr, 4);
  size_t from = static_cast<size_t>(start - 1);
  size_t len = std::min(repl.size(), s.size() - from);
  if (Has(fr, n, 3)) {
    int32_t l = ArgLong(fr, 3);
    if (l < 0) Raise(err::kInvalidCall);
    len = std::min(len, static_cast<size_t>(l));
  }
  s.replace(from, len, repl.substr(0, len));
  target = Value::Str(std::move(s));
  fr[1].Clear();
}

FN(InStr) {
  size_t start = 0;
  int base = 0;
  if (n >= 3) {
    int32_t st = ArgLong(fr, 1);
    if (st < 1) Raise(err::kInvalidCall);
    start = static_cast<size_t>(st - 1);
    base = 1;
  }
  const Value& a = Arg(fr, base + 1);
  const Value& b = Arg(fr, base + 2);
  if (IsNull(a) || IsNull(b)) return void(fr[0] = Value::NullValue());
  std::string s1 = ToStr(a), s2 = ToStr(b);
  bool text = TextMode(t, fr, n, base + 3);
  if (start > s1.size()) return void(fr[0] = Value::Lng(0));
  if (s2.empty()) return void(fr[0] = Value::Lng(static_cast<int32_t>(start + 1)));
  size_t pos = Find(s1, s2, start, text);
  fr[0] = Value::Lng(pos == std::string::npos ? 0 : static_cast<int32_t>(pos + 1));
}

FN(InStrRev) {
  std::string s1 = ArgStr(fr, 1), s2 = ArgStr(fr, 2);
  int32_t start = Has(fr, n, 3) ? ArgLong(fr, 3) : -1;
  if (start == 0 || start < -1) Raise(err::kInvalidCall);
  bool text = TextMode(t, fr, n, 4);
  size_t endPos = start == -1 ? s1.size() : static_cast<size_t>(start);
  if (endPos > s1.size()) return void(fr[0] = Value::Lng(0));
  if (s2.empty()) return void(fr[0] = Value::Lng(static_cast<int32_t>(endPos)));
  size_t pos = FindRev(s1, s2, endPos, text);
  fr[0] = Value::Lng(pos == std::string::npos ? 0 : static_cast<int32_t>(pos + 1));
}

FN(LCase) {
  UNUSED;
  if (IsNull(Arg(fr, 1))) return void(fr[0] = Value::NullValue());
  fr[0] = Value::Str(ToLower1252(ArgStr(fr, 1)));
}
FN(UCase) {
  UNUSED;
  if (IsNull(Arg(fr, 1))) return void(fr[0] = Value::NullValue());
  fr[0] = Value::Str(ToUpper1252(ArgStr(fr, 1)));
}

// VBA's trimming removes spaces only.
FN(Trim) {
  UNUSED;
  std::string s = ArgStr(fr, 1);
  size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return void(fr[0] = Value::Str(""));
  size_t b = s.find_last_not_of(' ');
  fr[0] = Value::Str(s.substr(a, b - a + 1));
}
FN(LTrim) {
  UNUSED;
  std::string s = ArgStr(fr, 1);
  size_t a = s.find_first_not_of(' ');
  fr[0] = Value::Str(a == std::string::npos ? "" : s.substr(a));
}
FN(RTrim) {
  UNUSED;
  std::string s = ArgStr(fr, 1);
  size_t b = s.find_last_not_of(' ');
  fr[0] = Value::Str(b == std::string::npos ? "" : s.substr(0, b + 1));
}

FN(Space) {
  UNUSED;
  int32_t k = ArgLong(fr, 1);
  if (k < 0) Raise(err::kInvalidCall);
  CheckStringLength(static_cast<size_t>(k));
  fr[0] = Value::Str(std::string(static_cast<size_t>(k), ' '));
}

FN(StringFn) {
  UNUSED;
  int32_t k = ArgLong(fr, 1);
  if (k < 0) Raise(err::kInvalidCall);
  CheckStringLength(static_cast<size_t>(k));
  const Value& c = Arg(fr, 2);
  char ch;
  if (c.tag == Tag::String) {
    if (StrOf(c).empty()) Raise(err::kInvalidCall);
    ch = StrOf(c)[0];
  } else {
    int32_t code = ToLong(c);
    ch = static_cast<char>(code & 0xFF);
  }
  fr[0] = Value::Str(std::string(static_cast<size_t>(k), ch));
}

FN(Replace) {
  std::string s = ArgStr(fr, 1), find = ArgStr(fr, 2), repl = ArgStr(fr, 3);
  int32_t start = Has(fr, n, 4) ? ArgLong(fr, 4) : 1;
  int32_t count = Has(fr, n, 5) ? ArgLong(fr, 5) : -1;
  if (start < 1 || count < -1) Raise(err::kInvalidCall);
  bool text = TextMode(t, fr, n, 6);
  if (static_cast<size_t>(start) > s.size()) return void(fr[0] = Value::Str(""));
  // The result begins at `start`, as in VBA.
  s = s.substr(static_cast<size_t>(start - 1));
  if (find.empty() || count == 0) return void(fr[0] = Value::Str(s));
  std::string out;
  size_t pos = 0;
  int done = 0;
  for (;;) {
    size_t hit = Find(s, find, pos, text);
    if (hit == std::string::npos || (count >= 0 && done >= count)) break;
    AppendBounded(out, std::string_view(s).substr(pos, hit - pos));
    AppendBounded(out, repl);
    pos = hit + find.size();
    ++done;
  }
  AppendBounded(out, std::string_view(s).substr(pos));
  fr[0] = Value::Str(std::move(out));
}

Value StringArray(const std::vector<std::string>& parts) {
  Value a = NewArray(VarType::Variant, nullptr, {{0, static_cast<int32_t>(parts.size())}});
  for (size_t i = 0; i < parts.size(); ++i) ArrOf(a)->data[i] = Value::Str(parts[i]);
  return a;
}

FN(Split) {
  std::string s = ArgStr(fr, 1);
  std::string delim = Has(fr, n, 2) ? ArgStr(fr, 2) : " ";
  int32_t limit = Has(fr, n, 3) ? ArgLong(fr, 3) : -1;
  if (limit < -1) Raise(err::kInvalidCall);
  bool text = TextMode(t, fr, n, 4);
  std::vector<std::string> parts;
  if (!s.empty() && limit != 0) {
    if (delim.empty()) {
      parts.push_back(s);
    } else {
      size_t pos = 0;
      for (;;) {
        if (limit > 0 && static_cast<int32_t>(parts.size()) == limit - 1) {
          parts.push_back(s.substr(pos));
          break;
        }
        size_t hit = Find(s, delim, pos, text);
        if (hit == std::string::npos) {
          parts.push_back(s.substr(pos));
          break;
        }
        parts.push_back(s.substr(pos, hit - pos));
        pos = hit + delim.size();
      }
    }
  }
  fr[0] = StringArray(parts);
}

FN(Join) {
  UNUSED;
  const Value& a = Arg(fr, 1);
  if (a.tag != Tag::Array || ArrOf(a)->dims.size() > 1) Raise(err::kTypeMismatch);
  std::string delim = Has(fr, n, 2) ? ArgStr(fr, 2) : " ";
  std::string out;
  const auto& data = ArrOf(a)->data;
  for (size_t i = 0; i < data.size(); ++i) {
    if (i) AppendBounded(out, delim);
    AppendBounded(out, ToStr(data[i]));
  }
  fr[0] = Value::Str(std::move(out));
}

FN(StrComp) {
  const Value& a = Arg(fr, 1);
  const Value& b = Arg(fr, 2);
  if (IsNull(a) || IsNull(b)) return void(fr[0] = Value::NullValue());
  fr[0] = Value::Int(CompareStrings(ToStr(a), ToStr(b), TextMode(t, fr, n, 3)));
}

FN(Asc) {
  UNUSED;
  std::string s = ArgStr(fr, 1);
  if (s.empty()) Raise(err::kInvalidCall);
  fr[0] = Value::Int(static_cast<uint8_t>(s[0]));
}

FN(Chr) {
  UNUSED;
  int32_t c = ArgLong(fr, 1);
  if (c < 0 || c > 255) Raise(err::kInvalidCall);
  fr[0] = Value::Str(std::string(1, static_cast<char>(c)));
}

FN(Str) {
  UNUSED;
  const Value& v = Arg(fr, 1);
  if (IsNull(v)) return void(fr[0] = Value::NullValue());
  // The sign space is for numbers; a date is its text.
  if (v.tag == Tag::Date) return void(fr[0] = Value::Str(ToStr(v)));
  Value num = v;
  if (v.tag == Tag::String) num = Value::Dbl(ToDouble(v));
  if (v.tag == Tag::Boolean) num = Value::Int(v.i);
  std::string s = ToStr(num);
  if (s[0] != '-') s = " " + s;
  fr[0] = Value::Str(std::move(s));
}

FN(Val) {
  UNUSED;
  std::string s = ArgStr(fr, 1);
  std::string clean;
  for (char c : s)
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') clean += c;
  double d = 0;
  if (clean.size() > 1 && clean[0] == '&') {
    size_t k = 2;
    while (k < clean.size() && std::isxdigit(static_cast<unsigned char>(clean[k]))) ++k;
    if (!ParseNumber(clean.substr(0, k), d)) d = 0;
    return void(fr[0] = Value::Dbl(d));
  }
  // The longest numeric prefix.
  size_t k = 0;
  if (k < clean.size() && (clean[k] == '+' || clean[k] == '-')) ++k;
  while (k < clean.size() && std::isdigit(static_cast<unsigned char>(clean[k]))) ++k;
  if (k < clean.size() && clean[k] == '.') {
    ++k;
    while (k < clean.size() && std::isdigit(static_cast<unsigned char>(clean[k]))) ++k;
  }
  if (k < clean.size() && (clean[k] == 'e' || clean[k] == 'E' || clean[k] == 'd' || clean[k] == 'D')) {
    size_t e = k + 1;
    if (e < clean.size() && (clean[e] == '+' || clean[e] == '-')) ++e;
    if (e < clean.size() && std::isdigit(static_cast<unsigned char>(clean[e]))) {
      while (e < clean.size() && std::isdigit(static_cast<unsigned char>(clean[e]))) ++e;
      k = e;
    }
  }
  if (!ParseNumber(clean.substr(0, k), d)) d = 0;
  fr[0] = Value::Dbl(d);
}

FN(Format) {
  UNUSED;
  std::string text = FormatValue(Arg(fr, 1), Has(fr, n, 2) ? ArgStr(fr, 2) : "");
  CheckStringLength(text.size());
  fr[0] = Value::Str(std::move(text));
}

// Integers (and Byte and Boolean) give their 16-bit two's complement; every
// other value is converted to Long and gives 32 bits: Hex(-1) is "FFFF",
// Hex(-1&) and Hex(-1#) are "FFFFFFFF".
std::string Radix(const Value& v, int base) {
  uint32_t x;
  if (v.tag == Tag::Integer || v.tag == Tag::Boolean) x = static_cast<uint16_t>(v.i);
  else x = static_cast<uint32_t>(ToLong(v));
  char buf[16];
  std::snprintf(buf, sizeof buf, base == 16 ? "%X" : "%o", x);
  return buf;
}

FN(Hex) {
  UNUSED;
  const Value& v = Arg(fr, 1);
  if (IsNull(v)) return void(fr[0] = Value::NullValue());
  fr[0] = Value::Str(Radix(v, 16));
}
FN(Oct) {
  UNUSED;
  const Value& v = Arg(fr, 1);
  if (IsNull(v)) return void(fr[0] = Value::NullValue());
  fr[0] = Value::Str(Radix(v, 8));
}

FN(StrReverse) {
  UNUSED;
  std::string s = ArgStr(fr, 1);
  std::reverse(s.begin(), s.end());
  fr[0] = Value::Str(std::move(s));
}

FN(CInt) { UNUSED; fr[0] = Coerce(Arg(fr, 1), VarType::Integer); }
FN(CLng) { UNUSED; fr[0] = Coerce(Arg(fr, 1), VarType::Long); }
FN(CDbl) { UNUSED; fr[0] = Coerce(Arg(fr, 1), VarType::Double); }
FN(CSng) { UNUSED; fr[0] = Coerce(Arg(fr, 1), VarType::Single); }
FN(CStr) { UNUSED; fr[0] = Coerce(Arg(fr, 1), VarType::String); }
FN(CBool) { UNUSED; fr[0] = Coerce(Arg(fr, 1), VarType::Boolean); }
FN(CByte) { UNUSED; fr[0] = Coerce(Arg(fr, 1), VarType::Byte); }
FN(CVar) { UNUSED; fr[0] = CopyForAssign(Arg(fr, 1)); }

// Int and Fix keep the argument's numeric type.
void Integral(Value* fr, bool floorMode) {
  const Value& v = Arg(fr, 1);
  switch (v.tag) {
    case Tag::Integer:
    case Tag::Long: fr[0] = v; return;
    case Tag::Boolean: fr[0] = Value::Int(v.i); return;
    case Tag::Null: fr[0] = v; return;
    case Tag::Single: fr[0] = Value::Sng(floorMode ? std::floor(v.f) : std::trunc(v.f)); return;
    default: {
      double d = ToDouble(v);
      fr[0] = Value::Dbl(floorMode ? std::floor(d) : std::trunc(d));
    }
  }
}
FN(Int) { UNUSED; Integral(fr, true); }
FN(Fix) { UNUSED; Integral(fr, false); }

FN(Abs) {
  UNUSED;
  const Value& v = Arg(fr, 1);
  switch (v.tag) {
    case Tag::Integer:
      if (v.i == -32768) Raise(err::kOverflow);
      fr[0] = Value::Int(std::abs(v.i));
      return;
    case Tag::Long:
      if (v.i == INT32_MIN) Raise(err::kOverflow);
      fr[0] = Value::Lng(std::abs(v.i));
      return;
    case Tag::Null: fr[0] = v; return;
    case Tag::Single: fr[0] = Value::Sng(std::fabs(v.f)); return;
    case Tag::Empty: fr[0] = Value::Int(0); return;
    default: fr[0] = Value::Dbl(std::fabs(ToDouble(v)));
  }
}

FN(Sgn) {
  UNUSED;
  double d = ToDouble(Arg(fr, 1));
  fr[0] = Value::Int(d > 0 ? 1 : d < 0 ? -1 : 0);
}

FN(Round) {
  UNUSED;
  const Value& v = Arg(fr, 1);
  int32_t digits = Has(fr, n, 2) ? ArgLong(fr, 2) : 0;
  if (digits < 0 || digits > 15) Raise(err::kInvalidCall);
  if (v.tag == Tag::Integer || v.tag == Tag::Long) return void(fr[0] = v);
  double d = ToDouble(v);
  double scale = std::pow(10.0, digits);
  double r = RoundHalfEven(d * scale) / scale;
  fr[0] = v.tag == Tag::Single ? Value::Sng(static_cast<float>(r)) : Value::Dbl(r);
}

double Checked(double r) {
  if (!std::isfinite(r)) Raise(err::kOverflow);
  return r;
}

FN(Sqr) {
  UNUSED;
  double d = ToDouble(Arg(fr, 1));
  if (d < 0) Raise(err::kInvalidCall);
  fr[0] = Value::Dbl(std::sqrt(d));
}
FN(Sin) { UNUSED; fr[0] = Value::Dbl(std::sin(ToDouble(Arg(fr, 1)))); }
FN(Cos) { UNUSED; fr[0] = Value::Dbl(std::cos(ToDouble(Arg(fr, 1)))); }
FN(Tan) { UNUSED; fr[0] = Value::Dbl(Checked(std::tan(ToDouble(Arg(fr, 1))))); }
FN(Atn) { UNUSED; fr[0] = Value::Dbl(std::atan(ToDouble(Arg(fr, 1)))); }
FN(Exp) { UNUSED; fr[0] = Value::Dbl(Checked(std::exp(ToDouble(Arg(fr, 1))))); }
FN(Log) {
  UNUSED;
  double d = ToDouble(Arg(fr, 1));
  if (d <= 0) Raise(err::kInvalidCall);
  fr[0] = Value::Dbl(std::log(d));
}

// VBA's generator: a 24-bit linear congruential sequence.
FN(Rnd) {
  double arg = Has(fr, n, 1) ? ToDouble(Arg(fr, 1)) : 1;
  if (arg < 0) {
    float f = static_cast<float>(arg);
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    t.rndSeed = (bits + (bits >> 24)) & 0xFFFFFF;
  }
  if (arg != 0) t.rndSeed = (t.rndSeed * 1140671485u + 12820163u) & 0xFFFFFF;
  t.lastRnd = static_cast<float>(t.rndSeed) / 16777216.0f;
  fr[0] = Value::Sng(t.lastRnd);
}

FN(Randomize) {
  double seed;
  if (Has(fr, n, 1)) {
    seed = ToDouble(Arg(fr, 1));
  } else {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    seed = static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(now).count() % 86400000000LL) / 1e6;
  }
  double dseed = seed;
  uint64_t bits;
  std::memcpy(&bits, &dseed, 8);
  uint32_t hi = static_cast<uint32_t>(bits >> 32);
  uint32_t mixed = (hi ^ (hi >> 16)) & 0xFFFF;
  t.rndSeed = (t.rndSeed & 0xFF0000FF) | (mixed << 8);
  t.rndSeed &= 0xFFFFFF;
  fr[0].Clear();
}

// Environ("NAME") is the variable's value; Environ(n) the n-th entry as
// "NAME=value"; "" when there is none. Values arrive as UTF-8.
FN(Environ) {
  UNUSED;
  const Value& v = Arg(fr, 1);
  std::optional<std::string> entry;
  if (v.tag == Tag::String) {
    entry = EnvironmentValue(Cp1252ToUtf8(StrOf(v)));
  } else {
    int32_t index = ToLong(v);
    if (index <= 0) Raise(err::kInvalidCall);
    entry = EnvironmentEntry(index);
  }
  fr[0] = Value::Str(entry ? Utf8ToCp1252(*entry) : std::string());
}

FN(Erl) {
  UNUSED;
  fr[0] = Value::Lng(static_cast<int32_t>(t.errErl));
}

// The wall clock as a local date serial, to the millisecond.
double WallClock() {
  auto now = std::chrono::system_clock::now();
  std::time_t secs = std::chrono::system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&secs, &local);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return SerialFromDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         SerialFromTime(local.tm_hour, local.tm_min, local.tm_sec + static_cast<double>(ms) / 1000.0);
}

double ClockNow(Thread& t) {
  const auto& clock = t.engine().clock;
  double now = clock ? clock() : WallClock();
  if (!InDateRange(now) || now < 0) Raise(err::kOverflow);
  return now;
}

FN(Timer) {
  UNUSED;
  double now = ClockNow(t);
  // To the millisecond, the clock's resolution, so a serial's rounding does not show.
  fr[0] = Value::Dbl(std::round((now - std::floor(now)) * 86400000.0) / 1000.0);
}

FN(Now) { UNUSED; fr[0] = Value::DateValue(ClockNow(t)); }
FN(DateFn) { UNUSED; fr[0] = Value::DateValue(std::floor(ClockNow(t))); }
FN(TimeFn) {
  UNUSED;
  double now = ClockNow(t);
  fr[0] = Value::DateValue(now - std::floor(now));
}

bool AnyNull(Value* fr, int n) {
  for (int i = 1; i <= n; ++i)
    if (IsNull(Arg(fr, i))) return true;
  return false;
}

Value CheckedDate(double serial, int error) {
  if (!InDateRange(serial)) Raise(error);
  return Value::DateValue(serial);
}

// Years 0-29 are 2000-2029 and 30-99 are 1930-1999, as VBA reads them.
FN(DateSerial) {
  UNUSED;
  if (AnyNull(fr, n)) return void(fr[0] = Value::NullValue());
  int32_t y = ToInteger(Arg(fr, 1));
  if (y >= 0 && y < 30) y += 2000;
  else if (y >= 30 && y < 100) y += 1900;
  int32_t m = ToInteger(Arg(fr, 2)), d = ToInteger(Arg(fr, 3));
  fr[0] = CheckedDate(SerialFromDate(y, m, d), err::kInvalidCall);
}

FN(TimeSerial) {
  UNUSED;
  if (AnyNull(fr, n)) return void(fr[0] = Value::NullValue());
  double serial = SerialFromTime(ToInteger(Arg(fr, 1)), ToInteger(Arg(fr, 2)), ToInteger(Arg(fr, 3)));
  fr[0] = CheckedDate(serial, err::kInvalidCall);
}

// The parts of a date; Null gives Null.
template <int CivilTime::*Part>
FN(DatePartOf) {
  UNUSED;
  if (AnyNull(fr, 1)) return void(fr[0] = Value::NullValue());
  fr[0] = Value::Int(CivilFromSerial(ToDate(Arg(fr, 1))).*Part);
}

int FirstDayOfWeek(Value* fr, int n, int i) {
  int32_t first = Has(fr, n, i) ? ToLong(Arg(fr, i)) : 1;
  if (first < 0 || first > 7) Raise(err::kInvalidCall);
  return first == 0 ? 1 : first;
}

FN(Weekday) {
  UNUSED;
  if (AnyNull(fr, 1)) return void(fr[0] = Value::NullValue());
  int wd = CivilFromSerial(ToDate(Arg(fr, 1))).weekday;
  fr[0] = Value::Int((wd - FirstDayOfWeek(fr, n, 2) + 7) % 7 + 1);
}

FN(CDate) { UNUSED; fr[0] = Coerce(Arg(fr, 1), VarType::Date); }

FN(IsDate) {
  UNUSED;
  const Value& v = Arg(fr, 1);
  double serial;
  fr[0] = Value::Bool(v.tag == Tag::Date || (v.tag == Tag::String && ParseDate(StrOf(v), serial)));
}

FN(DateValueFn) {
  UNUSED;
  if (AnyNull(fr, 1)) return void(fr[0] = Value::NullValue());
  fr[0] = Value::DateValue(std::trunc(ToDate(Arg(fr, 1))));
}

FN(TimeValueFn) {
  UNUSED;
  if (AnyNull(fr, 1)) return void(fr[0] = Value::NullValue());
  double d = ToDate(Arg(fr, 1));
  fr[0] = Value::DateValue(std::fabs(d - std::trunc(d)));
}

// A serial as days counted forward from day 0 (a negative serial's fraction
// is still the time after midnight), and back.
double Linear(double serial) {
  double day = std::trunc(serial);
  return day + std::fabs(serial - day);
}
double FromLinear(double linear) {
  double day = std::floor(linear);
  return day >= 0 ? linear : day - (linear - day);
}

enum class Interval { Year, Quarter, Month, Day, Weekday, Week, Hour, Minute, Second };

Interval ParseInterval(const Value& v) {
  std::string k = ToLower1252(ToStr(v));
  if (k == "yyyy") return Interval::Year;
  if (k == "q") return Interval::Quarter;
  if (k == "m") return Interval::Month;
  if (k == "d" || k == "y") return Interval::Day;
  if (k == "w") return Interval::Weekday;
  if (k == "ww") return Interval::Week;
  if (k == "h") return Interval::Hour;
  if (k == "n") return Interval::Minute;
  if (k == "s") return Interval::Second;
  Raise(err::kInvalidCall);
}

// Whole months added keep the day, or the month's last day when it is shorter.
FN(DateAdd) {
  UNUSED;
  if (AnyNull(fr, n)) return void(fr[0] = Value::NullValue());
  Interval iv = ParseInterval(Arg(fr, 1));
  double count = std::trunc(ToDouble(Arg(fr, 2)));
  double date = ToDate(Arg(fr, 3));
  double r;
  if (iv == Interval::Year || iv == Interval::Quarter || iv == Interval::Month) {
    double months = count * (iv == Interval::Year ? 12 : iv == Interval::Quarter ? 3 : 1);
    if (std::fabs(months) > 120000) Raise(err::kInvalidCall);
    CivilTime c = CivilFromSerial(date);
    int m = c.month + static_cast<int>(months);
    double firstOfMonth = SerialFromDate(c.year, m, 1);
    CivilTime target = CivilFromSerial(firstOfMonth);
    int last = static_cast<int>(SerialFromDate(target.year, target.month + 1, 1) - firstOfMonth);
    double day = firstOfMonth + std::min(c.day, last) - 1;
    double time = std::fabs(date - std::trunc(date));
    r = day < 0 ? day - time : day + time;
  } else {
    double step = iv == Interval::Hour ? 1.0 / 24 : iv == Interval::Minute ? 1.0 / 1440
                  : iv == Interval::Second ? 1.0 / 86400 : iv == Interval::Week ? 7 : 1;
    r = FromLinear(Linear(date) + count * step);
  }
  fr[0] = CheckedDate(r, err::kInvalidCall);
}

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Counts the interval's boundaries crossed from the first date to the second.
FN(DateDiff) {
  UNUSED;
  if (IsNull(Arg(fr, 2)) || IsNull(Arg(fr, 3))) return void(fr[0] = Value::NullValue());
  Interval iv = ParseInterval(Arg(fr, 1));
  double a = ToDate(Arg(fr, 2)), b = ToDate(Arg(fr, 3));
  CivilTime ca = CivilFromSerial(a), cb = CivilFromSerial(b);
  int64_t sa = std::llround(Linear(a) * 86400.0), sb = std::llround(Linear(b) * 86400.0);
  int64_t r = 0;
  switch (iv) {
    case Interval::Year: r = cb.year - ca.year; break;
    case Interval::Quarter: r = (cb.year * 4 + (cb.month - 1) / 3) - (ca.year * 4 + (ca.month - 1) / 3); break;
    case Interval::Month: r = (cb.year * 12 + cb.month) - (ca.year * 12 + ca.month); break;
    case Interval::Day: r = FloorDiv(sb, 86400) - FloorDiv(sa, 86400); break;
    case Interval::Weekday: r = (FloorDiv(sb, 86400) - FloorDiv(sa, 86400)) / 7; break;
    case Interval::Week: {
      // Weeks begin on the given first day (1 = Sunday); day 0 was a Saturday,
      // so that day's serials are those equal to it modulo 7.
      int64_t shift = FirstDayOfWeek(fr, n, 4) % 7;
      r = FloorDiv(FloorDiv(sb, 86400) - shift, 7) - FloorDiv(FloorDiv(sa, 86400) - shift, 7);
      break;
    }
    case Interval::Hour: r = FloorDiv(sb, 3600) - FloorDiv(sa, 3600); break;
    case Interval::Minute: r = FloorDiv(sb, 60) - FloorDiv(sa, 60); break;
    case Interval::Second: r = sb - sa; break;
  }
  if (r < INT32_MIN || r > INT32_MAX) Raise(err::kOverflow);
  fr[0] = Value::Lng(static_cast<int32_t>(r));
}

// Date$ and Time$: today as "mm-dd-yyyy" and the time as "hh:mm:ss".
FN(DateStr) {
  UNUSED;
  CivilTime c = CivilFromSerial(std::floor(ClockNow(t)));
  char text[16];
  std::snprintf(text, sizeof text, "%02d-%02d-%04d", c.month, c.day, c.year);
  fr[0] = Value::Str(text);
}

FN(TimeStr) {
  UNUSED;
  double now = ClockNow(t);
  CivilTime c = CivilFromSerial(now - std::floor(now));
  char text[16];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d", c.hour, c.minute, c.second);
  fr[0] = Value::Str(text);
}

// The first day of week 1 of `year` for weeks starting on `first` (1 =
// Sunday): the week of 1 January (rule 1), the first with four days of the
// year (2) or the first whole one (3).
double FirstWeekStart(int year, int first, int rule) {
  double jan1 = SerialFromDate(year, 1, 1);
  int weekday = CivilFromSerial(jan1).weekday;
  int into = (weekday - first + 7) % 7;  // days of the old year in that week
  double start = jan1 - into;
  if ((rule == 2 && into > 3) || (rule == 3 && into > 0)) start += 7;
  return start;
}

// The week of the year a day falls in. Days before week 1 belong to the last
// week of the year before; under rule 2 the last days of December may be
// week 1 of the next year (weeks never straddle two numbers).
int WeekOfYear(double day, int first, int rule) {
  int year = CivilFromSerial(day).year;
  double start = FirstWeekStart(year, first, rule);
  if (day < start) start = FirstWeekStart(year - 1, first, rule);
  else if (rule != 1 && day >= FirstWeekStart(year + 1, first, rule)) return 1;
  return static_cast<int>(std::floor((day - start) / 7)) + 1;
}

FN(DatePart) {
  UNUSED;
  if (IsNull(Arg(fr, 2))) return void(fr[0] = Value::NullValue());
  std::string k = ToLower1252(ToStr(Arg(fr, 1)));
  double date = ToDate(Arg(fr, 2));
  int first = FirstDayOfWeek(fr, n, 3);
  int32_t rule = Has(fr, n, 4) ? ToLong(Arg(fr, 4)) : 1;
  if (rule < 0 || rule > 3) Raise(err::kInvalidCall);
  if (rule == 0) rule = 1;  // the system's setting, which for US dates is 1 January's week
  CivilTime c = CivilFromSerial(date);
  double day = std::floor(Linear(date));
  int r = 0;
  if (k == "y") {
    r = static_cast<int>(day - SerialFromDate(c.year, 1, 1)) + 1;
  } else {
    switch (ParseInterval(Arg(fr, 1))) {
      case Interval::Year: r = c.year; break;
      case Interval::Quarter: r = (c.month - 1) / 3 + 1; break;
      case Interval::Month: r = c.month; break;
      case Interval::Day: r = c.day; break;
      case Interval::Weekday: r = (c.weekday - first + 7) % 7 + 1; break;
      case Interval::Week: r = WeekOfYear(day, first, rule); break;
      case Interval::Hour: r = c.hour; break;
      case Interval::Minute: r = c.minute; break;
      case Interval::Second: r = c.second; break;
    }
  }
  fr[0] = Value::Int(r);
}

// FormatDateTime(date, vbGeneralDate | vbLongDate | vbShortDate | vbLongTime | vbShortTime).
FN(FormatDateTime) {
  UNUSED;
  static const char* const kNamed[] = {"General Date", "Long Date", "Short Date", "Long Time", "Short Time"};
  if (IsNull(Arg(fr, 1))) Raise(err::kInvalidUseOfNull);
  double date = ToDate(Arg(fr, 1));
  int32_t form = Has(fr, n, 2) ? ToLong(Arg(fr, 2)) : 0;
  if (form < 0 || form > 4) Raise(err::kInvalidCall);
  fr[0] = Value::Str(FormatValue(Value::DateValue(date), kNamed[form]));
}

FN(MonthNameFn) {
  UNUSED;
  int32_t m = ToLong(Arg(fr, 1));
  if (m < 1 || m > 12) Raise(err::kInvalidCall);
  fr[0] = Value::Str(MonthName(m, Has(fr, n, 2) && ToBool(Arg(fr, 2))));
}

FN(WeekdayNameFn) {
  UNUSED;
  int32_t d = ToLong(Arg(fr, 1));
  if (d < 1 || d > 7) Raise(err::kInvalidCall);
  int first = FirstDayOfWeek(fr, n, 3);
  fr[0] = Value::Str(WeekdayName((d - 1 + first - 1) % 7 + 1, Has(fr, n, 2) && ToBool(Arg(fr, 2))));
}

FN(IsNumeric) {
  UNUSED;
  const Value& v = Arg(fr, 1);
  bool r = IsNumericTag(v.tag) || v.tag == Tag::Empty;
  if (v.tag == Tag::String) {
    double d;
    r = ParseNumber(StrOf(v), d);
  }
  fr[0] = Value::Bool(r);
}
FN(IsEmpty) { UNUSED; fr[0] = Value::Bool(Arg(fr, 1).tag == Tag::Empty); }
FN(IsObject) { UNUSED; fr[0] = Value::Bool(Arg(fr, 1).tag == Tag::Object); }
FN(IsNullFn) { UNUSED; fr[0] = Value::Bool(Arg(fr, 1).tag == Tag::Null); }
FN(IsArray) { UNUSED; fr[0] = Value::Bool(Arg(fr, 1).tag == Tag::Array); }
FN(IsMissing) { UNUSED; fr[0] = Value::Bool(Arg(fr, 1).tag == Tag::Missing); }
FN(TypeName) { UNUSED; fr[0] = Value::Str(TypeNameOf(Arg(fr, 1))); }
FN(VarTypeFn) { UNUSED; fr[0] = Value::Int(static_cast<int32_t>(TypeOfValue(Arg(fr, 1)))); }

FN(MsgBox) {
  std::string prompt = ArgStr(fr, 1);
  int buttons = Has(fr, n, 2) ? ArgLong(fr, 2) : 0;
  std::string title = Has(fr, n, 3) ? ArgStr(fr, 3) : std::string();
  int answer = 1;  // vbOK when no host shows boxes
  if (t.engine().msgBox) {
    Thread::Unlock unlock(t);
    answer = t.engine().msgBox(prompt, buttons, title);
  }
  fr[0] = Value::Int(answer);
}

FN(InputBox) {
  std::string prompt = ArgStr(fr, 1);
  std::string title = Has(fr, n, 2) ? ArgStr(fr, 2) : std::string();
  std::string def = Has(fr, n, 3) ? ArgStr(fr, 3) : std::string();
  std::string answer = def;
  if (t.engine().inputBox) {
    Thread::Unlock unlock(t);
    answer = t.engine().inputBox(prompt, title, def);
  }
  fr[0] = Value::Str(std::move(answer));
}

void Bound(Value* fr, int n, bool upper) {
  const Value& a = Arg(fr, 1);
  if (a.tag != Tag::Array) Raise(err::kTypeMismatch);
  int32_t dim = Has(fr, n, 2) ? ArgLong(fr, 2) : 1;
  const auto& dims = ArrOf(a)->dims;
  if (dim < 1 || static_cast<size_t>(dim) > dims.size()) Raise(err::kSubscript);
  const auto& d = dims[dim - 1];
  fr[0] = Value::Lng(upper ? d.lower + d.count - 1 : d.lower);
}
FN(LBound) { UNUSED; Bound(fr, n, false); }
FN(UBound) { UNUSED; Bound(fr, n, true); }

FN(ArrayFn) {
  int lower = t.script().program().optionBase;
  Value a = NewArray(VarType::Variant, nullptr, {{lower, n}});
  for (int i = 0; i < n; ++i) ArrOf(a)->data[i] = CopyForAssign(Arg(fr, i + 1));
  fr[0] = std::move(a);
}

FN(IIf) {
  UNUSED;
  const Value& c = Arg(fr, 1);
  bool r = c.tag == Tag::Null ? false : ToBool(c);
  Value v = CopyForAssign(Arg(fr, r ? 2 : 3));
  fr[0] = std::move(v);
}

FN(DoEvents) {
  UNUSED;
  t.Yield();
  fr[0] = Value::Int(0);
}

FN(ErrNumber) { UNUSED; fr[0] = Value::Lng(t.errNumber); }
FN(ErrDescription) { UNUSED; fr[0] = Value::Str(t.errDescription); }
FN(ErrSource) { UNUSED; fr[0] = Value::Str(t.errSource); }
FN(ErrClear) {
  UNUSED;
  t.ClearError();
  fr[0].Clear();
}
FN(ErrRaise) {
  int32_t number = ArgLong(fr, 1);
  // Positive numbers and vbObjectError + n are both valid; 0 is not an error.
  if (number == 0) Raise(err::kInvalidCall);
  std::string source = Has(fr, n, 2) ? ArgStr(fr, 2) : std::string();
  std::string desc = Has(fr, n, 3) ? ArgStr(fr, 3) : ErrorText(number);
  t.errSource = source;
  throw ScriptError{number, desc};
}

FN(DebugPrint) {
  UNUSED;
  std::string text = ArgStr(fr, 1);
  if (t.engine().debugPrint) t.engine().debugPrint(t, text);
  fr[0].Clear();
}

#undef FN
#undef UNUSED

constexpr int16_t kMany = 255;

const LibFunc kLib[] = {
    {"abs", 1, 1, VarType::Variant, Abs},
    {"array", 0, kMany, VarType::Variant, ArrayFn},
    {"asc", 1, 1, VarType::Integer, Asc},
    {"atn", 1, 1, VarType::Double, Atn},
    {"cbool", 1, 1, VarType::Boolean, CBool},
    {"cbyte", 1, 1, VarType::Byte, CByte},
    {"cdbl", 1, 1, VarType::Double, CDbl},
    {"chr", 1, 1, VarType::String, Chr},
    {"cint", 1, 1, VarType::Integer, CInt},
    {"clng", 1, 1, VarType::Long, CLng},
    {"cos", 1, 1, VarType::Double, Cos},
    {"csng", 1, 1, VarType::Single, CSng},
    {"cstr", 1, 1, VarType::String, CStr},
    {"cvar", 1, 1, VarType::Variant, CVar},
    {"doevents", 0, 0, VarType::Integer, DoEvents},
    {"exp", 1, 1, VarType::Double, Exp},
    {"fix", 1, 1, VarType::Variant, Fix},
    {"format", 1, 2, VarType::String, Format},
    {"hex", 1, 1, VarType::Variant, Hex},
    {"iif", 3, 3, VarType::Variant, IIf},
    {"inputbox", 1, 3, VarType::String, InputBox},
    {"instr", 2, 4, VarType::Variant, InStr},
    {"instrrev", 2, 4, VarType::Long, InStrRev},
    {"int", 1, 1, VarType::Variant, Int},
    {"isarray", 1, 1, VarType::Boolean, IsArray},
    {"isempty", 1, 1, VarType::Boolean, IsEmpty},
    {"ismissing", 1, 1, VarType::Boolean, IsMissing},
    {"isnull", 1, 1, VarType::Boolean, IsNullFn},
    {"isnumeric", 1, 1, VarType::Boolean, IsNumeric},
    {"isobject", 1, 1, VarType::Boolean, IsObject},
    {"join", 1, 2, VarType::String, Join},
    {"lbound", 1, 2, VarType::Long, LBound},
    {"lcase", 1, 1, VarType::Variant, LCase},
    {"left", 2, 2, VarType::Variant, Left},
    {"len", 1, 1, VarType::Variant, Len},
    {"log", 1, 1, VarType::Double, Log},
    {"ltrim", 1, 1, VarType::String, LTrim},
    {"mid", 2, 3, VarType::Variant, Mid},
    {"msgbox", 1, 3, VarType::Integer, MsgBox},
    {"now", 0, 0, VarType::Variant, Now},
    {"oct", 1, 1, VarType::Variant, Oct},
    {"randomize", 0, 1, VarType::Variant, Randomize},
    {"replace", 3, 6, VarType::String, Replace},
    {"right", 2, 2, VarType::Variant, Right},
    {"rnd", 0, 1, VarType::Single, Rnd},
    {"round", 1, 2, VarType::Variant, Round},
    {"rtrim", 1, 1, VarType::String, RTrim},
    {"sgn", 1, 1, VarType::Integer, Sgn},
    {"sin", 1, 1, VarType::Double, Sin},
    {"space", 1, 1, VarType::String, Space},
    {"split", 1, 4, VarType::Variant, Split},
    {"sqr", 1, 1, VarType::Double, Sqr},
    {"str", 1, 1, VarType::Variant, Str},
    {"strcomp", 2, 3, VarType::Variant, StrComp},
    {"string", 2, 2, VarType::String, StringFn},
    {"strreverse", 1, 1, VarType::String, StrReverse},
    {"tan", 1, 1, VarType::Double, Tan},
    {"timer", 0, 0, VarType::Double, Timer},
    {"trim", 1, 1, VarType::String, Trim},
    {"typename", 1, 1, VarType::String, TypeName},
    {"ubound", 1, 2, VarType::Long, UBound},
    {"ucase", 1, 1, VarType::Variant, UCase},
    {"val", 1, 1, VarType::Double, Val},
    {"vartype", 1, 1, VarType::Integer, VarTypeFn},
    // Internal entry points of statements; "$" keeps them out of scripts' reach.
    {"$debugprint", 1, 1, VarType::Variant, DebugPrint},
    {"$errclear", 0, 0, VarType::Variant, ErrClear},
    {"$errdescription", 0, 0, VarType::String, ErrDescription},
    {"$errnumber", 0, 0, VarType::Long, ErrNumber},
    {"$errraise", 1, 3, VarType::Variant, ErrRaise},
    {"$errsource", 0, 0, VarType::String, ErrSource},
    {"$midset", 4, 4, VarType::Variant, MidSet},
    // Appended: code files store these numbers, so no entry moves.
    {"environ", 1, 1, VarType::String, Environ},
    {"erl", 0, 0, VarType::Long, Erl},
    {"date", 0, 0, VarType::Variant, DateFn},
    {"time", 0, 0, VarType::Variant, TimeFn},
    {"dateserial", 3, 3, VarType::Variant, DateSerial},
    {"timeserial", 3, 3, VarType::Variant, TimeSerial},
    {"year", 1, 1, VarType::Variant, DatePartOf<&CivilTime::year>},
    {"month", 1, 1, VarType::Variant, DatePartOf<&CivilTime::month>},
    {"day", 1, 1, VarType::Variant, DatePartOf<&CivilTime::day>},
    {"hour", 1, 1, VarType::Variant, DatePartOf<&CivilTime::hour>},
    {"minute", 1, 1, VarType::Variant, DatePartOf<&CivilTime::minute>},
    {"second", 1, 1, VarType::Variant, DatePartOf<&CivilTime::second>},
    {"weekday", 1, 2, VarType::Variant, Weekday},
    {"cdate", 1, 1, VarType::Variant, CDate},
    {"isdate", 1, 1, VarType::Boolean, IsDate},
    {"datevalue", 1, 1, VarType::Variant, DateValueFn},
    {"timevalue", 1, 1, VarType::Variant, TimeValueFn},
    {"dateadd", 3, 3, VarType::Variant, DateAdd},
    {"datediff", 3, 5, VarType::Variant, DateDiff},
    {"monthname", 1, 2, VarType::String, MonthNameFn},
    {"weekdayname", 1, 3, VarType::String, WeekdayNameFn},
    {"date$", 0, 0, VarType::String, DateStr},
    {"time$", 0, 0, VarType::String, TimeStr},
    {"datepart", 2, 4, VarType::Variant, DatePart},
    {"formatdatetime", 1, 2, VarType::String, FormatDateTime},
};

}  // namespace

int FindLibFunc(std::string_view name) {
  for (size_t i = 0; i < std::size(kLib); ++i)
    if (EqualsNoCase(kLib[i].name, name)) return static_cast<int>(i);
  return -1;
}

const LibFunc& GetLibFunc(int id) { return kLib[id]; }
int LibFuncCount() { return static_cast<int>(std::size(kLib)); }

int CompareStrings(std::string_view a, std::string_view b, bool text) {
  if (text) {
    int c = CompareNoCase(a, b);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

namespace {
bool LikeAt(std::string_view s, size_t si, std::string_view p, size_t pi, bool text, int depth) {
  if (depth > 10000) Raise(err::kOutOfStack);
  while (pi < p.size()) {
    char pc = p[pi];
    if (pc == '*') {
      while (pi < p.size() && p[pi] == '*') ++pi;
      if (pi == p.size()) return true;
      for (size_t k = si; k <= s.size(); ++k)
        if (LikeAt(s, k, p, pi, text, depth + 1)) return true;
      return false;
    }
    if (si >= s.size()) return false;
    char sc = s[si];
    if (pc == '?') {
      ++si, ++pi;
      continue;
    }
    if (pc == '#') {
      if (sc < '0' || sc > '9') return false;
      ++si, ++pi;
      continue;
    }
    if (pc == '[') {
      size_t close = p.find(']', pi + 1);
      if (close == std::string_view::npos) Raise(93, "Invalid pattern string");
      std::string_view set = p.substr(pi + 1, close - pi - 1);
      bool negate = !set.empty() && set[0] == '!';
      if (negate) set.remove_prefix(1);
      bool hit = false;
      char c = text ? ToUpper1252(sc) : sc;
      for (size_t k = 0; k < set.size(); ++k) {
        char lo = text ? ToUpper1252(set[k]) : set[k];
        char hi = lo;
        if (k + 2 < set.size() && set[k + 1] == '-') {
          hi = text ? ToUpper1252(set[k + 2]) : set[k + 2];
          k += 2;
        }
        if (static_cast<uint8_t>(c) >= static_cast<uint8_t>(lo) && static_cast<uint8_t>(c) <= static_cast<uint8_t>(hi)) hit = true;
      }
      if (hit == negate) return false;
      ++si;
      pi = close + 1;
      continue;
    }
    bool eq = text ? ToUpper1252(sc) == ToUpper1252(pc) : sc == pc;
    if (!eq) return false;
    ++si, ++pi;
  }
  return si == s.size();
}
}  // namespace

bool LikeMatch(std::string_view text, std::string_view pattern, bool textCompare) {
  return LikeAt(text, 0, pattern, 0, textCompare, 0);
}

}  // namespace kv::orlan
