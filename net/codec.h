// Shared result type of the compilation-archive decoders (predictor, LZSS,
// LZHUF). The archive reader, kvtool and the fuzz targets call them on whole
// in-memory entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace kv {

enum class CodecStatus {
  Ok,
  Truncated,  // the input ended inside a code
  TooLarge,   // the output would exceed the caller's cap or the input's bound
  Corrupt,    // a code that no encoder writes
};

const char* CodecStatusText(CodecStatus status);

inline constexpr size_t kNoOutputCap = std::numeric_limits<size_t>::max();

}  // namespace kv
