// The per-thread pseudo-random source scripts rely on: the classic 15-bit
// linear congruential generator (x * 214013 + 2531011, bits 16 to 30).
#pragma once

#include <cstdint>

namespace kv {

class RandomSource {
 public:
  explicit RandomSource(uint32_t seed = 1) : state_(seed) {}
  void Seed(uint32_t seed) { state_ = seed; }
  // 0 to 32767.
  uint32_t Next() {
    state_ = state_ * 214013u + 2531011u;
    return (state_ >> 16) & 0x7FFF;
  }

 private:
  uint32_t state_;
};

}  // namespace kv
