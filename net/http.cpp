#include "net/http.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "net/hooks.h"
#include "net/socket.h"
#include "platform/log.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {
namespace {

constexpr uint32_t kSidConnecting = 6087;
constexpr uint32_t kSidRequesting = 6088;
constexpr uint32_t kSidReceived = 6089;

// A header larger than this is hostile or broken; no real server sends one.
constexpr size_t kMaxHeader = 64 * 1024;
// Large reads keep a fast local transfer from being bound by system calls.
constexpr size_t kReceiveBlock = 64 * 1024;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// Calls `f(line)` for each line of `text` (CRLF or LF endings, stripped);
// stops when `f` answers false. A last line without an ending counts too.
template <typename F>
void ForEachLine(std::string_view text, F f) {
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    size_t end = nl == std::string_view::npos ? text.size() : nl;
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!f(line)) return;
    start = end + 1;
  }
}

// Digits only, within 32 bits: "12abc", "-1" or "99999999999" are no length.
bool ParseLength(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > UINT32_MAX) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

bool ParseStatusLine(std::string_view rest, HttpStatus& status) {
  std::string text(rest);
  unsigned short major = 0, minor = 0, code = 0;
  if (std::sscanf(text.c_str(), "%hu.%hu %hu", &major, &minor, &code) != 3) return false;
  status.major = major;
  status.minor = minor;
  status.status = code;
  return true;
}

// The first empty line at or after `from` (a line start or the byte before
// one), so that a header growing segment by segment is scanned once.
size_t HeaderEndFrom(std::string_view data, size_t from) {
  for (size_t s = from; s < data.size(); ++s) {
    if (s != 0 && data[s - 1] != '\n') continue;
    if (data[s] == '\n') return s + 1;
    if (data[s] == '\r' && s + 1 < data.size() && data[s + 1] == '\n') return s + 2;
  }
  return std::string_view::npos;
}

std::string Format6087(const UrlRecord& url) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, LoadString(kSidConnecting), url.host.c_str(), static_cast<unsigned long>(url.port));
  return buf;
}

std::string FormatWith(uint32_t id, const std::string& arg) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, LoadString(id), arg.c_str());
  return buf;
}

std::string Format6089(uint32_t total, const std::string& path) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, LoadString(kSidReceived), static_cast<unsigned long>(total), path.c_str());
  return buf;
}

// Stores a block, asking the callback whether to retry while the disk is
// full. 0 or the errno of the failure.
int StoreBlock(HttpOutputStream& out, const char* data, size_t length, HttpProgressCallback callback,
               void* callbackData) {
  for (;;) {
    size_t written = 0;
    int err = out.Write(data, length, written);
    data += written;
    length -= written;
    if (err == 0) return 0;
    if (err != ENOSPC && err != EDQUOT) return err;
    if (!callback || callback(kHttpDiskFull, callbackData, 0) == 0) return err;
  }
}

struct ProgressWindow {
  ProgressSink* sink = nullptr;
  ~ProgressWindow() {
    if (sink) sink->EndProgress();
  }
};

}  // namespace

HttpFileOutput::~HttpFileOutput() {
  if (fd_ >= 0) ::close(fd_);
}

int HttpFileOutput::Open() {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return errno;
  created_ = true;
  return 0;
}

int HttpFileOutput::Finish() {
  if (fd_ < 0) return 0;
  int rc = ::close(fd_);
  fd_ = -1;
  return rc == 0 ? 0 : errno;
}

int HttpFileOutput::Write(const char* data, size_t length, size_t& written) {
  written = 0;
  if (fd_ < 0) return EBADF;
  while (written < length) {
    ssize_t n = ::write(fd_, data + written, length - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    written += static_cast<size_t>(n);
  }
  return 0;
}

void HttpFileOutput::Discard() {
  Finish();
  if (created_) ::unlink(path_.c_str());
  created_ = false;
}

std::string BuildHttpGetRequest(const UrlRecord& url) {
  // The Host line lets a server with several names pick the right one.
  std::string request = "GET ";
  request += url.path;
  request += " HTTP/1.0\r\nHost: ";
  request += url.host;
  if (url.port != 80) {
    request += ':';
    request += std::to_string(url.port);
  }
  request += "\r\n\r\n";
  return request;
}

size_t HttpHeaderEnd(std::string_view data) { return HeaderEndFrom(data, 0); }

bool ParseHttpStatusHeader(std::string_view header, HttpStatus& status) {
  bool found = false;
  ForEachLine(header, [&](std::string_view raw) {
    std::string_view line = Trim(raw);
    if (line.empty()) return false;
    if (StartsWithNoCase(line, "HTTP/")) {
      found |= ParseStatusLine(line.substr(5), status);
    } else if (StartsWithNoCase(line, "Content-Length:")) {
      found = true;
      uint32_t value = 0;
      bool ok = ParseLength(Trim(line.substr(15)), value);
      // Two lengths that disagree leave no length to trust.
      if (!ok || (status.length == HttpStatus::Length::kGiven && value != status.contentLength))
        status.length = HttpStatus::Length::kMalformed;
      else if (status.length == HttpStatus::Length::kAbsent)
        status.length = HttpStatus::Length::kGiven;
      if (ok && status.length == HttpStatus::Length::kGiven) status.contentLength = value;
    } else if (StartsWithNoCase(line, "Content-Type:")) {
      found = true;
      std::string_view type = Trim(line.substr(13));
      status.contentType = std::string(type.substr(0, HttpStatus::kMaxContentType));
    }
    return true;
  });
  return found;
}

size_t HttpHeaderLength(std::string_view data) {
  if (data.size() <= 5 || !StartsWithNoCase(data, "HTTP/")) return 0;
  size_t end = HttpHeaderEnd(data);
  return end == std::string_view::npos ? 0 : end;
}

namespace {

// What one download reports to, and how long each wait may take.
struct Transfer {
  const NetHooks& net;
  HttpProgressCallback callback;
  void* callbackData;
  ProgressSink* sink;  // null unless progress is shown
  int timeout;
  void Notify(int code, uint32_t value) const {
    if (callback) callback(code, callbackData, value);
  }
};

// The response's first bytes, up to and including the blank line that ends
// the header when it comes within kMaxHeader bytes (and perhaps body bytes
// after it). Empty when the peer closed without answering.
std::string ReceiveHeader(CBlockingSocket& socket, const Transfer& t, std::vector<char>& buf) {
  std::string head;
  size_t scanned = 0;
  while (HeaderEndFrom(head, scanned) == std::string::npos && head.size() < kMaxHeader) {
    scanned = head.empty() ? 0 : head.size() - 1;  // a blank line may begin in the last byte seen
    t.Notify(kHttpReceiving, 0);
    int n = socket.Receive(buf.data(), std::min(buf.size(), kMaxHeader - head.size()), t.timeout);
    if (n == 0) break;
    head.append(buf.data(), static_cast<size_t>(n));
  }
  return head;
}

// Stores the body, starting with the bytes that came with the header. With
// `sized`, exactly `length` bytes make the body and fewer are a failure.
// Without `out` only the first block is looked at.
bool ReceiveBody(CBlockingSocket& socket, const Transfer& t, const std::string& path, std::string_view first,
                 bool sized, uint32_t length, HttpOutputStream* out, uint32_t* byteCounter,
                 std::vector<char>& buf, int& errorCode) {
  uint64_t total = 0;
  std::string_view block = first;
  for (bool isFirst = true;; isFirst = false) {
    if (!isFirst) {
      t.Notify(kHttpReceiving, 0);
      int n = socket.Receive(buf.data(), buf.size(), t.timeout);  // answers 0 again at once after a close
      if (n == 0) {
        if (sized && total < length) {
          errorCode = kHttpErrorCutShort;
          return false;
        }
        return true;
      }
      block = std::string_view(buf.data(), static_cast<size_t>(n));
    }
    if (sized && total + block.size() > length) block = block.substr(0, static_cast<size_t>(length - total));
    total += block.size();
    if (t.sink) t.sink->SetProgressText(Format6089(static_cast<uint32_t>(total), path), static_cast<uint32_t>(total));
    t.Notify(kHttpReceived, static_cast<uint32_t>(block.size()));
    if (!out) return true;
    if (t.net.StopRequested()) {
      errorCode = wsa::kEintr;
      return false;
    }
    if (int err = StoreBlock(*out, block.data(), block.size(), t.callback, t.callbackData); err != 0) {
      errorCode = err;
      return false;
    }
    if (byteCounter) *byteCounter += static_cast<uint32_t>(block.size());
    if (sized && total == length) return true;
  }
}

}  // namespace

bool HttpGet(const NetHooks& net, const UrlRecord& url, HttpOutputStream* out, HttpStatus& status,
             HttpProgressCallback callback, void* callbackData, uint32_t* byteCounter, bool showProgress,
             int& errorCode) {
  status = HttpStatus{};
  errorCode = 0;
  if (byteCounter) *byteCounter = 0;
  Transfer t{net, callback, callbackData, nullptr, net.Timeout()};
  ProgressWindow progress;
  bool result = false;
  try {
    t.Notify(kHttpStarting, 0);
    CBlockingSocket socket(&net);
    socket.Create(CBlockingSocket::kStream);
    int one = 1;
    ::setsockopt(socket.handle(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

    if (showProgress) {
      t.Notify(kHttpProgressOpening, 0);
      progress.sink = t.sink = net.Progress();
      if (t.sink) t.sink->StartProgress();
      t.Notify(kHttpConnecting, 0);
      if (t.sink) t.sink->SetProgressText(Format6087(url), 0);
    }
    socket.Connect(CBlockingSocket::GetHostByName(url.host, static_cast<uint16_t>(url.port)), t.timeout);

    t.Notify(kHttpConnected, 0);
    std::string request = BuildHttpGetRequest(url);
    const auto requestLength = static_cast<uint32_t>(request.size());
    if (showProgress) {
      t.Notify(kHttpRequesting, requestLength);
      if (t.sink) t.sink->SetProgressText(FormatWith(kSidRequesting, url.path), 0);
    }
    socket.Write(request.data(), request.size(), t.timeout);
    t.Notify(kHttpRequestSent, requestLength);

    std::vector<char> buf(kReceiveBlock);
    std::string head = ReceiveHeader(socket, t, buf);
    ParseHttpStatusHeader(head, status);
    size_t headerLength = HttpHeaderLength(head);
    bool headerBroken = StartsWithNoCase(head, "HTTP/") &&
                        (headerLength == 0 || status.length == HttpStatus::Length::kMalformed);
    if (head.empty()) {
      errorCode = kHttpErrorCutShort;  // closed without a byte of answer
    } else if (status.status != 200 || headerBroken) {
      errorCode = kHttpErrorNotAvailable;
      Log("Failed to retrieve %s%s:\r\n%s", url.host.c_str(), url.path.c_str(), head.c_str());
    } else {
      if (t.sink) t.sink->SetProgressTotal(status.contentLength);
      t.Notify(kHttpContentLength, status.contentLength);
      // Only a recognised header fixes the body's size.
      const bool sized = headerLength > 0 && status.length == HttpStatus::Length::kGiven;
      result = ReceiveBody(socket, t, url.path, std::string_view(head).substr(headerLength), sized,
                           status.contentLength, out, byteCounter, buf, errorCode);
    }
    socket.Close();
  } catch (const CBlockingSocketException& e) {
    errorCode = e.code() != 0 ? e.code() : wsa::kEtimedout;  // a time-out carries no system code
    result = false;
  }
  if (!result && out) out->Discard();
  return result;
}

bool RemoteResourceExists(const NetHooks& net, const std::string& name) {
  UrlRecord url;
  if (!StartSockets() || !ParseUrl(name, url) || url.type != kSchemeHttp) return false;
  HttpStatus status;
  int error = 0;
  return HttpGet(net, url, nullptr, status, nullptr, nullptr, nullptr, false, error) && status.status == 200;
}

int32_t RemoteResourceSize(const NetHooks& net, const std::string& name) {
  UrlRecord url;
  if (!StartSockets() || !ParseUrl(name, url) || url.type != kSchemeHttp) return -1;
  HttpStatus status;
  int error = 0;
  if (!HttpGet(net, url, nullptr, status, nullptr, nullptr, nullptr, false, error) || status.status != 200)
    return -1;
  return static_cast<int32_t>(status.contentLength);
}

}  // namespace kv
