// The player's HTTP/1.0 GET client: fetches a URL into an output stream with
// progress notifications, and answers whether a remote resource exists and
// how large it is. Called by the resource locator, the Orlan builtins and
// kvtool; runs on the calling thread and blocks it (bounded by time-outs and
// the stop test).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/url.h"

namespace kv {

class NetHooks;

struct HttpStatus {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t status = 0;
  uint32_t contentLength = 0;
  std::string contentType;  // at most kMaxContentType characters
  // Whether a Content-Length line was seen, and whether it was a plain number.
  enum class Length { kAbsent, kGiven, kMalformed } length = Length::kAbsent;

  static constexpr size_t kMaxContentType = 19;
};

// Codes passed to the progress callback, with the value each carries.
enum HttpProgressCode : int {
  kHttpStarting = 1,          // 0
  kHttpProgressOpening = 2,   // 0; only when progress is shown
  kHttpConnecting = 3,        // 0; only when progress is shown
  kHttpConnected = 4,         // 0
  kHttpRequesting = 5,        // request length; only when progress is shown
  kHttpRequestSent = 6,       // request length
  kHttpReceiving = 7,         // 0; before each receive
  kHttpReceived = 8,          // body bytes of the block just received
  kHttpDiskFull = 11,         // 0; a non-zero answer retries the write
  kHttpContentLength = 12,    // the content length
};

using HttpProgressCallback = int (*)(int code, void* data, uint32_t value);

// Error codes HttpGet reports besides the WinSock numbers of socket failures.
inline constexpr int kHttpErrorNotAvailable = 10013;  // status other than 200, or an unusable header
inline constexpr int kHttpErrorCutShort = 10054;      // the peer closed before the response was complete
// A failed write reports its errno value (below 10000).

// Where HttpGet stores the body.
class HttpOutputStream {
 public:
  virtual ~HttpOutputStream() = default;
  // Writes `length` bytes; 0 on success, else an errno value (ENOSPC when the
  // disk is full), with `written` telling how many were stored before it.
  virtual int Write(const char* data, size_t length, size_t& written) = 0;
  // The download failed: what was written must not pass for the resource.
  virtual void Discard() = 0;
};

// A file created (or truncated) by Open and removed by Discard.
class HttpFileOutput : public HttpOutputStream {
 public:
  explicit HttpFileOutput(std::string path) : path_(std::move(path)) {}
  ~HttpFileOutput() override;
  HttpFileOutput(const HttpFileOutput&) = delete;
  HttpFileOutput& operator=(const HttpFileOutput&) = delete;

  int Open();    // 0 or errno
  int Finish();  // closes; 0 or errno
  int Write(const char* data, size_t length, size_t& written) override;
  void Discard() override;

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;  // only a file we created is ours to remove
};

// GET `url` over HTTP/1.0 for the run whose hooks are `net` (its stop test,
// progress window and time-out). With `out` the whole body is stored (and
// discarded on failure); without, only the header is read. `status` is filled
// from the response header; `errorCode` receives the failure's code.
bool HttpGet(const NetHooks& net, const UrlRecord& url, HttpOutputStream* out, HttpStatus& status,
             HttpProgressCallback callback, void* callbackData, uint32_t* byteCounter, bool showProgress,
             int& errorCode);

// The request HttpGet sends.
std::string BuildHttpGetRequest(const UrlRecord& url);

// The offset just past the blank line that ends a response header, or npos.
// Lines end in CRLF or a bare LF.
size_t HttpHeaderEnd(std::string_view data);
// Reads the status, Content-Length and Content-Type lines up to the first
// empty line; tells whether any of them was found.
bool ParseHttpStatusHeader(std::string_view header, HttpStatus& status);
// How much of a response's first bytes is header: up to the blank line when
// it begins with "HTTP/", else 0 (the whole is body).
size_t HttpHeaderLength(std::string_view data);

// Both start the socket services; a name that is not an http URL answers
// false or -1 at once.
bool RemoteResourceExists(const NetHooks& net, const std::string& name);
int32_t RemoteResourceSize(const NetHooks& net, const std::string& name);

}  // namespace kv
