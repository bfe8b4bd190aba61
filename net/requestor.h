// The hosted player's requestor: the player's end of the hosting protocol
// (net/host_protocol.h). It connects to the host, asks it for resources the
// locator cannot find, streams each answer into a "glm" file of the
// temporary folder, keeps the host informed that it still waits, and ends
// the run when the host goes away. The player owns one in plugin mode.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "net/host_protocol.h"
#include "net/locator.h"
#include "net/temp_folder.h"

namespace kv {

struct RequestorOptions {
  // How long a send, its reply or a resource's next bytes may take before
  // the user is asked whether to retry (the original's 15 seconds).
  int64_t timeoutMs = 15000;
  int64_t keepAliveMs = 5000;
  // The largest resource a host may answer (bytes written to one file).
  uint64_t maxResourceBytes = uint64_t(1) << 30;
  // The longest a waiting caller goes without looking at its stop test.
  int64_t sliceMs = 75;
};

enum class HostFailureChoice { Abort, Retry, Ignore };

// What the requestor asks of the run that owns it. Called on the requesting
// thread, except HostEnded and CopyStage, which may come from the reader.
class RequestorEvents {
 public:
  virtual ~RequestorEvents() = default;
  // The host did not answer in time: the Abort/Retry/Ignore question.
  virtual HostFailureChoice HostNotResponding() = 0;
  // The connection is over: exit code 0 when the host ended it, 1 when it
  // vanished, broke the protocol or the user chose Abort (`afterAbort`).
  virtual void HostEnded(int exitCode, bool afterAbort, const std::string& reason) = 0;
  // The host asks for the stage picture (2) or palette (9) on the clipboard.
  virtual bool CopyStage(uint32_t /*format*/) { return false; }
  // A waiting request ends with an empty answer (shutting down, no project).
  virtual bool StopWaiting() { return false; }
  // The project tree's description of a ".kvg" request, or empty.
  virtual std::string MappedName(const std::string& /*name*/) { return {}; }
};

class RRRequestor final : public RemoteRequestor {
 public:
  RRRequestor(TempFolder temp, RequestorOptions options, RequestorEvents& events);
  ~RRRequestor() override;
  RRRequestor(const RRRequestor&) = delete;
  RRRequestor& operator=(const RRRequestor&) = delete;

  // The socket of a "/server" value: "fd:N" (inherited from the host) or
  // the path of a listening Unix-domain socket. -1 with a reason on failure.
  static int OpenServer(const std::string& server, std::string& error);

  // Takes `fd`, starts the reader and sends the connect message; false
  // (with a reason) when the host refuses, does not answer or is gone.
  bool Connect(int fd, std::string& error);
  // Sends the disconnect message, stops the reader, closes the socket and
  // empties the request table.
  void Disconnect();
  bool Connected() const { return connected_ && !ended_; }

  std::string PluginGetRemoteResource(const std::string& name, int* found) override;

 private:
  // The original's states 1-3, and 4 for an answer we could not take.
  enum class State { kWaiting = 1, kDelivered = 2, kRefused = 3, kFailed = 4 };
  struct Entry {
    State state = State::kWaiting;
    int fd = -1;
    std::string path;  // the file being written, then delivered
    std::optional<uint64_t> size;
    uint64_t received = 0;
    std::string ext;
    std::chrono::steady_clock::time_point lastHeard;
    bool cancel = false;  // the host is to stop sending it
  };
  struct Pending {
    bool request = false;  // a request: its reply's value is a request id
    std::optional<uint32_t> value;
    std::string ext;
  };

  void ReadLoop();
  void Handle(const host::Message& m);
  bool Send(const std::string& frame);
  // Sends a frame made for a fresh sequence number and waits for its reply;
  // nothing for silence answered Ignore or Abort, or a lost connection.
  std::optional<uint32_t> SendAndWait(uint32_t kind, const std::string& name, const std::string& mapped);
  void End(int exitCode, bool afterAbort, const std::string& reason);
  void FailEntry(Entry& e);
  // A resource's answer (begin, data, delivered, refused) into the table.
  void Answer(const host::Message& m);
  void DropEntry(uint32_t id);

  TempFolder temp_;
  RequestorOptions options_;
  RequestorEvents& events_;
  int fd_ = -1;
  std::thread reader_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> ended_{false};
  std::atomic<bool> stopReader_{false};
  std::mutex writeLock_;
  std::mutex lock_;  // the request table, the pending replies
  std::condition_variable changed_;
  std::map<uint32_t, Entry> table_;
  std::map<uint32_t, Pending> pending_;
  uint32_t nextSeq_ = 1;
  std::chrono::steady_clock::time_point lastKeepAlive_;
};

}  // namespace kv
