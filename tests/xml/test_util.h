// Helpers shared by the XML tests: parsing a string as the player parses a
// file, and reading the error a parse raised.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "xml/parser.h"

namespace kv::AdvXMLParser::test {

// Parses the bytes followed by a NUL and a CR, as the player's callers do.
std::unique_ptr<Document> ParseText(std::string_view text, int mode = kKeepWhitespace);

struct ParseError {
  int code;
  int line;
  int column;
};
// The error parsing `text` raises, or nothing when it parses.
std::optional<ParseError> ErrorOf(std::string_view text);

}  // namespace kv::AdvXMLParser::test
