#include "net/host_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <strings.h>

#include <algorithm>
#include <cstring>

namespace kv::host {

HostConnection::HostConnection(int fd) : fd_(fd), buffer_(kMaxChunkBytes, '\0') {}

HostConnection::~HostConnection() { Close(); }

void HostConnection::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool HostConnection::SendRaw(const std::string& bytes) {
  std::lock_guard guard(sendLock_);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

HostConnection::Received HostConnection::Receive(Message& out, int timeoutMs, std::string* error) {
  for (;;) {
    if (fd_ < 0) return Received::Closed;
    while (bufferUsed_ < bufferHave_) {
      bufferUsed_ += reader_.Feed(buffer_.data() + bufferUsed_, bufferHave_ - bufferUsed_);
      if (reader_.Failed()) {
        if (error) *error = reader_.Error();
        return Received::Broken;
      }
      if (auto frame = reader_.Next()) {
        frame_ = std::move(*frame);
        std::string why;
        if (!DecodeMessage(frame_.kind, frame_.payload, out, why)) {
          if (error) *error = why;
          return Received::Broken;
        }
        return Received::Message;
      }
    }
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) return Received::TimedOut;
    const ssize_t n = r < 0 ? -1 : ::read(fd_, buffer_.data(), buffer_.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (error) *error = n == 0 ? "closed" : std::strerror(errno);
      return Received::Closed;
    }
    bufferUsed_ = 0;
    bufferHave_ = static_cast<size_t>(n);
  }
}

bool HostConnection::SendFile(uint32_t id, const std::string& name, const std::string& path) {
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  const off_t size = ::lseek(file, 0, SEEK_END);
  ::lseek(file, 0, SEEK_SET);
  bool ok = size >= 0 && SendRaw(EncodeBegin(id, static_cast<uint64_t>(size)));
  std::string chunk(kMaxChunkBytes, '\0');
  uint64_t left = ok ? static_cast<uint64_t>(size) : 0;
  while (ok && left > 0) {
    const ssize_t n = ::read(file, chunk.data(), std::min<uint64_t>(left, chunk.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    ok = SendRaw(EncodeData(id, std::string_view(chunk.data(), static_cast<size_t>(n))));
    left -= static_cast<uint64_t>(n);
  }
  ::close(file);
  return ok && SendRaw(EncodeDelivered(id, name));
}

bool ServePlayer(HostConnection& connection, const ResourceFinder& find, std::string* error) {
  uint32_t nextId = 1;
  for (;;) {
    Message m;
    switch (connection.Receive(m, -1, error)) {
      case HostConnection::Received::Message: break;
      case HostConnection::Received::TimedOut: continue;
      case HostConnection::Received::Closed: return false;
      case HostConnection::Received::Broken: return false;
    }
    switch (m.kind) {
      case kConnect:
        if (!connection.SendRaw(EncodeReply(m.seq, m.value == kProtocolVersion ? 1 : 0))) return false;
        break;
      case kRequest: {
        const uint32_t id = nextId++;
        if (!connection.SendRaw(EncodeReply(m.seq, id))) return false;
        const std::optional<std::string> file = find(m.name, m.mapped);
        // A file that went between finding and reading is refused too; the
        // player has not seen a byte of it.
        bool sent = file && connection.SendFile(id, m.name, *file);
        if (!sent && !connection.SendRaw(EncodeRefused(id, m.name))) return false;
        break;
      }
      case kDisconnect: return true;
      default: break;  // keep-alives and cancels need no answer here
    }
  }
}

std::optional<std::string> RelativeResourcePath(const std::string& name, const std::string& baseUrl) {
  std::string n = name;
  if (!baseUrl.empty() && n.size() >= baseUrl.size() &&
      strncasecmp(n.c_str(), baseUrl.c_str(), baseUrl.size()) == 0)
    n = n.substr(baseUrl.size());
  for (char& c : n)
    if (c == '\\') c = '/';
  std::string out;
  size_t at = 0;
  while (at <= n.size()) {
    size_t slash = n.find('/', at);
    if (slash == std::string::npos) slash = n.size();
    const std::string part = n.substr(at, slash - at);
    at = slash + 1;
    if (part.empty()) continue;
    if (part == "." || part == ".." || part.find(':') != std::string::npos) return std::nullopt;
    if (!out.empty()) out += '/';
    out += part;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace kv::host
