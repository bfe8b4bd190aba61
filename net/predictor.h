// The compilation archive's predictor method (0x3000): a 32768-byte table of
// guesses indexed by the two previous output bytes. The first stored byte
// fills the table; then each flag byte covers eight units, lowest bit first:
// set = the guess was right, clear = a literal follows and becomes the guess.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "net/codec.h"

namespace kv {

// The stream ends with its input; at most eight bytes come from each flag
// byte, so the output is bounded by the input.
CodecStatus DecodePredictor(std::span<const uint8_t> in, std::vector<uint8_t>& out, size_t maxOut = kNoOutputCap);

std::vector<uint8_t> EncodePredictor(std::span<const uint8_t> in);

}  // namespace kv
