#include "tests/xml/test_util.h"

namespace kv::AdvXMLParser::test {

std::unique_ptr<Document> ParseText(std::string_view text, int mode) {
  std::string buffer(text);
  buffer.append("\0\r\n", 3);
  return Parse(buffer.data(), text.size() + 2, mode);
}

std::optional<ParseError> ErrorOf(std::string_view text) {
  try {
    ParseText(text);
  } catch (const Exception& e) {
    return ParseError{e.Code(), e.Line(), e.Column()};
  }
  return std::nullopt;
}

}  // namespace kv::AdvXMLParser::test
