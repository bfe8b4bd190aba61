// The hosting protocol: how a hosted player and the program hosting it talk
// over a Unix-domain stream socket. Framing, the messages and their limits;
// docs/hosting-protocol.md is the description for host writers. Used by the
// player's requestor and by hosts (tools/kvhost, the tests' host).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::host {

inline constexpr uint32_t kProtocolVersion = 1;

// Message kinds. 1-9 and 4097 keep the numbers of the window messages they
// replace; 6, 10, 11 and 16 exist because a socket has no synchronous answer
// and carries the resource's bytes itself.
enum Kind : uint32_t {
  kDelivered = 1,    // host -> player: u32 id, name
  kRefused = 2,      // host -> player: u32 id, name
  kQuit = 3,         // host -> player: the host ends the connection
  kConnect = 4,      // player -> host: u32 version, u32 seq
  kRequest = 5,      // player -> host: u32 seq, name, mapped name
  kCancel = 6,       // player -> host: u32 id, the player no longer wants it
  kQuitAlt = 7,      // host -> player: as 3
  kKeepAlive = 8,    // player -> host: u32 90
  kClipboard = 9,    // host -> player: u32 seq, u32 format (2 bitmap, 9 palette)
  kData = 10,        // host -> player: u32 id, 1..65536 bytes of the resource
  kBegin = 11,       // host -> player: u32 id, u64 size of the resource
  kReply = 16,       // either way: u32 seq, u32 value
  kDisconnect = 4097  // player -> host: nothing
};

inline constexpr size_t kHeaderBytes = 8;       // u32 kind, u32 payload length
inline constexpr size_t kMaxNameBytes = 500;    // a name's bytes, without its terminating zero
inline constexpr size_t kMaxChunkBytes = 65536;  // resource bytes in one data message
inline constexpr size_t kMaxPayloadBytes = 4 + kMaxChunkBytes;
inline constexpr uint32_t kKeepAliveValue = 90;

// One decoded message; which fields are meaningful depends on `kind`.
struct Message {
  uint32_t kind = 0;
  uint32_t seq = 0;    // connect, request, clipboard, reply
  uint32_t id = 0;     // delivered, refused, cancel, data, begin
  uint32_t value = 0;  // reply's value, connect's version, clipboard's format, keep-alive's 90
  uint64_t size = 0;   // begin
  std::string name;    // request, delivered, refused
  std::string mapped;  // request
  std::string_view data;  // data: a view into the frame's payload
};

// Encoders: one whole frame, header included.
std::string EncodeConnect(uint32_t seq);
std::string EncodeRequest(uint32_t seq, std::string_view name, std::string_view mapped);
std::string EncodeCancel(uint32_t id);
std::string EncodeKeepAlive();
std::string EncodeDisconnect();
std::string EncodeReply(uint32_t seq, uint32_t value);
std::string EncodeDelivered(uint32_t id, std::string_view name);
std::string EncodeRefused(uint32_t id, std::string_view name);
std::string EncodeQuit(uint32_t kind = kQuit);
std::string EncodeClipboard(uint32_t seq, uint32_t format);
std::string EncodeBegin(uint32_t id, uint64_t size);
std::string EncodeData(uint32_t id, std::string_view bytes);

// Checks a frame's payload against its kind; false with a reason for an
// unknown kind, a wrong length, a name too long or not terminated, an
// empty or oversized data chunk. `out.data` points into `payload`.
bool DecodeMessage(uint32_t kind, std::string_view payload, Message& out, std::string& error);

// Splits a byte stream into frames. Bytes are fed as they arrive; a frame is
// complete when its whole payload is in. Holds at most one frame's bytes, so
// a peer cannot make it grow: a header announcing more than
// kMaxPayloadBytes is an error and the stream is unusable from then on.
class FrameReader {
 public:
  struct Frame {
    uint32_t kind = 0;
    std::string payload;
  };
  // Appends bytes; answers how many were taken (fewer than given once a
  // frame is complete: take it with Next and feed the rest).
  size_t Feed(const char* data, size_t size);
  // The completed frame, if any; the reader then starts on the next one.
  std::optional<Frame> Next();
  bool Failed() const { return !error_.empty(); }
  const std::string& Error() const { return error_; }

 private:
  char header_[kHeaderBytes] = {};
  size_t headerHave_ = 0;
  uint32_t kind_ = 0;
  uint32_t length_ = 0;
  std::string payload_;
  bool complete_ = false;
  std::string error_;
};

}  // namespace kv::host
