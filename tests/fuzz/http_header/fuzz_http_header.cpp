// The response-header reader sees whatever a remote server sends: it must
// never crash, and its answers must agree with each other.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/http.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  kv::HttpStatus status;
  kv::ParseHttpStatusHeader(text, status);
  if (status.contentType.size() > kv::HttpStatus::kMaxContentType) __builtin_trap();
  if (status.length != kv::HttpStatus::Length::kGiven && status.length != kv::HttpStatus::Length::kMalformed &&
      status.contentLength != 0)
    __builtin_trap();

  size_t end = kv::HttpHeaderEnd(text);
  if (end != std::string_view::npos) {
    if (end > size || end == 0 || text[end - 1] != '\n') __builtin_trap();
    // A prefix that stops short of the blank line has no end of its own.
    if (kv::HttpHeaderEnd(text.substr(0, end - 1)) != std::string_view::npos) __builtin_trap();
  }
  size_t length = kv::HttpHeaderLength(text);
  if (length != 0 && length != end) __builtin_trap();
  // What follows the header does not change what the header says.
  if (end != std::string_view::npos) {
    kv::HttpStatus head;
    kv::ParseHttpStatusHeader(text.substr(0, end), head);
    if (head.status != status.status || head.contentLength != status.contentLength ||
        head.contentType != status.contentType || head.length != status.length)
      __builtin_trap();
  }
  return 0;
}
