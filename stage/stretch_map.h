// Source indexes for the nearest-neighbour stretch, shared by the compositor
// (per draw) and hit testing, so that a click reads the pixel that was drawn.
#pragma once

#include <cstdint>

namespace kv {

// Destination position d of a dstLen-long run taken from a srcLen-long one.
// Equivalent to stepping with an exact integer remainder: each source column
// is written dstLen / srcLen times, the remainder dstLen % srcLen accumulates,
// and each time it reaches srcLen one more copy is written. So 2 -> 5 writes
// the first column twice and the second three times, and every destination
// column is written for every ratio (no dropped last column).
inline int32_t StretchSource(int64_t d, int64_t srcLen, int64_t dstLen) {
  return int32_t(((d + 1) * srcLen - 1) / dstLen);
}

// Fills out[i] = srcStart + StretchSource(from + i) for i in [0, count).
// Lengths and the offset are 64-bit: a destination wider than int's range
// (from stored coordinates) still maps every column inside the source.
inline void BuildStretchMap(int srcStart, int64_t srcLen, int64_t dstLen, int64_t from, int count, int32_t* out) {
  for (int i = 0; i < count; ++i) out[i] = srcStart + StretchSource(from + i, srcLen, dstLen);
}

}  // namespace kv
