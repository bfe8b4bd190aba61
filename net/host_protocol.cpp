#include "net/host_protocol.h"

#include <algorithm>
#include <cstring>

namespace kv::host {

namespace {

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t GetU32(std::string_view s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return v;
}

uint64_t GetU64(std::string_view s, size_t at) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t(static_cast<uint8_t>(s[at + i])) << (8 * i);
  return v;
}

// A name is sent as its bytes and one zero; longer names are cut, so a frame
// never carries more than the limit (the requestor refuses them before).
void PutName(std::string& out, std::string_view name) {
  name = name.substr(0, std::min(name.find('\0'), kMaxNameBytes));
  out.append(name);
  out.push_back('\0');
}

std::string Frame(uint32_t kind, const std::string& payload) {
  std::string out;
  out.reserve(kHeaderBytes + payload.size());
  PutU32(out, kind);
  PutU32(out, static_cast<uint32_t>(payload.size()));
  out += payload;
  return out;
}

std::string TwoWords(uint32_t kind, uint32_t first, uint32_t second) {
  std::string p;
  PutU32(p, first);
  PutU32(p, second);
  return Frame(kind, p);
}

std::string IdAndName(uint32_t kind, uint32_t id, std::string_view name) {
  std::string p;
  PutU32(p, id);
  PutName(p, name);
  return Frame(kind, p);
}

// Reads one zero-terminated name at `at`; advances past its zero.
bool TakeName(std::string_view payload, size_t& at, std::string& out, std::string& error) {
  const size_t zero = payload.find('\0', at);
  if (zero == std::string_view::npos) {
    error = "a name is not terminated";
    return false;
  }
  if (zero - at > kMaxNameBytes) {
    error = "a name is longer than 500 bytes";
    return false;
  }
  out.assign(payload.substr(at, zero - at));
  at = zero + 1;
  return true;
}

bool Fixed(std::string_view payload, size_t want, const char* what, std::string& error) {
  if (payload.size() == want) return true;
  error = std::string(what) + ": payload of " + std::to_string(payload.size()) + " bytes, " + std::to_string(want) +
          " expected";
  return false;
}

}  // namespace

std::string EncodeConnect(uint32_t seq) { return TwoWords(kConnect, kProtocolVersion, seq); }

std::string EncodeRequest(uint32_t seq, std::string_view name, std::string_view mapped) {
  std::string p;
  PutU32(p, seq);
  PutName(p, name);
  PutName(p, mapped);
  return Frame(kRequest, p);
}

std::string EncodeCancel(uint32_t id) {
  std::string p;
  PutU32(p, id);
  return Frame(kCancel, p);
}

std::string EncodeKeepAlive() {
  std::string p;
  PutU32(p, kKeepAliveValue);
  return Frame(kKeepAlive, p);
}

std::string EncodeDisconnect() { return Frame(kDisconnect, {}); }

std::string EncodeReply(uint32_t seq, uint32_t value) { return TwoWords(kReply, seq, value); }
std::string EncodeDelivered(uint32_t id, std::string_view name) { return IdAndName(kDelivered, id, name); }
std::string EncodeRefused(uint32_t id, std::string_view name) { return IdAndName(kRefused, id, name); }

std::string EncodeQuit(uint32_t kind) { return Frame(kind == kQuitAlt ? kQuitAlt : kQuit, {}); }

std::string EncodeClipboard(uint32_t seq, uint32_t format) { return TwoWords(kClipboard, seq, format); }

std::string EncodeBegin(uint32_t id, uint64_t size) {
  std::string p;
  PutU32(p, id);
  PutU64(p, size);
  return Frame(kBegin, p);
}

std::string EncodeData(uint32_t id, std::string_view bytes) {
  std::string p;
  PutU32(p, id);
  p.append(bytes.substr(0, kMaxChunkBytes));
  return Frame(kData, p);
}

bool DecodeMessage(uint32_t kind, std::string_view payload, Message& out, std::string& error) {
  out = Message{};
  out.kind = kind;
  size_t at = 0;
  switch (kind) {
    case kDelivered:
    case kRefused:
      if (payload.size() < 5) {
        error = "answer shorter than an id and a name";
        return false;
      }
      out.id = GetU32(payload, 0);
      at = 4;
      if (!TakeName(payload, at, out.name, error)) return false;
      if (at != payload.size()) {
        error = "bytes after the name";
        return false;
      }
      return true;
    case kQuit:
    case kQuitAlt:
    case kDisconnect: return Fixed(payload, 0, "end of connection", error);
    case kConnect:
      if (!Fixed(payload, 8, "connect", error)) return false;
      out.value = GetU32(payload, 0);
      out.seq = GetU32(payload, 4);
      return true;
    case kRequest:
      if (payload.size() < 6) {
        error = "request shorter than a sequence and two names";
        return false;
      }
      out.seq = GetU32(payload, 0);
      at = 4;
      if (!TakeName(payload, at, out.name, error) || !TakeName(payload, at, out.mapped, error)) return false;
      if (at != payload.size()) {
        error = "bytes after the mapped name";
        return false;
      }
      return true;
    case kCancel:
      if (!Fixed(payload, 4, "cancel", error)) return false;
      out.id = GetU32(payload, 0);
      return true;
    case kKeepAlive:
      if (!Fixed(payload, 4, "keep-alive", error)) return false;
      out.value = GetU32(payload, 0);
      return true;
    case kClipboard:
    case kReply:
      if (!Fixed(payload, 8, kind == kReply ? "reply" : "clipboard", error)) return false;
      out.seq = GetU32(payload, 0);
      out.value = GetU32(payload, 4);
      return true;
    case kBegin:
      if (!Fixed(payload, 12, "begin", error)) return false;
      out.id = GetU32(payload, 0);
      out.size = GetU64(payload, 4);
      return true;
    case kData:
      if (payload.size() < 5 || payload.size() > 4 + kMaxChunkBytes) {
        error = "data chunk of " + std::to_string(payload.size() < 4 ? 0 : payload.size() - 4) + " bytes";
        return false;
      }
      out.id = GetU32(payload, 0);
      out.data = payload.substr(4);
      return true;
    default: error = "unknown message kind " + std::to_string(kind); return false;
  }
}

size_t FrameReader::Feed(const char* data, size_t size) {
  size_t used = 0;
  while (used < size && !complete_ && error_.empty()) {
    if (headerHave_ < kHeaderBytes) {
      const size_t n = std::min(kHeaderBytes - headerHave_, size - used);
      std::memcpy(header_ + headerHave_, data + used, n);
      headerHave_ += n;
      used += n;
      if (headerHave_ < kHeaderBytes) break;
      const std::string_view h(header_, kHeaderBytes);
      kind_ = GetU32(h, 0);
      length_ = GetU32(h, 4);
      if (length_ > kMaxPayloadBytes) {
        error_ = "a frame announces " + std::to_string(length_) + " bytes, more than " +
                 std::to_string(kMaxPayloadBytes);
        break;
      }
      payload_.clear();
      payload_.reserve(length_);
    }
    const size_t n = std::min<size_t>(length_ - payload_.size(), size - used);
    payload_.append(data + used, n);
    used += n;
    if (payload_.size() == length_) complete_ = true;
  }
  return used;
}

std::optional<FrameReader::Frame> FrameReader::Next() {
  if (!complete_) return std::nullopt;
  Frame f{kind_, std::move(payload_)};
  payload_.clear();
  headerHave_ = 0;
  complete_ = false;
  return f;
}

}  // namespace kv::host
