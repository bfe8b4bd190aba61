#include "tests/net/loopback_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace kv::test {
namespace {

constexpr int kAcceptWaitMs = 5000;   // a test that never connects still ends
constexpr int kRequestWaitMs = 5000;
constexpr size_t kMaxRequest = 64u << 20;

sockaddr_in Loopback(uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

size_t HeaderEnd(const std::string& s) {
  size_t crlf = s.find("\r\n\r\n");
  if (crlf != std::string::npos) return crlf + 4;
  size_t lf = s.find("\n\n");
  return lf == std::string::npos ? std::string::npos : lf + 2;
}

size_t DeclaredLength(const std::string& header) {
  for (size_t at = 0; (at = header.find('\n', at)) != std::string::npos;) {
    ++at;
    if (strncasecmp(header.c_str() + at, "Content-Length:", 15) == 0) return std::stoul(header.substr(at + 15));
  }
  return 0;
}

}  // namespace

uint16_t FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("no free loopback port");
  }
  ::close(fd);
  return ntohs(a.sin_port);
}

LoopbackServer::LoopbackServer(std::vector<ServerStep> script, int connections) : script_(std::move(script)) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listenFd_, 8) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    throw std::runtime_error("cannot listen on 127.0.0.1");
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this, connections] { Run(connections); });
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard lock(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  ::close(listenFd_);
}

std::string LoopbackServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackServer::Requests() {
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(lock_);
  return requests_;
}

bool LoopbackServer::Sleep(int ms) {
  std::unique_lock lock(lock_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stop_; });
}

void LoopbackServer::Run(int connections) {
  for (int served = 0; served < connections;) {
    int waited = 0;
    pollfd p{listenFd_, POLLIN, 0};
    while (::poll(&p, 1, 50) == 0) {
      waited += 50;
      if (waited >= kAcceptWaitMs || !Sleep(0)) return;
    }
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    Serve(fd);
    ::close(fd);
    ++served;
  }
}

void LoopbackServer::Serve(int fd) {
  std::string got;
  for (const ServerStep& step : script_) {
    switch (step.kind) {
      case ServerStep::kReadRequest: {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRequestWaitMs);
        for (;;) {
          size_t end = HeaderEnd(got);
          if (end != std::string::npos && got.size() >= end + DeclaredLength(got.substr(0, end))) break;
          if (std::chrono::steady_clock::now() > deadline || got.size() > kMaxRequest || !Sleep(0)) break;
          pollfd p{fd, POLLIN, 0};
          if (::poll(&p, 1, 50) <= 0) continue;
          char buf[65536];
          ssize_t n = ::recv(fd, buf, sizeof buf, 0);
          if (n <= 0) break;
          got.append(buf, static_cast<size_t>(n));
        }
        break;
      }
      case ServerStep::kSend:
        // A client that has gone is no failure of the server.
        for (size_t done = 0; done < step.bytes.size();) {
          ssize_t n = ::send(fd, step.bytes.data() + done, step.bytes.size() - done, MSG_NOSIGNAL);
          if (n <= 0) break;
          done += static_cast<size_t>(n);
        }
        break;
      case ServerStep::kPause:
        if (!Sleep(step.ms)) goto done;
        break;
      case ServerStep::kClose:
        goto done;
      case ServerStep::kReset: {
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        goto done;
      }
    }
  }
done:
  std::lock_guard lock(lock_);
  requests_.push_back(std::move(got));
}

}  // namespace kv::test
