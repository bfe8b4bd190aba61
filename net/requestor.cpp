#include "net/requestor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kv {

namespace {

using Clock = std::chrono::steady_clock;

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

RRRequestor::RRRequestor(TempFolder temp, RequestorOptions options, RequestorEvents& events)
    : temp_(std::move(temp)), options_(options), events_(events) {}

RRRequestor::~RRRequestor() { Disconnect(); }

int RRRequestor::OpenServer(const std::string& server, std::string& error) {
  if (server.rfind("fd:", 0) == 0) {
    const std::string digits = server.substr(3);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) {
      error = "\"" + server + "\" is not fd:N";
      return -1;
    }
    const int fd = std::stoi(digits);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) {
      error = "descriptor " + digits + " is not an open socket";
      return -1;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (server.empty() || server.size() >= sizeof address.sun_path) {
    error = "\"" + server + "\" is not a socket path (at most " + std::to_string(sizeof address.sun_path - 1) +
            " bytes)";
    return -1;
  }
  std::memcpy(address.sun_path, server.data(), server.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::strerror(errno);
    return -1;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    error = "cannot connect to " + server + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool RRRequestor::Connect(int fd, std::string& error) {
  Disconnect();
  fd_ = fd;
  ended_ = false;
  stopReader_ = false;
  lastKeepAlive_ = Clock::now();
  reader_ = std::thread([this] { ReadLoop(); });
  const std::optional<uint32_t> accepted = SendAndWait(host::kConnect, {}, {});
  if (accepted.value_or(0) == 0) {
    error = accepted ? "the host refused the connection" : "the host did not answer the connection or went away";
    Disconnect();
    return false;
  }
  connected_ = true;
  return true;
}

void RRRequestor::Disconnect() {
  if (fd_ < 0) return;
  // The host hears that we go, unless it went first.
  if (!ended_.exchange(true)) Send(host::EncodeDisconnect());
  stopReader_ = true;
  ::shutdown(fd_, SHUT_RDWR);
  if (reader_.joinable()) reader_.join();
  ::close(fd_);
  fd_ = -1;
  connected_ = false;
  std::lock_guard guard(lock_);
  for (auto& [id, e] : table_) {
    if (e.fd >= 0) ::close(e.fd);
    if (!e.path.empty()) ::unlink(e.path.c_str());
  }
  table_.clear();
  pending_.clear();
  changed_.notify_all();
}

bool RRRequestor::Send(const std::string& frame) {
  size_t done = 0;
  {
    std::lock_guard guard(writeLock_);
    if (fd_ < 0) return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
    while (done < frame.size()) {
      const ssize_t n = ::send(fd_, frame.data() + done, frame.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd_, POLLOUT, 0};
        if (left > 0 && ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 100))) >= 0) continue;
      }
      break;
    }
  }
  if (done == frame.size()) return true;
  // Half a frame leaves the stream without a frame boundary: nothing more
  // can be said on it.
  if (done > 0) End(1, false, "a message to the host could not be sent whole");
  return false;
}

std::optional<uint32_t> RRRequestor::SendAndWait(uint32_t kind, const std::string& name, const std::string& mapped) {
  for (;;) {
    if (ended_) return std::nullopt;
    uint32_t seq;
    {
      std::lock_guard guard(lock_);
      seq = nextSeq_++;
      Pending p;
      p.request = kind == host::kRequest;
      p.ext = ExtensionOf(name);
      pending_[seq] = std::move(p);
    }
    const bool sent = Send(kind == host::kConnect ? host::EncodeConnect(seq) : host::EncodeRequest(seq, name, mapped));
    std::optional<uint32_t> value;
    {
      std::unique_lock lk(lock_);
      const auto deadline = Clock::now() + std::chrono::milliseconds(options_.timeoutMs);
      while (sent && !ended_ && !pending_[seq].value && Clock::now() < deadline)
        changed_.wait_until(lk, std::min(deadline, Clock::now() + std::chrono::milliseconds(options_.sliceMs)));
      value = pending_[seq].value;
      pending_.erase(seq);
    }
    if (value) return value;
    if (ended_) return std::nullopt;
    switch (events_.HostNotResponding()) {
      case HostFailureChoice::Retry: continue;
      case HostFailureChoice::Ignore: return std::nullopt;
      case HostFailureChoice::Abort:
        End(1, true, "the host did not answer; the connection was abandoned");
        return std::nullopt;
    }
  }
}

std::string RRRequestor::PluginGetRemoteResource(const std::string& given, int* found) {
  Log("PluginGetRemoteResource(\"%s\")...", given.c_str());
  if (!Connected()) return given;
  std::string name(Trim(given));
  std::string mapped;
  if (ExtensionOf(name) == ".kvg") {
    mapped = events_.MappedName(name);
    name = RemoveBlanksFromFileName(name);
  }
  std::string result;
  auto finish = [&](std::string r) {
    if (found) *found = IsSentinelAnswer(r) ? 0 : *found;
    Log("PluginGetRemoteResource(\"%s\") = \"%s\"", name.c_str(), r.c_str());
    return r;
  };
  if (name.size() > host::kMaxNameBytes || mapped.size() > host::kMaxNameBytes) return finish({});
  const uint32_t id = SendAndWait(host::kRequest, name, mapped).value_or(0);
  if (id == 0) return finish({});

  std::unique_lock lk(lock_);
  for (;;) {
    auto it = table_.find(id);
    if (it == table_.end()) {
      result = kFailAnswer;  // the table was emptied under us
      break;
    }
    Entry& e = it->second;
    if (e.state == State::kDelivered) {
      result = e.path;
      e.path.clear();  // the locator's now
      if (found) *found = 1;
      break;
    }
    if (e.state == State::kRefused) {
      result = kAbortAnswer;
      break;
    }
    if (e.state != State::kWaiting || ended_) {
      result = kFailAnswer;
      break;
    }
    const auto now = Clock::now();
    lk.unlock();
    const bool stop = events_.StopWaiting();
    if (!stop && now - lastKeepAlive_ >= std::chrono::milliseconds(options_.keepAliveMs)) {
      lastKeepAlive_ = now;
      Send(host::EncodeKeepAlive());
    }
    lk.lock();
    if (stop) break;  // empty: the run is going away
    it = table_.find(id);
    if (it == table_.end()) continue;
    // A host that stops sending while we wait is a host that stops
    // answering: ask, rather than wait for ever.
    if (now - it->second.lastHeard >= std::chrono::milliseconds(options_.timeoutMs)) {
      lk.unlock();
      const HostFailureChoice choice = events_.HostNotResponding();
      if (choice == HostFailureChoice::Abort) End(1, true, "the host did not answer; the connection was abandoned");
      lk.lock();
      if (choice == HostFailureChoice::Retry) {
        if ((it = table_.find(id)) != table_.end()) it->second.lastHeard = Clock::now();
        continue;
      }
      result = kFailAnswer;
      break;
    }
    changed_.wait_for(lk, std::chrono::milliseconds(options_.sliceMs));
  }
  auto it = table_.find(id);
  const bool unfinished =
      it != table_.end() && (it->second.state == State::kWaiting || it->second.cancel);
  lk.unlock();
  // The host may still be sending what we gave up on.
  if (unfinished && !ended_) Send(host::EncodeCancel(id));
  DropEntry(id);
  return finish(result);
}

void RRRequestor::DropEntry(uint32_t id) {
  std::lock_guard guard(lock_);
  auto it = table_.find(id);
  if (it == table_.end()) return;
  if (it->second.fd >= 0) ::close(it->second.fd);
  if (!it->second.path.empty()) ::unlink(it->second.path.c_str());
  table_.erase(it);
}

void RRRequestor::FailEntry(Entry& e) {
  if (e.fd >= 0) ::close(e.fd);
  e.fd = -1;
  if (!e.path.empty()) ::unlink(e.path.c_str());
  e.path.clear();
  e.state = State::kFailed;
  changed_.notify_all();
}

void RRRequestor::End(int exitCode, bool afterAbort, const std::string& reason) {
  if (ended_.exchange(true)) return;
  Log("RRRequestor: connection ended (%d): %s", exitCode, reason.c_str());
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
  {
    std::lock_guard guard(lock_);
    changed_.notify_all();
  }
  events_.HostEnded(exitCode, afterAbort, reason);
}

void RRRequestor::ReadLoop() {
  host::FrameReader frames;
  std::string buffer(host::kMaxChunkBytes, '\0');
  while (!stopReader_) {
    pollfd p{fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, 100);
    if (r < 0 && errno != EINTR) {
      End(1, false, std::strerror(errno));
      return;
    }
    if (r <= 0) continue;
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      if (!stopReader_) End(1, false, n == 0 ? "the host closed the connection" : std::strerror(errno));
      return;
    }
    size_t used = 0;
    while (used < static_cast<size_t>(n)) {
      used += frames.Feed(buffer.data() + used, static_cast<size_t>(n) - used);
      if (frames.Failed()) {
        End(1, false, "the host broke the protocol: " + frames.Error());
        return;
      }
      while (auto frame = frames.Next()) {
        host::Message m;
        std::string error;
        if (!host::DecodeMessage(frame->kind, frame->payload, m, error)) {
          End(1, false, "the host broke the protocol: " + error);
          return;
        }
        Handle(m);
        if (ended_) return;
      }
    }
  }
}

void RRRequestor::Handle(const host::Message& m) {
  switch (m.kind) {
    case host::kReply: {
      bool reused = false;
      {
        std::lock_guard guard(lock_);
        auto p = pending_.find(m.seq);
        if (p == pending_.end()) return;  // a reply after we stopped waiting
        if (p->second.request && m.value != 0 && table_.count(m.value)) {
          reused = true;
          pending_.erase(p);
        } else {
          if (p->second.request && m.value != 0) {
            Entry e;
            e.ext = p->second.ext;
            e.lastHeard = Clock::now();
            table_[m.value] = std::move(e);
          }
          p->second.value = m.value;
        }
        changed_.notify_all();
      }
      // Two requests under one id could not be told apart.
      if (reused) End(1, false, "the host gave request id " + std::to_string(m.value) + " twice");
      return;
    }
    case host::kBegin:
    case host::kData:
    case host::kDelivered:
    case host::kRefused: {
      Answer(m);
      return;
    }
    case host::kQuit:
    case host::kQuitAlt: End(0, false, "the host ended the connection"); return;
    case host::kClipboard: {
      const bool copied = events_.CopyStage(m.value);
      Send(host::EncodeReply(m.seq, copied ? 1 : 0));
      return;
    }
    default: End(1, false, "the host sent message kind " + std::to_string(m.kind) + ", which only a player sends");
  }
}

void RRRequestor::Answer(const host::Message& m) {
  std::lock_guard guard(lock_);
  auto it = table_.find(m.id);
  // Answers for what we no longer wait for (cancelled, given up) are
  // dropped as they come.
  if (it == table_.end() || it->second.state != State::kWaiting) return;
  Entry& e = it->second;
  e.lastHeard = Clock::now();
  if (m.kind == host::kRefused) {
    FailEntry(e);
    e.state = State::kRefused;
    return;
  }
  if (m.kind == host::kBegin) {
    if (e.size) {
      FailEntry(e);
      e.cancel = true;
      return;
    }
    if (m.size > options_.maxResourceBytes) {
      Log("RRRequestor: resource %u of %llu bytes refused (at most %llu)", m.id,
          static_cast<unsigned long long>(m.size), static_cast<unsigned long long>(options_.maxResourceBytes));
      FailEntry(e);
      e.cancel = true;
      return;
    }
    auto file = temp_.CreateUnique("glm", e.ext);
    if (!file) {
      FailEntry(e);
      e.cancel = true;
      return;
    }
    e.fd = file->fd;
    e.path = file->path;
    e.size = m.size;
    return;
  }
  if (!e.size) {  // bytes before their size
    FailEntry(e);
    e.cancel = true;
    return;
  }
  if (m.kind == host::kData) {
    if (e.received + m.data.size() > *e.size || !WriteAll(e.fd, m.data.data(), m.data.size())) {
      FailEntry(e);
      e.cancel = true;
      return;
    }
    e.received += m.data.size();
    return;
  }
  // Delivered: complete only with every announced byte on disk.
  const bool closed = ::close(e.fd) == 0;
  e.fd = -1;
  if (!closed || e.received != *e.size) {
    FailEntry(e);
    return;
  }
  e.state = State::kDelivered;
  changed_.notify_all();
  return;
}

}  // namespace kv
