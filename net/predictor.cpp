#include "net/predictor.h"

#include <vector>

namespace kv {
namespace {

constexpr size_t kTableSize = 32768;

inline size_t IndexOf(uint8_t beforePrevious, uint8_t previous) {
  return (size_t(beforePrevious) * 128) ^ previous;
}

}  // namespace

CodecStatus DecodePredictor(std::span<const uint8_t> in, std::vector<uint8_t>& out, size_t maxOut) {
  out.clear();
  if (in.empty()) return CodecStatus::Ok;
  std::vector<uint8_t> table(kTableSize, in[0]);
  size_t pos = 1;
  uint8_t p1 = 0, p2 = 0;
  while (pos < in.size()) {
    unsigned flags = in[pos++];
    for (int bit = 0; bit < 8; ++bit, flags >>= 1) {
      size_t index = IndexOf(p2, p1);
      uint8_t c;
      if (flags & 1) {
        c = table[index];
      } else {
        if (pos >= in.size()) return CodecStatus::Ok;
        c = in[pos++];
        table[index] = c;
      }
      if (out.size() >= maxOut) return CodecStatus::TooLarge;
      out.push_back(c);
      p2 = p1;
      p1 = c;
    }
  }
  return CodecStatus::Ok;
}

std::vector<uint8_t> EncodePredictor(std::span<const uint8_t> in) {
  std::vector<uint8_t> out;
  if (in.empty()) return out;
  out.reserve(in.size() + in.size() / 8 + 2);
  std::vector<uint8_t> table(kTableSize, in[0]);
  out.push_back(in[0]);
  uint8_t p1 = 0, p2 = 0;
  size_t i = 0;
  while (i < in.size()) {
    size_t flagAt = out.size();
    out.push_back(0);
    // Bits left clear after the last unit read as a literal that is not
    // there, which ends the stream.
    for (int bit = 0; bit < 8 && i < in.size(); ++bit) {
      uint8_t c = in[i++];
      size_t index = IndexOf(p2, p1);
      if (table[index] == c) {
        out[flagAt] |= static_cast<uint8_t>(1u << bit);
      } else {
        table[index] = c;
        out.push_back(c);
      }
      p2 = p1;
      p1 = c;
    }
  }
  return out;
}

}  // namespace kv
