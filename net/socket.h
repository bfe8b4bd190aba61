// The blocking socket layer of the HTTP client: stream sockets over POSIX
// whose waits have time-outs, run in short slices that end on the player's
// stop test, and whose errors carry WinSock error numbers as the stored
// projects and scripts know them. Used by net/http and net/upload.
#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "net/hooks.h"

namespace kv {

// WinSock error numbers the layer reports.
namespace wsa {
inline constexpr int kEintr = 10004;  // also: a wait ended by the stop test
inline constexpr int kEacces = 10013;
inline constexpr int kEwouldblock = 10035;
inline constexpr int kEconnreset = 10054;
inline constexpr int kEtimedout = 10060;
inline constexpr int kEconnrefused = 10061;
inline constexpr int kHostNotFound = 11001;
}  // namespace wsa

// The WinSock number for an errno value (the value itself when unknown), and
// for a getaddrinfo result.
int WinSockErrorFromErrno(int err);
int WinSockErrorFromResolver(int gaiResult);
// A short lower-case text for a WinSock number ("connection refused"), or for
// an errno value below 10000; "error N" for numbers neither table knows.
std::string WinSockErrorText(int code);

class CBlockingSocketException : public std::exception {
 public:
  // `code` is the WinSock number at the moment of failure, 0 for none.
  CBlockingSocketException(std::string text, int code);
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& text() const { return text_; }
  int code() const { return code_; }
  // "%s error #%d", or "%s error" when the code is 0, cut to `size` - 1
  // characters as into a caller's buffer of `size` bytes.
  std::string GetErrorMessage(size_t size = 256) const;

 private:
  std::string text_;
  int code_;
  std::string message_;
};

// "WINSOCK ERROR--<prefix> <time GMT> -- <message>" (the log adds the line end).
std::string SocketErrorLine(const std::string& prefix, const CBlockingSocketException& e);

// Once per process until StopSockets; later calls answer as the first did.
// On failure shows message 5080 and returns false.
bool StartSockets();
void StopSockets();

// What a request sends, in order: texts held in memory and, between them,
// open files sent straight from the page cache, so a 100 MB upload is never
// copied into the process. The files are borrowed: their owner keeps them
// open until the bytes are sent.
class OutgoingBytes {
 public:
  void AddText(std::string text);
  void AddFile(int fd, size_t size);
  size_t size() const { return size_; }

 private:
  friend class CBlockingSocket;
  struct Part {
    std::string text;
    int fd = -1;  // a file's part when >= 0
    size_t size = 0;
  };
  std::vector<Part> parts_;
  size_t size_ = 0;
};

class CBlockingSocket {
 public:
  static constexpr int kStream = 1;
  static constexpr int kDatagram = 2;

  // `net`: the run whose stop ends this socket's waits (borrowed; may be null).
  explicit CBlockingSocket(const NetHooks* net = nullptr) : net_(net) {}
  CBlockingSocket(const CBlockingSocket&) = delete;
  CBlockingSocket& operator=(const CBlockingSocket&) = delete;
  virtual ~CBlockingSocket();

  void Create(int type = kStream);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int handle() const { return fd_; }

  // Connecting waits too: a host that never answers must not hold a thread.
  void Connect(const sockaddr_in& address, int timeoutSeconds = kDefaultTimeout);
  int Send(const char* data, size_t length, int timeoutSeconds);
  void Write(const char* data, size_t length, int timeoutSeconds);
  // Sends `count` bytes of `bytes` from `from` on. A file that ends early
  // is an error: the length was promised already.
  void Write(const OutgoingBytes& bytes, size_t from, size_t count, int timeoutSeconds);
  // 0 when the peer has closed.
  int Receive(char* buffer, size_t size, int timeoutSeconds);

  // The host part of `name` when it parses as a URL, else `name` itself.
  static sockaddr_in GetHostByName(const std::string& name, uint16_t port);
  void ConnectTo(const std::string& host, int timeoutSeconds = kDefaultTimeout);

  static constexpr int kDefaultTimeout = NetHooks::kDefaultNetTimeout;

 private:
  int fd_ = -1;

 protected:
  const NetHooks* net_ = nullptr;
};

class CHttpBlockingSocket : public CBlockingSocket {
 public:
  using CBlockingSocket::CBlockingSocket;
  // The next complete line, "\n" included; empty when the peer closed first.
  std::string ReadHttpHeaderLine(int timeoutSeconds = kDefaultTimeout);

  // Sends in `pieces` pieces (the last carries the remainder), reporting each
  // piece's number to `callback` through `poster` and pausing 5 ms; pieces
  // <= 0, or at least as many pieces as bytes, sends at once. Stops early,
  // without error, on the run's stop or when `cancelled` answers true.
  void WriteWithProgress(const OutgoingBytes& bytes, int timeoutSeconds, int pieces,
                         const std::function<bool()>& cancelled, const std::string& callback,
                         const std::shared_ptr<ReportPoster>& poster);
  void WriteWithProgress(const char* data, size_t length, int timeoutSeconds, int pieces,
                         const std::function<bool()>& cancelled, const std::string& callback,
                         const std::shared_ptr<ReportPoster>& poster);

  static constexpr size_t kReadChunk = 520;
  static constexpr size_t kMaxLine = 64 * 1024;

 private:
  std::deque<std::string> lines_;
  std::string partial_;
};

}  // namespace kv
