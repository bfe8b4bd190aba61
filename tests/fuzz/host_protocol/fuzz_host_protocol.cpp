// Feeds arbitrary bytes, as a host would send them, to the hosting
// protocol's reader: the first byte chooses how the stream is cut into
// reads (the reader must not depend on it), the rest is the stream. Every
// completed frame is decoded as the requestor decodes it.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "net/host_protocol.h"

namespace {

std::vector<std::pair<uint32_t, std::string>> Read(const uint8_t* data, size_t size, size_t step) {
  kv::host::FrameReader reader;
  std::vector<std::pair<uint32_t, std::string>> frames;
  for (size_t at = 0; at < size && !reader.Failed();) {
    const size_t n = std::min(step, size - at);
    size_t used = 0;
    while (used < n && !reader.Failed()) {
      used += reader.Feed(reinterpret_cast<const char*>(data) + at + used, n - used);
      while (auto f = reader.Next()) {
        if (f->payload.size() > kv::host::kMaxPayloadBytes) std::abort();
        kv::host::Message m;
        std::string error;
        if (kv::host::DecodeMessage(f->kind, f->payload, m, error)) {
          if (m.name.size() > kv::host::kMaxNameBytes || m.data.size() > kv::host::kMaxChunkBytes) std::abort();
        } else if (error.empty()) {
          std::abort();  // a refusal always says why
        }
        frames.emplace_back(f->kind, std::move(f->payload));
      }
    }
    at += n;
  }
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t step = 1 + data[0] % 97;
  // However the stream is cut, the same frames come out.
  if (Read(data + 1, size - 1, step) != Read(data + 1, size - 1, size)) std::abort();
  return 0;
}
