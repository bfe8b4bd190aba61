// Reads RTF 1.x (the published format: groups, control words, destinations)
// into a RichDocument: fonts with their character sets, the colour table,
// bold, italic, underline, strike, sizes, super- and subscript, paragraphs
// with alignment, indents, spacing and tab stops, tabs and line breaks,
// "\u" escapes with their fallback, code-page text. Pictures and embedded
// objects are skipped and counted. Qt-free.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string_view>

#include "editing/rich_document.h"

namespace kv {

class RtfError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr size_t kMaxRtfBytes = 64u << 20;  // larger files are refused
inline constexpr int kMaxRtfDepth = 1000;         // deeper group nesting is refused

// Raises RtfError for data that does not begin as RTF, is larger than
// kMaxRtfBytes, or nests groups deeper than kMaxRtfDepth. Unbalanced braces
// end the document where the data ends; unknown control words are ignored.
RichDocument ReadRtf(std::string_view data);
// The same, each paragraph added to `into` as it ends (RtfError as above,
// with some paragraphs added; `into` is not finished here).
void ReadRtf(std::string_view data, RichDocumentStream& into);

// Whether `data` begins as an RTF document ("{\rtf").
bool LooksLikeRtf(std::string_view data);

}  // namespace kv
