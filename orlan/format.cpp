// VBA's Format for numbers, strings and dates: the named numeric formats and
// the custom patterns built from 0 # . , % E+ and literals, with up to three
// sections (positive; negative; zero); the named date formats and patterns of
// d m y h n s q w and AM/PM.
#include <algorithm>
#include <cctype>
#include <iterator>
#include <cmath>
#include <cstdio>
#include <vector>

#include "orlan/dates.h"
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
    if (static_cast<int>(e.size()) < expDigits) e.insert(0, size_t(expDigits) - e.size(), '0');
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
    if (static_cast<int>(ip.size()) < intZeros) ip.insert(0, size_t(intZeros) - ip.size(), '0');
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

struct DateToken {
  char letter = 0;  // d m y h n s q w c t a (AM/PM), or 0 for literal text
  int count = 0;
  std::string text;  // the literal, or the AM/PM marker as written
};

bool StartsNoCase(std::string_view s, size_t at, std::string_view word) {
  if (s.size() - at < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[at + i])) != word[i]) return false;
  return true;
}

std::vector<DateToken> DateTokens(std::string_view f) {
  std::vector<DateToken> out;
  auto literal = [&](std::string_view t) {
    if (out.empty() || out.back().letter) out.push_back(DateToken{});
    out.back().text += t;
  };
  for (size_t i = 0; i < f.size();) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(f[i])));
    if (f[i] == '"') {
      size_t end = f.find('"', i + 1);
      if (end == std::string_view::npos) end = f.size();
      literal(f.substr(i + 1, end - i - 1));
      i = end + 1;
    } else if (f[i] == '\\' && i + 1 < f.size()) {
      literal(f.substr(i + 1, 1));
      i += 2;
    } else if (StartsNoCase(f, i, "am/pm") || StartsNoCase(f, i, "a/p") || StartsNoCase(f, i, "ampm")) {
      size_t len = StartsNoCase(f, i, "am/pm") ? 5 : StartsNoCase(f, i, "ampm") ? 4 : 3;
      out.push_back(DateToken{'a', 0, std::string(f.substr(i, len))});
      i += len;
    } else if (std::string_view("dmyhnsqwct").find(c) != std::string_view::npos) {
      size_t j = i;
      while (j < f.size() && std::tolower(static_cast<unsigned char>(f[j])) == c) ++j;
      out.push_back(DateToken{c, static_cast<int>(j - i), {}});
      i = j;
    } else {
      literal(f.substr(i, 1));
      ++i;
    }
  }
  // m right after an hour or right before a second is minutes.
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i].letter != 'm' || out[i].count > 2) continue;
    size_t p = i, q = i + 1;
    while (p > 0 && !out[p - 1].letter) --p;
    while (q < out.size() && !out[q].letter) ++q;
    if ((p > 0 && out[p - 1].letter == 'h') || (q < out.size() && out[q].letter == 's')) out[i].letter = 'n';
  }
  return out;
}

bool HasDateTokens(std::string_view f) {
  for (const DateToken& t : DateTokens(f))
    if (t.letter) return true;
  return false;
}

std::string Two(int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  return buf;
}

std::string FormatDate(double serial, std::string_view f) {
  CivilTime c = CivilFromSerial(serial);
  std::vector<DateToken> tokens = DateTokens(f);
  bool twelve = false;
  for (const DateToken& t : tokens) twelve = twelve || t.letter == 'a';
  double dayOfYear = std::trunc(serial) - SerialFromDate(c.year, 1, 1) + 1;
  std::string out;
  for (const DateToken& t : tokens) {
    int hour = twelve ? (c.hour % 12 == 0 ? 12 : c.hour % 12) : c.hour;
    switch (t.letter) {
      case 0: out += t.text; break;
      case 'd':
        if (t.count == 1) out += std::to_string(c.day);
        else if (t.count == 2) out += Two(c.day);
        else if (t.count == 3) out += WeekdayName(c.weekday, true);
        else if (t.count == 4) out += WeekdayName(c.weekday, false);
        else if (t.count == 5) out += FormatDate(std::trunc(serial), "m/d/yyyy");
        else out += FormatDate(std::trunc(serial), "dddd, mmmm d, yyyy");
        break;
      case 'm':
        if (t.count == 1) out += std::to_string(c.month);
        else if (t.count == 2) out += Two(c.month);
        else out += MonthName(c.month, t.count == 3);
        break;
      case 'y':
        if (t.count == 1) out += std::to_string(static_cast<int>(dayOfYear));
        else if (t.count <= 3) out += Two(c.year % 100);
        else out += std::to_string(c.year);
        break;
      case 'q': out += std::to_string((c.month - 1) / 3 + 1); break;
      case 'w':
        if (t.count == 1) out += std::to_string(c.weekday);
        else out += std::to_string((static_cast<int>(dayOfYear) - c.weekday + 13) / 7);
        break;
      case 'h': out += t.count == 1 ? std::to_string(hour) : Two(hour); break;
      case 'n': out += t.count == 1 ? std::to_string(c.minute) : Two(c.minute); break;
      case 's': out += t.count == 1 ? std::to_string(c.second) : Two(c.second); break;
      case 'c': out += DateText(serial); break;
      case 't': out += FormatDate(serial, "h:mm:ss AM/PM"); break;
      case 'a': {
        bool pm = c.hour >= 12;
        bool upper = std::isupper(static_cast<unsigned char>(t.text[0]));
        if (t.text.size() == 3) out += pm ? (upper ? "P" : "p") : (upper ? "A" : "a");
        else out += pm ? (upper ? "PM" : "pm") : (upper ? "AM" : "am");
        break;
      }
      default: break;
    }
  }
  return out;
}

// The named date formats, or nullptr.
const char* NamedDateFormat(std::string_view k) {
  if (k == "long date") return "dddd, mmmm d, yyyy";
  if (k == "medium date") return "dd-mmm-yy";
  if (k == "short date") return "m/d/yyyy";
  if (k == "long time") return "h:mm:ss AM/PM";
  if (k == "medium time") return "hh:mm AM/PM";
  if (k == "short time") return "hh:mm";
  return nullptr;
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
  // Dates, and numbers or date strings under a date pattern, format as dates.
  static const char* const kNamedNumeric[] = {"general number", "currency", "fixed",      "standard", "percent",
                                              "scientific",     "yes/no",   "true/false", "on/off"};
  bool namedNumeric = std::find(std::begin(kNamedNumeric), std::end(kNamedNumeric), k) != std::end(kNamedNumeric);
  bool datePattern = k == "general date" || NamedDateFormat(k) || (!namedNumeric && HasDateTokens(f));
  double serial = 0;
  if (datePattern && f.find_first_of("0#@&") == std::string::npos &&
      (v.tag == Tag::Date || (numeric && InDateRange(d)) || (v.tag == Tag::String && ParseDate(StrOf(v), serial)))) {
    if (v.tag == Tag::Date || numeric) serial = v.tag == Tag::Date ? v.d : d;
    if (k == "general date") return DateText(serial);
    if (const char* named = NamedDateFormat(k)) return FormatDate(serial, named);
    return FormatDate(serial, f);
  }
  if (v.tag == Tag::Date) {
    numeric = true;
    d = v.d;
  }
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
