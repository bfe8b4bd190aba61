// Splits Orlan BASIC source (Windows-1252 bytes) into tokens with their line
// numbers. Line continuations are joined and comments dropped here, so the
// compiler sees one statement stream with explicit line ends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::orlan {

enum class Tok : uint8_t {
  End,      // end of the source
  Newline,  // end of a line (statement separator)
  Colon,    // ':' separator
  Ident,
  Integer,  // numeric literal held in `number`; `suffix` gives the type
  Float,
  String,
  Op,  // operator or punctuation in `text`
  Date,  // date literal: its serial in `number`
};

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifier (as written), string contents, operator
  double number = 0;
  char suffix = 0;  // %, &, !, #, @ or $ after a literal or identifier
  bool spaceBefore = false;
  uint32_t line = 1;
};

struct LexError {
  uint32_t line;
  std::string message;
};

// Throws LexError on an unterminated string or a stray character.
std::vector<Token> Tokenize(std::string_view source);

}  // namespace kv::orlan
