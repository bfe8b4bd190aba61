// The host's end of the hosting protocol: reading a player's messages and
// answering them, streaming resources from files. Used by tools/kvhost and by
// the tests' hosts; a host in another language follows
// docs/hosting-protocol.md instead.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "net/host_protocol.h"

namespace kv::host {

class HostConnection {
 public:
  explicit HostConnection(int fd);  // takes the socket
  ~HostConnection();
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  enum class Received { Message, TimedOut, Closed, Broken };
  // The player's next message, waiting at most `timeoutMs` (-1: no limit).
  Received Receive(Message& out, int timeoutMs, std::string* error = nullptr);
  // Whole frames from any thread: one sender at a time.
  bool SendRaw(const std::string& bytes);
  // Begin, the file's bytes in chunks, delivered; false when the file
  // cannot be read or the player is gone.
  bool SendFile(uint32_t id, const std::string& name, const std::string& path);
  void Close();
  int fd() const { return fd_; }

 private:
  int fd_;
  std::mutex sendLock_;
  FrameReader reader_;
  std::string buffer_;
  size_t bufferUsed_ = 0;
  size_t bufferHave_ = 0;
  FrameReader::Frame frame_;  // the last message's bytes
};

// What a name asked for becomes on the host: a file to send, or refused.
using ResourceFinder = std::function<std::optional<std::string>(const std::string& name, const std::string& mapped)>;

// Answers one player until it disconnects or goes: accepts the connection,
// numbers requests from 1 and sends each found file, refuses the others.
// Answers the player's exit: true when it disconnected in order.
bool ServePlayer(HostConnection& connection, const ResourceFinder& find, std::string* error = nullptr);

// A request name as a path below a folder: separators made "/", a base URL
// prefix (any letter case) and leading separators removed. Nothing for an
// empty name or one with a ".." or "." component, which could leave the
// folder.
std::optional<std::string> RelativeResourcePath(const std::string& name, const std::string& baseUrl);

}  // namespace kv::host
