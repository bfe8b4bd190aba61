// The compilation archive's LZSS method (0x9000): a 4096-byte ring buffer
// pre-filled with spaces, writing from 4078, matches of 3 to 18 bytes, one
// flag byte (lowest bit first, set = literal) before every eight units.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "net/codec.h"

namespace kv {

// The stream has no length: it ends with the input. Input that stops inside
// a pair, or after a flag announcing a literal, is truncated.
CodecStatus DecodeLzss(std::span<const uint8_t> in, std::vector<uint8_t>& out, size_t maxOut = kNoOutputCap);

std::vector<uint8_t> EncodeLzss(std::span<const uint8_t> in);

}  // namespace kv
