// Rich text files as the rich text field reads them: the tokenizer, the
// group and destination state, code pages and the plain text of the result.
// The corpus holds copies of tests/editing/rtf and a file of escapes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "editing/rtf_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const kv::RichDocument doc = kv::ReadRtf(text);
    // Every paragraph ends with a newline, so the text is never shorter.
    if (doc.PlainText().size() < doc.paragraphs.size()) __builtin_trap();
  } catch (const kv::RtfError&) {
    // Refused files are an expected outcome.
  }
  kv::PlainTextDocument(text).PlainText();
  return 0;
}
