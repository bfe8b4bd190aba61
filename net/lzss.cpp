#include "net/lzss.h"

#include "net/lz_match.h"

namespace kv {
namespace {

constexpr size_t kRing = 4096;
constexpr size_t kLookahead = 18;
constexpr size_t kThreshold = 2;
constexpr size_t kStart = kRing - kLookahead;  // 4078

}  // namespace

CodecStatus DecodeLzss(std::span<const uint8_t> in, std::vector<uint8_t>& out, size_t maxOut) {
  out.clear();
  uint8_t ring[kRing];
  for (size_t i = 0; i < kStart; ++i) ring[i] = ' ';
  for (size_t i = kStart; i < kRing; ++i) ring[i] = 0;
  size_t r = kStart;
  size_t pos = 0;
  const size_t n = in.size();
  while (pos < n) {
    unsigned flags = in[pos++];
    for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
      if (flags & 1) {
        if (pos >= n) return CodecStatus::Truncated;
        if (out.size() >= maxOut) return CodecStatus::TooLarge;
        uint8_t c = in[pos++];
        out.push_back(c);
        ring[r] = c;
        r = (r + 1) & (kRing - 1);
      } else {
        // The encoder leaves the unused bits of the last flag byte clear, so
        // the end of input here is the normal end of the stream.
        if (pos >= n) return CodecStatus::Ok;
        if (pos + 1 >= n) return CodecStatus::Truncated;
        size_t src = in[pos] | (size_t(in[pos + 1] & 0xF0) << 4);
        size_t len = (in[pos + 1] & 0x0F) + kThreshold + 1;
        pos += 2;
        if (maxOut - out.size() < len) return CodecStatus::TooLarge;
        for (size_t k = 0; k < len; ++k) {
          uint8_t c = ring[(src + k) & (kRing - 1)];
          out.push_back(c);
          ring[r] = c;
          r = (r + 1) & (kRing - 1);
        }
      }
    }
  }
  return CodecStatus::Ok;
}

std::vector<uint8_t> EncodeLzss(std::span<const uint8_t> in) {
  std::vector<uint8_t> out;
  out.reserve(in.size() + in.size() / 8 + 1);
  LzMatchFinder finder(in, kRing - kLookahead, kLookahead);
  size_t r = kStart;  // the decoder's write position, to turn distances into ring positions
  size_t i = 0;
  while (i < in.size()) {
    size_t flagAt = out.size();
    out.push_back(0);
    for (int bit = 0; bit < 8 && i < in.size(); ++bit) {
      LzMatchFinder::Match m = finder.Find(i);
      if (m.length > kThreshold) {
        size_t src = (r - m.distance) & (kRing - 1);
        out.push_back(static_cast<uint8_t>(src & 0xFF));
        out.push_back(static_cast<uint8_t>(((src >> 4) & 0xF0) | (m.length - kThreshold - 1)));
        for (size_t k = 1; k < m.length; ++k) finder.Skip(i + k);
        i += m.length;
        r = (r + m.length) & (kRing - 1);
      } else {
        out[flagAt] |= static_cast<uint8_t>(1u << bit);
        out.push_back(in[i++]);
        r = (r + 1) & (kRing - 1);
      }
    }
  }
  return out;
}

}  // namespace kv
