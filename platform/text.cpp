#include "platform/text.h"

namespace kv {
namespace {

// 0x80..0x9F; 0 marks the bytes the code page leaves undefined.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

char32_t Cp1252ToUnicode(uint8_t byte) {
  if (byte < 0x80 || byte >= 0xA0) return byte;
  char16_t cp = kHigh[byte - 0x80];
  return cp ? cp : byte;
}

uint8_t UnicodeToCp1252(char32_t cp, uint8_t fallback) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<uint8_t>(cp);
  for (int i = 0; i < 32; ++i) {
    char16_t mapped = kHigh[i];
    if (mapped ? mapped == cp : cp == static_cast<char32_t>(0x80 + i)) return static_cast<uint8_t>(0x80 + i);
  }
  return fallback;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  AppendCp1252ToUtf8(out, text);
  return out;
}

void AppendCp1252ToUtf8(std::string& out, std::string_view text) {
  // ASCII, the bulk of most texts, is the same in both: copied in stretches.
  size_t i = 0;
  while (i < text.size()) {
    size_t ascii = i;
    while (ascii < text.size() && static_cast<uint8_t>(text[ascii]) < 0x80) ++ascii;
    out.append(text, i, ascii - i);
    if (ascii == text.size()) break;
    AppendUtf8(out, Cp1252ToUnicode(static_cast<uint8_t>(text[ascii])));
    i = ascii + 1;
  }
}

std::string Utf8ToCp1252(std::string_view text, bool* lossy, uint8_t fallback) {
  std::string out;
  out.reserve(text.size());
  bool lost = false;
  size_t i = 0;
  while (i < text.size()) {
    uint8_t b = static_cast<uint8_t>(text[i]);
    char32_t cp = 0;
    size_t len = 0;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    }
    bool ok = len != 0 && i + len <= text.size();
    for (size_t k = 1; ok && k < len; ++k) {
      uint8_t cont = static_cast<uint8_t>(text[i + k]);
      if ((cont & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (cont & 0x3F);
    }
    // Overlong forms and surrogates are malformed too.
    if (ok && ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
               (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF))
      ok = false;
    if (!ok) {
      out += static_cast<char>(fallback);
      lost = true;
      ++i;
      continue;
    }
    uint8_t mapped = UnicodeToCp1252(cp, 0);
    if (mapped == 0 && cp != 0) {
      mapped = fallback;
      lost = true;
    }
    out += static_cast<char>(mapped);
    i += len;
  }
  if (lossy) *lossy = lost;
  return out;
}

std::string Utf16ToCp1252(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    out += static_cast<char>(UnicodeToCp1252(cp));
  }
  return out;
}

char ToUpper1252(char c) {
  uint8_t b = static_cast<uint8_t>(c);
  if (b >= 'a' && b <= 'z') return static_cast<char>(b - 32);
  if (b >= 0xE0 && b <= 0xFE && b != 0xF7) return static_cast<char>(b - 32);
  switch (b) {
    case 0x9A: return static_cast<char>(0x8A);
    case 0x9C: return static_cast<char>(0x8C);
    case 0x9E: return static_cast<char>(0x8E);
    case 0xFF: return static_cast<char>(0x9F);
    default: return c;
  }
}

char ToLower1252(char c) {
  uint8_t b = static_cast<uint8_t>(c);
  if (b >= 'A' && b <= 'Z') return static_cast<char>(b + 32);
  if (b >= 0xC0 && b <= 0xDE && b != 0xD7) return static_cast<char>(b + 32);
  switch (b) {
    case 0x8A: return static_cast<char>(0x9A);
    case 0x8C: return static_cast<char>(0x9C);
    case 0x8E: return static_cast<char>(0x9E);
    case 0x9F: return static_cast<char>(0xFF);
    default: return c;
  }
}

std::string ToUpper1252(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToUpper1252(c);
  return out;
}

std::string ToLower1252(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ToLower1252(c);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (ToUpper1252(a[i]) != ToUpper1252(b[i])) return false;
  return true;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    uint8_t x = static_cast<uint8_t>(ToUpper1252(a[i]));
    uint8_t y = static_cast<uint8_t>(ToUpper1252(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view TrimLeft(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return text.substr(i);
}

std::string_view TrimRight(std::string_view text) {
  size_t n = text.size();
  while (n > 0 && IsBlank(text[n - 1])) --n;
  return text.substr(0, n);
}

std::string_view Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

}  // namespace kv
