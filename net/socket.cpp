#include "net/socket.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <csignal>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "net/hooks.h"
#include "net/url.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/string_table.h"

namespace kv {
namespace {

// errno values and the WinSock numbers scripts and logs have always seen.
constexpr struct {
  int err;
  int wsa;
} kErrnoToWinSock[] = {
    {EINTR, 10004},        {EBADF, 10009},         {EACCES, 10013},          {EFAULT, 10014},
    {EINVAL, 10022},       {EMFILE, 10024},        {EAGAIN, 10035},          {EINPROGRESS, 10036},
    {EALREADY, 10037},     {ENOTSOCK, 10038},      {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},   {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046},  {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},
    {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},     {ENETUNREACH, 10051},     {ENETRESET, 10052},
    {ECONNABORTED, 10053}, {ECONNRESET, 10054},    {EPIPE, 10054},           {ENOBUFS, 10055},
    {EISCONN, 10056},      {ENOTCONN, 10057},      {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},  {ELOOP, 10062},           {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},  {ENOTEMPTY, 10066},       {EUSERS, 10068},
    {EDQUOT, 10069},       {ESTALE, 10070},        {EREMOTE, 10071},         {ENFILE, 10024},
};

enum class WaitResult { Ready, TimedOut, Stopped };

// Waits for `events` on `fd` until the deadline, in slices short enough that
// the run's stop is seen within 125 ms.
WaitResult WaitFor(const NetHooks* net, int fd, short events, std::chrono::steady_clock::time_point deadline) {
  constexpr auto kSlice = std::chrono::milliseconds(125);
  for (;;) {
    if (net && net->StopRequested()) return WaitResult::Stopped;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return WaitResult::TimedOut;
    auto slice = std::min<std::chrono::steady_clock::duration>(deadline - now, kSlice);
    pollfd p{fd, events, 0};
    int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
    int n = ::poll(&p, 1, ms);
    if (n > 0) return WaitResult::Ready;  // errors and hang-ups show in the call that follows
    if (n < 0 && errno != EINTR) return WaitResult::Ready;
  }
}

std::chrono::steady_clock::time_point DeadlineIn(int seconds) {
  return std::chrono::steady_clock::now() + std::chrono::seconds(seconds < 0 ? 0 : seconds);
}

[[noreturn]] void ThrowWait(WaitResult r, const char* op, const char* timeoutText) {
  if (r == WaitResult::Stopped) throw CBlockingSocketException(op, wsa::kEintr);
  throw CBlockingSocketException(timeoutText, 0);
}

struct SocketServices {
  std::mutex lock;
  enum { kNotStarted, kStarted, kFailed } state = kNotStarted;
};

SocketServices& Services() {
  static SocketServices s;
  return s;
}

}  // namespace

int WinSockErrorFromErrno(int err) {
  for (const auto& e : kErrnoToWinSock)
    if (e.err == err) return e.wsa;
  return err;
}

std::string WinSockErrorText(int code) {
  switch (code) {
    case wsa::kHostNotFound: return "host not found";
    case 11002: return "temporary failure in name resolution";
    case 11003: return "name resolution failed";
    case 11004: return "the name has no address";
  }
  int err = code < 10000 ? code : 0;
  for (const auto& e : kErrnoToWinSock)
    if (e.wsa == code) {
      err = e.err;
      break;
    }
  return err > 0 ? ErrnoText(err) : "error " + std::to_string(code);
}

int WinSockErrorFromResolver(int gaiResult) {
  switch (gaiResult) {
    case 0: return 0;
    case EAI_AGAIN: return 11002;     // WSATRY_AGAIN
    case EAI_FAIL: return 11003;      // WSANO_RECOVERY
    case EAI_NODATA: return 11004;    // WSANO_DATA
    case EAI_SYSTEM: return WinSockErrorFromErrno(errno);
    default: return wsa::kHostNotFound;
  }
}

CBlockingSocketException::CBlockingSocketException(std::string text, int code)
    : text_(std::move(text)), code_(code), message_(GetErrorMessage()) {}

std::string CBlockingSocketException::GetErrorMessage(size_t size) const {
  if (size == 0) return {};
  char buf[512];
  if (code_ != 0)
    std::snprintf(buf, sizeof buf, "%s error #%d", text_.c_str(), code_);
  else
    std::snprintf(buf, sizeof buf, "%s error", text_.c_str());
  std::string out(buf);
  if (out.size() > size - 1) out.resize(size - 1);
  return out;
}

std::string SocketErrorLine(const std::string& prefix, const CBlockingSocketException& e) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char when[50];  // the time text was limited to 49 characters
  std::strftime(when, sizeof when, "%m/%d/%y %H:%M:%S GMT", &tm);
  return "WINSOCK ERROR--" + prefix + " " + when + " -- " + e.GetErrorMessage();
}

bool StartSockets() {
  SocketServices& s = Services();
  std::lock_guard lock(s.lock);
  if (s.state != SocketServices::kNotStarted) return s.state == SocketServices::kStarted;
  // The services need no set-up on POSIX; one throw-away socket proves that
  // the process may create them at all.
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    s.state = SocketServices::kFailed;
    ShowMessage(LoadString(sid::kSocketsUnavailable), LoadString(sid::kAppName), MsgButtons::Ok,
                MsgIcon::Exclamation);
    return false;
  }
  ::close(fd);
  s.state = SocketServices::kStarted;
  return true;
}

void StopSockets() {
  SocketServices& s = Services();
  std::lock_guard lock(s.lock);
  if (s.state == SocketServices::kStarted) s.state = SocketServices::kNotStarted;
}

CBlockingSocket::~CBlockingSocket() {
  if (fd_ >= 0) ::close(fd_);
}

void CBlockingSocket::Create(int type) {
  int sockType = type == kDatagram ? SOCK_DGRAM : SOCK_STREAM;
  // Non-blocking so that every wait is ours to bound; close-on-exec so that
  // launched programs never inherit a connection.
  int fd = ::socket(AF_INET, sockType | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw CBlockingSocketException("Create", WinSockErrorFromErrno(errno));
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

void CBlockingSocket::Close() {
  if (fd_ < 0) return;
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) throw CBlockingSocketException("Close", WinSockErrorFromErrno(errno));
}

void CBlockingSocket::Connect(const sockaddr_in& address, int timeoutSeconds) {
  auto deadline = DeadlineIn(timeoutSeconds);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return;
  if (errno != EINPROGRESS && errno != EINTR) throw CBlockingSocketException("Connect", WinSockErrorFromErrno(errno));
  WaitResult r = WaitFor(net_, fd_, POLLOUT, deadline);
  if (r == WaitResult::Stopped) throw CBlockingSocketException("Connect", wsa::kEintr);
  if (r == WaitResult::TimedOut) throw CBlockingSocketException("Connect", wsa::kEtimedout);
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
  if (err != 0) throw CBlockingSocketException("Connect", WinSockErrorFromErrno(err));
}

int CBlockingSocket::Send(const char* data, size_t length, int timeoutSeconds) {
  auto deadline = DeadlineIn(timeoutSeconds);
  for (;;) {
    WaitResult r = WaitFor(net_, fd_, POLLOUT, deadline);
    if (r != WaitResult::Ready) ThrowWait(r, "Send", "Send timeout");
    ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL);  // a closed peer is an error, not a signal
    if (n >= 0) return static_cast<int>(n);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      throw CBlockingSocketException("Send", WinSockErrorFromErrno(errno));
  }
}

void CBlockingSocket::Write(const char* data, size_t length, int timeoutSeconds) {
  size_t done = 0;
  while (done < length) done += static_cast<size_t>(Send(data + done, length - done, timeoutSeconds));
}

void OutgoingBytes::AddText(std::string text) {
  size_ += text.size();
  Part part;
  part.size = text.size();
  part.text = std::move(text);
  parts_.push_back(std::move(part));
}

void OutgoingBytes::AddFile(int fd, size_t size) {
  size_ += size;
  Part part;
  part.fd = fd;
  part.size = size;
  parts_.push_back(std::move(part));
}

namespace {

// sendfile has no MSG_NOSIGNAL: a peer that closed would raise SIGPIPE and
// end the process. The signal is held back on this thread while a file is
// sent, and one it raised is taken before the old mask comes back.
class PipeSignalHeld {
 public:
  PipeSignalHeld() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~PipeSignalHeld() {
    if (raised_ && !wasPending_) {
      const timespec none{0, 0};
      while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  void Raised() { raised_ = true; }

 private:
  sigset_t pipe_, old_;
  bool wasPending_ = false, raised_ = false;
};

}  // namespace

void CBlockingSocket::Write(const OutgoingBytes& bytes, size_t from, size_t count, int timeoutSeconds) {
  size_t start = 0;  // of the part in the whole
  for (const OutgoingBytes::Part& part : bytes.parts_) {
    const size_t end = start + part.size;
    if (count > 0 && from < end) {
      const size_t offset = from - start, n = std::min(count, end - from);
      if (part.fd < 0) {
        Write(part.text.data() + offset, n, timeoutSeconds);
      } else {
        PipeSignalHeld held;
        off_t at = static_cast<off_t>(offset);
        size_t left = n;
        while (left > 0) {
          WaitResult r = WaitFor(net_, fd_, POLLOUT, DeadlineIn(timeoutSeconds));
          if (r != WaitResult::Ready) ThrowWait(r, "Send", "Send timeout");
          ssize_t sent = ::sendfile(fd_, part.fd, &at, left);
          if (sent > 0) {
            left -= static_cast<size_t>(sent);
          } else if (sent == 0) {
            throw CBlockingSocketException("Send file ended early", 0);
          } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            if (errno == EPIPE) held.Raised();
            throw CBlockingSocketException("Send", WinSockErrorFromErrno(errno));
          }
        }
      }
      from += n;
      count -= n;
    }
    start = end;
  }
}

int CBlockingSocket::Receive(char* buffer, size_t size, int timeoutSeconds) {
  auto deadline = DeadlineIn(timeoutSeconds);
  for (;;) {
    // Data already queued is taken at once; only an empty queue waits.
    ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n >= 0) return static_cast<int>(n);
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
      throw CBlockingSocketException("Receive", WinSockErrorFromErrno(errno));
    WaitResult r = WaitFor(net_, fd_, POLLIN, deadline);
    if (r != WaitResult::Ready) ThrowWait(r, "Receive", "Receive timeout");
  }
}

sockaddr_in CBlockingSocket::GetHostByName(const std::string& name, uint16_t port) {
  UrlRecord url;
  std::string host = ParseUrl(name, url) ? url.host : name;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) throw CBlockingSocketException("GetHostByName", WinSockErrorFromResolver(rc));
  sockaddr_in address = *reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  ::freeaddrinfo(found);
  address.sin_port = htons(port);
  return address;
}

void CBlockingSocket::ConnectTo(const std::string& host, int timeoutSeconds) {
  // An http URL's own port is honoured; anything else goes to the web port.
  UrlRecord url;
  uint16_t port = ParseUrl(host, url) && url.type == kSchemeHttp ? static_cast<uint16_t>(url.port) : 80;
  Connect(GetHostByName(host, port), timeoutSeconds);
}

std::string CHttpBlockingSocket::ReadHttpHeaderLine(int timeoutSeconds) {
  // A line may arrive in several segments: read until one is complete rather
  // than mistaking a partial read for a closed connection.
  while (lines_.empty()) {
    char buf[kReadChunk];
    int n = 0;
    try {
      n = Receive(buf, sizeof buf, timeoutSeconds);
    } catch (const CBlockingSocketException& e) {
      // A failed read is reported under this operation's own name; a time-out keeps its text.
      if (e.text() != "Receive") throw;
      throw CBlockingSocketException("Socket_Error", e.code());
    }
    if (n == 0) return {};
    std::string_view chunk(buf, static_cast<size_t>(n));
    size_t start = 0;
    for (size_t nl = chunk.find('\n'); nl != std::string_view::npos; nl = chunk.find('\n', start)) {
      partial_.append(chunk.substr(start, nl + 1 - start));
      lines_.push_back(std::move(partial_));
      partial_.clear();
      start = nl + 1;
    }
    partial_.append(chunk.substr(start));
    // A peer that never ends its line must not grow our memory without end.
    if (partial_.size() > kMaxLine) throw CBlockingSocketException("Socket_Error", 0);
  }
  std::string line = std::move(lines_.front());
  lines_.pop_front();
  return line;
}

void CHttpBlockingSocket::WriteWithProgress(const OutgoingBytes& bytes, int timeoutSeconds, int pieces,
                                            const std::function<bool()>& cancelled, const std::string& callback,
                                            const std::shared_ptr<ReportPoster>& poster) {
  const size_t length = bytes.size();
  // No pieces asked for means one send, never a division by zero.
  if (pieces <= 0 || static_cast<size_t>(pieces) >= length) {
    Write(bytes, 0, length, timeoutSeconds);
    return;
  }
  size_t pieceSize = length / static_cast<size_t>(pieces);
  size_t sent = 0;
  for (int piece = 1; sent < length; ++piece) {
    if ((net_ && net_->StopRequested()) || (cancelled && cancelled())) return;
    size_t n = piece <= pieces ? pieceSize : length - sent;
    Write(bytes, sent, n, timeoutSeconds);
    sent += n;
    if (poster) poster->PostReport(callback, "", piece);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void CHttpBlockingSocket::WriteWithProgress(const char* data, size_t length, int timeoutSeconds, int pieces,
                                            const std::function<bool()>& cancelled, const std::string& callback,
                                            const std::shared_ptr<ReportPoster>& poster) {
  OutgoingBytes bytes;
  bytes.AddText(std::string(data, length));
  WriteWithProgress(bytes, timeoutSeconds, pieces, cancelled, callback, poster);
}

}  // namespace kv
