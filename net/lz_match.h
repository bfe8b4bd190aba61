// Longest-match search over a sliding window for the LZSS and LZHUF encoders
// (kvtool pack-kvg and the tests). Hash chains over three-byte prefixes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kv {

class LzMatchFinder {
 public:
  // `window`: largest distance back; `maxLength`: longest match reported.
  LzMatchFinder(std::span<const uint8_t> data, size_t window, size_t maxLength);

  struct Match {
    size_t length = 0;    // 0 when nothing of at least three bytes matches
    size_t distance = 0;  // 1 = the byte just before
  };
  // Best match for the bytes at `pos`; positions must be visited in order,
  // each exactly once (through Find or Skip).
  Match Find(size_t pos);
  void Skip(size_t pos) { Insert(pos); }

 private:
  void Insert(size_t pos);
  uint32_t HashAt(size_t pos) const;

  std::span<const uint8_t> data_;
  size_t window_;
  size_t maxLength_;
  std::vector<int64_t> head_;
  std::vector<int64_t> prev_;
};

}  // namespace kv
