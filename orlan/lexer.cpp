#include "orlan/lexer.h"

#include <cstdlib>

#include "orlan/dates.h"
#include "platform/text.h"

namespace kv::orlan {
namespace {

bool IsIdentStart(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0xC0; }
bool IsIdentChar(unsigned char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

}  // namespace

std::vector<Token> Tokenize(std::string_view src) {
  std::vector<Token> out;
  uint32_t line = 1;
  size_t i = 0, n = src.size();
  bool space = false;
  auto push = [&](Tok k, std::string text = {}) {
    Token t;
    t.kind = k;
    t.text = std::move(text);
    t.line = line;
    t.spaceBefore = space;
    space = false;
    out.push_back(std::move(t));
  };
  auto atLineStart = [&] { return out.empty() || out.back().kind == Tok::Newline; };
  while (i < n) {
    char c = src[i];
    if (IsSpace(c)) {
      ++i;
      space = true;
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < n && src[i + 1] == '\n') ++i;
      ++i;
      if (!atLineStart()) push(Tok::Newline);
      ++line;
      continue;
    }
    // " _" at the end of a line continues the statement on the next one.
    if (c == '_' && (i + 1 >= n || IsSpace(src[i + 1]) || src[i + 1] == '\r' || src[i + 1] == '\n') && space) {
      size_t j = i + 1;
      while (j < n && IsSpace(src[j])) ++j;
      if (j >= n || src[j] == '\r' || src[j] == '\n') {
        if (j < n && src[j] == '\r' && j + 1 < n && src[j + 1] == '\n') ++j;
        i = j + 1;
        ++line;
        space = true;
        continue;
      }
    }
    if (c == '\'') {
      while (i < n && src[i] != '\r' && src[i] != '\n') ++i;
      continue;
    }
    if (c == '"') {
      std::string s;
      ++i;
      for (;;) {
        if (i >= n || src[i] == '\r' || src[i] == '\n') throw LexError{line, "Unterminated string"};
        if (src[i] == '"') {
          if (i + 1 < n && src[i + 1] == '"') {
            s += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        s += src[i++];
      }
      push(Tok::String, std::move(s));
      continue;
    }
    if ((c >= '0' && c <= '9') || (c == '.' && i + 1 < n && src[i + 1] >= '0' && src[i + 1] <= '9')) {
      size_t start = i;
      bool isFloat = false;
      while (i < n && src[i] >= '0' && src[i] <= '9') ++i;
      if (i < n && src[i] == '.') {
        isFloat = true;
        ++i;
        while (i < n && src[i] >= '0' && src[i] <= '9') ++i;
      }
      if (i < n && (src[i] == 'e' || src[i] == 'E' || src[i] == 'd' || src[i] == 'D')) {
        size_t j = i + 1;
        if (j < n && (src[j] == '+' || src[j] == '-')) ++j;
        if (j < n && src[j] >= '0' && src[j] <= '9') {
          isFloat = true;
          i = j;
          while (i < n && src[i] >= '0' && src[i] <= '9') ++i;
        }
      }
      std::string text(src.substr(start, i - start));
      for (char& ch : text)
        if (ch == 'd' || ch == 'D') ch = 'e';
      push(isFloat ? Tok::Float : Tok::Integer, text);
      out.back().number = std::strtod(text.c_str(), nullptr);
      if (i < n && (src[i] == '%' || src[i] == '&' || src[i] == '!' || src[i] == '#' || src[i] == '@')) {
        // "1 & x" is concatenation; a suffix is glued to the digits.
        if (!(src[i] == '&' && i + 1 < n && (src[i + 1] == 'H' || src[i + 1] == 'h' || src[i + 1] == 'O' || src[i + 1] == 'o'))) {
          out.back().suffix = src[i++];
        }
      }
      continue;
    }
    if (c == '&' && i + 1 < n && (src[i + 1] == 'H' || src[i + 1] == 'h' || src[i + 1] == 'O' || src[i + 1] == 'o')) {
      int base = (src[i + 1] == 'H' || src[i + 1] == 'h') ? 16 : 8;
      size_t j = i + 2;
      uint64_t v = 0;
      size_t digits = 0;
      for (; j < n; ++j) {
        char d = src[j];
        int x = (d >= '0' && d <= '9') ? d - '0' : (d >= 'a' && d <= 'f') ? d - 'a' + 10 : (d >= 'A' && d <= 'F') ? d - 'A' + 10 : 99;
        if (x >= base) break;
        v = v * base + x;
        if (v > 0xFFFFFFFFull) throw LexError{line, "Overflow"};
        ++digits;
      }
      if (digits > 0) {
        i = j;
        char suffix = 0;
        if (i < n && (src[i] == '&' || src[i] == '%')) suffix = src[i++];
        double value;
        // Without a suffix a literal that fits 16 bits is an Integer, as in VBA.
        if (suffix != '&' && v <= 0xFFFF) value = static_cast<int16_t>(v);
        else value = static_cast<int32_t>(static_cast<uint32_t>(v));
        push(Tok::Integer, "");
        out.back().number = value;
        out.back().suffix = (suffix == '&' || v > 0xFFFF) ? '&' : '%';
        continue;
      }
    }
    if (IsIdentStart(static_cast<unsigned char>(c))) {
      size_t start = i;
      while (i < n && IsIdentChar(static_cast<unsigned char>(src[i]))) ++i;
      std::string text(src.substr(start, i - start));
      if (EqualsNoCase(text, "Rem") && (i >= n || !IsIdentChar(static_cast<unsigned char>(src[i])))) {
        while (i < n && src[i] != '\r' && src[i] != '\n') ++i;
        continue;
      }
      push(Tok::Ident, std::move(text));
      if (i < n && (src[i] == '$' || src[i] == '%' || src[i] == '!' || src[i] == '#' || src[i] == '@' || src[i] == '&')) {
        // A type character glued to a name (Left$, count&); "a&b" and "a&\"x\"" stay concatenations,
        // and "obj!name" is a member access.
        unsigned char next = i + 1 < n ? static_cast<unsigned char>(src[i + 1]) : ' ';
        bool glued = true;
        if (src[i] == '&') glued = !IsIdentChar(next) && next != '"' && next != '(';
        if (src[i] == '!' && IsIdentStart(next)) glued = false;
        if (glued) out.back().suffix = src[i++];
      }
      continue;
    }
    // #1/2/2003 10:30# is a date literal: text up to a '#' on the same line
    // that starts with a digit or a month name; anything else stays the '#'
    // operator (file numbers, suffixes).
    if (c == '#') {
      size_t j = i + 1;
      while (j < n && src[j] != '#' && src[j] != '\r' && src[j] != '\n' && src[j] != '"') ++j;
      if (j < n && src[j] == '#' && j > i + 1 && IsIdentChar(static_cast<unsigned char>(src[i + 1]))) {
        std::string_view body = src.substr(i + 1, j - i - 1);
        bool dateLike = body.find_first_of("/-:") != std::string_view::npos || body.find(' ') != std::string_view::npos;
        if (dateLike) {
          double serial;
          if (!ParseDate(body, serial)) throw LexError{line, "Invalid date literal"};
          push(Tok::Date, std::string(body));
          out.back().number = serial;
          i = j + 1;
          continue;
        }
      }
    }
    if (c == ':' && i + 1 < n && src[i + 1] == '=') {
      i += 2;
      push(Tok::Op, ":=");  // a named argument
      continue;
    }
    if (c == ':') {
      ++i;
      push(Tok::Colon, ":");
      continue;
    }
    static const char* kTwo[] = {"<>", "<=", ">=", "=<", "=>"};
    bool two = false;
    if (i + 1 < n) {
      for (const char* op : kTwo) {
        if (src[i] == op[0] && src[i + 1] == op[1]) {
          std::string t = op;
          if (t == "=<") t = "<=";
          if (t == "=>") t = ">=";
          push(Tok::Op, t);
          i += 2;
          two = true;
          break;
        }
      }
    }
    if (two) continue;
    if (std::string_view("+-*/\\^&=<>(),;.!#").find(c) != std::string_view::npos) {
      push(Tok::Op, std::string(1, c));
      ++i;
      continue;
    }
    throw LexError{line, std::string("Invalid character")};
  }
  if (!atLineStart()) push(Tok::Newline);
  push(Tok::End);
  return out;
}

}  // namespace kv::orlan
