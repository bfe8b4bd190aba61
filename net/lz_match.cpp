#include "net/lz_match.h"

#include <algorithm>

namespace kv {
namespace {

constexpr size_t kHashBits = 15;
constexpr size_t kMinMatch = 3;
// Chains are cut short: the encoders trade a little ratio for a bounded cost
// on long runs of equal bytes.
constexpr int kMaxChain = 96;

}  // namespace


LzMatchFinder::LzMatchFinder(std::span<const uint8_t> data, size_t window, size_t maxLength)
    : data_(data), window_(window), maxLength_(maxLength), head_(size_t{1} << kHashBits, -1), prev_(window, -1) {}

uint32_t LzMatchFinder::HashAt(size_t pos) const {
  uint32_t v = uint32_t(data_[pos]) << 16 | uint32_t(data_[pos + 1]) << 8 | data_[pos + 2];
  return (v * 2654435761u) >> (32 - kHashBits);
}

void LzMatchFinder::Insert(size_t pos) {
  if (pos + kMinMatch > data_.size()) return;
  uint32_t h = HashAt(pos);
  prev_[pos % window_] = head_[h];
  head_[h] = static_cast<int64_t>(pos);
}

LzMatchFinder::Match LzMatchFinder::Find(size_t pos) {
  Match best;
  if (pos + kMinMatch > data_.size()) return best;
  const size_t limit = std::min(maxLength_, data_.size() - pos);
  int64_t cand = head_[HashAt(pos)];
  for (int chain = 0; cand >= 0 && chain < kMaxChain; ++chain) {
    size_t c = static_cast<size_t>(cand);
    size_t dist = pos - c;
    if (dist > window_) break;
    if (data_[c + best.length] == data_[pos + best.length] || best.length == 0) {
      size_t len = 0;
      while (len < limit && data_[c + len] == data_[pos + len]) ++len;
      if (len > best.length) {
        best = {len, dist};
        if (len == limit) break;
      }
    }
    int64_t next = prev_[c % window_];
    // A slot reused by a newer position ends the chain.
    if (next >= cand) break;
    cand = next;
  }
  if (best.length < kMinMatch) best = {};
  Insert(pos);
  return best;
}

}  // namespace kv
