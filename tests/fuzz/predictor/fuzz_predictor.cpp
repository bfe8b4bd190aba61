// Decodes arbitrary bytes as a predictor stream (with a cap), then checks that the
// encoder's output of the same bytes decodes back to them.
#include <cstdint>
#include <algorithm>
#include <vector>

#include "net/predictor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> in(data, size);
  std::vector<uint8_t> out;
  kv::DecodePredictor(in, out, size_t(1) << 24);
  std::vector<uint8_t> packed = kv::EncodePredictor(in);
  if (kv::DecodePredictor(packed, out) != kv::CodecStatus::Ok || out.size() != size ||
      !std::equal(out.begin(), out.end(), data))
    __builtin_trap();
  return 0;
}
