// VBA's Format for numbers and strings: the named numeric formats and the
// custom patterns built from 0 # . , % E+ and literals, with up to three
// sections (positive; negative; zero). Date formats are not supported.
#include <cmath>
#include <cstdio>
#include <vector>

#include "orlan/runtime.h"
#include "platform/text.h"

namespace kv::orlan {
namespace {

std::vector<std::string> Sections(std::string_view f) {
  std::vector<std::string> out(1);
  bool quoted = false;
  for (size_t i = 0; i < f.size(); ++i) {
    char c = f[i];
    if (c == '"') quoted = !quoted;
    if (c == '\\' && i + 1 < f.size()) {
      out.back() += c;
      out.back() += f[++i];
      continue;
    }
    if (c == ';' && !quoted) {
      out.emplace_back();
      continue;
    }
    out.back() += c;
  }
  return out;
}

// Rounds half away from zero, as Format does (unlike CInt).
std::string Fixed(double v, int decimals) {
  double scale = std::pow(10.0, decimals);
  double r = std::floor(std::fabs(v) * scale + 0.5 + 1e-9) / scale;
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, r);
  return buf;
}

std::string Group(const std::string& digits) {
  std::string out;
  int n = static_cast<int>(digits.size());
  for (int i = 0; i < n; ++i) {
    out += digits[i];
    int left = n - 1 - i;
    if (left > 0 && left % 3 == 0) out += ',';
  }
  return out;
}

std::string FormatSection(double v, const std::string& fmt, bool addMinus) {
  // Split the pattern into literal prefix, the digit pattern and the suffix.
  std::string prefix, suffix;
  int intZeros = 0, decZeros = 0, decHashes = 0;
  bool seenDigit = false, inDecimals = false, grouping = false, percent = false, hasPoint = false;
  bool sci = false;
  std::string expSign;
  int expDigits = 0;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    std::string lit;
    if (c == '"') {
      size_t end = fmt.find('"', i + 1);
      if (end == std::string::npos) end = fmt.size();
      lit = fmt.substr(i + 1, end - i - 1);
      i = end;
    } else if (c == '\\' && i + 1 < fmt.size()) {
      lit = std::string(1, fmt[++i]);
    } else if (c == '0' || c == '#') {
      if (sci) {
        ++expDigits;
        continue;
      }
      seenDigit = true;
      if (inDecimals) (c == '0' ? decZeros : decHashes)++, decHashes += 0;
      else if (c == '0') ++intZeros;
      if (!suffix.empty()) suffix.clear();
      continue;
    } else if (c == '.') {
      inDecimals = true;
      hasPoint = true;
      seenDigit = true;
      continue;
    } else if (c == ',' && seenDigit && !inDecimals) {
      grouping = true;
      continue;
    } else if ((c == 'E' || c == 'e') && i + 1 < fmt.size() && (fmt[i + 1] == '+' || fmt[i + 1] == '-') && seenDigit) {
      sci = true;
      expSign = std::string(1, c) + fmt[i + 1];
      ++i;
      continue;
    } else {
      if (c == '%') percent = true;
      lit = std::string(1, c);
    }
    (seenDigit ? suffix : prefix) += lit;
  }
  if (decZeros && decHashes) {
    // "0.0#": zeros come first; count all places.
  }
  int decMax = decZeros + decHashes;
  double x = std::fabs(v);
  if (percent) x *= 100;
  std::string body;
  if (!seenDigit) {
    body = "";
  } else if (sci) {
    int exp = 0;
    if (x != 0) {
      exp = static_cast<int>(std::floor(std::log10(x)));
      int shift = intZeros > 0 ? intZeros - 1 : 0;
      exp -= shift;
      x /= std::pow(10.0, exp);
      std::string m = Fixed(x, decMax);
      if (std::stod(m) >= std::pow(10.0, shift + 1)) {
        ++exp;
        x /= 10;
      }
    }
    std::string m = Fixed(x, decMax);
    std::string e = std::to_string(std::abs(exp));
    while (static_cast<int>(e.size()) < expDigits) e = "0" + e;
    std::string sign = exp < 0 ? "-" : (expSign[1] == '+' ? "+" : "");
    body = m + std::string(1, expSign[0]) + sign + e;
  } else {
    std::string s = Fixed(x, decMax);
    size_t dot = s.find('.');
    std::string ip = dot == std::string::npos ? s : s.substr(0, dot);
    std::string fp = dot == std::string::npos ? "" : s.substr(dot + 1);
    while (static_cast<int>(fp.size()) > decZeros && !fp.empty() && fp.back() == '0') fp.pop_back();
    // Leading zeros: the pattern's count of '0' before the point is the minimum.
    while (ip.size() > 1 && ip[0] == '0') ip.erase(0, 1);
    if (ip == "0" && intZeros == 0) ip.clear();
    while (static_cast<int>(ip.size()) < intZeros) ip = "0" + ip;
    if (grouping) ip = Group(ip);
    body = ip;
    if (hasPoint) body += "." + fp;
  }
  bool negative = v < 0 && addMinus;
  // A negative number that rounds to zero keeps its sign only with digits left.
  if (negative) {
    bool allZero = body.find_first_of("123456789") == std::string::npos;
    if (allZero) negative = false;
  }
  return (negative ? "-" : "") + prefix + body + suffix;
}

std::string FormatNumber(double v, std::string_view format) {
  std::vector<std::string> sec = Sections(format);
  if (v < 0 && sec.size() >= 2 && !sec[1].empty()) return FormatSection(v, sec[1], false);
  if (v == 0 && sec.size() >= 3 && !sec[2].empty()) return FormatSection(v, sec[2], false);
  return FormatSection(v, sec[0], true);
}

std::string FormatString(const std::string& s, std::string_view format) {
  std::string out;
  bool upper = false, lower = false;
  size_t ats = 0;
  for (char c : format) {
    if (c == '>') upper = true;
    else if (c == '<') lower = true;
    else if (c == '@' || c == '&') ++ats;
  }
  std::string text = upper ? ToUpper1252(s) : lower ? ToLower1252(s) : s;
  if (ats == 0) return text;
  // Placeholders fill from the right, '@' showing a space when no character is left.
  size_t pos = text.size() > ats ? 0 : 0;
  std::string filled;
  size_t have = text.size();
  size_t taken = 0;
  size_t lead = have > ats ? have - ats : 0;
  filled = text.substr(0, lead);
  for (char c : format) {
    if (c == '>' || c == '<') continue;
    if (c == '@' || c == '&') {
      size_t slotsLeft = ats - taken;
      size_t charsLeft = have - lead - pos;
      if (charsLeft >= slotsLeft) {
        filled += text[lead + pos];
        ++pos;
      } else if (c == '@') {
        filled += ' ';
      }
      ++taken;
    } else {
      filled += c;
    }
  }
  return filled;
}

}  // namespace

std::string FormatValue(const Value& v0, std::string_view format) {
  const Value& v = Deref(v0);
  if (v.tag == Tag::Null || v.tag == Tag::Empty) return v.tag == Tag::Empty && !format.empty() && IsNumericTag(Tag::Integer) ? "" : "";
  std::string f(format);
  std::string k = ToLower1252(f);
  bool numeric = IsNumericTag(v.tag);
  double d = 0;
  if (!numeric && v.tag == Tag::String) numeric = ParseNumber(StrOf(v), d);
  if (numeric && v.tag != Tag::String) d = ToDouble(v);
  if (f.empty()) return ToStr(v);
  if (v.tag == Tag::Boolean || numeric) {
    if (k == "general number") return ToStr(numeric ? Value::Dbl(d) : v);
    if (k == "currency") return FormatNumber(d, "$#,##0.00;($#,##0.00)");
    if (k == "fixed") return FormatNumber(d, "0.00");
    if (k == "standard") return FormatNumber(d, "#,##0.00");
    if (k == "percent") return FormatNumber(d, "0.00%");
    if (k == "scientific") return FormatNumber(d, "0.00E+00");
    if (k == "yes/no") return d != 0 ? "Yes" : "No";
    if (k == "true/false") return d != 0 ? "True" : "False";
    if (k == "on/off") return d != 0 ? "On" : "Off";
    if (f.find_first_of("0#") != std::string::npos) return FormatNumber(d, f);
  }
  return FormatString(ToStr(v), f);
}

}  // namespace kv::orlan
