// A scripted HTTP peer on 127.0.0.1 for the client's tests: it plays the same
// script of sends, pauses and closes on each connection, records what each
// client sent, and stops by itself when its connections are served or after
// a few seconds without one.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kv::test {

struct ServerStep {
  enum Kind { kReadRequest, kSend, kPause, kClose, kReset } kind;
  std::string bytes;  // kSend
  int ms = 0;         // kPause

  static ServerStep ReadRequest() { return {kReadRequest, {}, 0}; }
  static ServerStep Send(std::string b) { return {kSend, std::move(b), 0}; }
  static ServerStep Pause(int ms) { return {kPause, {}, ms}; }
  static ServerStep Close() { return {kClose, {}, 0}; }
  static ServerStep Reset() { return {kReset, {}, 0}; }  // close with a reset, not an orderly end
};

class LoopbackServer {
 public:
  explicit LoopbackServer(std::vector<ServerStep> script, int connections = 1);
  ~LoopbackServer();

  uint16_t port() const { return port_; }
  std::string Url(const std::string& path) const;
  // What the clients sent, one entry per connection served (waits for the
  // server to finish first).
  std::vector<std::string> Requests();

 private:
  void Run(int connections);
  void Serve(int fd);
  bool Sleep(int ms);  // false when told to stop

  std::vector<ServerStep> script_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A free port on 127.0.0.1 at the moment of the call.
uint16_t FreeLoopbackPort();

}  // namespace kv::test
