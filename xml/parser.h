// The XML parser: a recursive-descent reader of the small XML subset the
// player's own files use (no DTD, only the five predefined entities, bytes
// passed through untranscoded). Used by the screen-saver list and the
// scriptable XML reader.
#pragma once

#include <cstddef>
#include <exception>
#include <memory>

#include "xml/node.h"

namespace kv::AdvXMLParser {

enum ErrorCode : int {
  kErrEndOfInput = 1,          // inside an attribute value, content, comment or PI
  kErrExpectedEquals = 2,      // keyword or attribute name without '='
  kErrExpectedQuote = 3,       // attribute value missing or not quoted
  kErrLessThanInValue = 4,     // '<' inside an attribute value
  kErrBadReference = 5,        // '&' that starts no reference, or no ';'
  kErrBadHexReference = 6,     // "&#x" without digits, or a value outside 1..255
  kErrBadDecimalReference = 7, // "&#" without digits, or a value outside 1..255
  kErrUnknownEntity = 8,       // not lt, gt, amp, apos or quot
  kErrExpectedName = 9,        // '<' or "</" without a name
  kErrExpectedEmptyEnd = 10,   // '/' in a start tag without '>'
  kErrExpectedTagEnd = 11,     // start or end tag not closed by '>'
  kErrMismatchedEndTag = 12,
  kErrBadMarkup = 13,          // '<' in content that starts nothing known
  kErrCDataEndInContent = 14,  // "]]>" in content
  kErrNoRootElement = 15,
  kErrBadVersion = 16,
  kErrDeclarationNotClosed = 17,
  kErrEncodingNotQuoted = 18,
  kErrBadEncoding = 19,
  kErrStandaloneNotQuoted = 20,
  kErrBadStandalone = 21,
  kErrDoubleHyphenInComment = 22,
  kErrNoPiTarget = 23,
  kErrReservedPiTarget = 24,
  kErrBadCDataByte = 25,
  kErrTooDeep = 26,            // elements nested deeper than kMaxDepth
};

// What an error code means, in a few lower-case words ("mismatched end tag");
// "unknown error" for a number outside the list.
const char* ErrorText(int code);

// Elements nest at most this deep: the parser recurses once per level and
// must not exhaust the stack on hostile input.
inline constexpr int kMaxDepth = 1024;

// The one parse error: a code above and the line (from 1) and column (from
// 1, CR bytes not counted) of the byte at which the parser found the fault.
class Exception : public std::exception {
 public:
  Exception(int code, int line, int column) : code_(code), line_(line), column_(column) {}
  int Code() const { return code_; }
  int Line() const { return line_; }
  int Column() const { return column_; }
  const char* what() const noexcept override { return "AdvXMLParser::Exception"; }

 private:
  int code_;
  int line_;
  int column_;
};

// Parses `length` bytes (a NUL byte, or the end, ends the input) into a new
// document of whitespace mode `mode`. The buffer is not kept. Throws
// Exception at the first error.
std::unique_ptr<Document> Parse(const char* buffer, size_t length, int mode);

}  // namespace kv::AdvXMLParser
