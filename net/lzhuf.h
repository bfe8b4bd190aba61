// The compilation archive's LZHUF method (0x5000): LZSS over a 4096-byte
// window (spaces up to 4035, writing from 4036, matches of 3 to 60 bytes)
// with adaptive Huffman coding of 314 symbols, rebuilt when the root count
// reaches 0x8000, and a fixed code for the upper six bits of match positions.
// The stream starts with the decoded length (u32, little-endian).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "net/codec.h"

namespace kv {

// A declared length larger than `maxOut`, or larger than the input could
// hold (48 bytes per input byte), fails before anything is decoded; codes
// read past the end of the input fail as truncated.
CodecStatus DecodeLzhuf(std::span<const uint8_t> in, std::vector<uint8_t>& out, size_t maxOut = kNoOutputCap);

std::vector<uint8_t> EncodeLzhuf(std::span<const uint8_t> in);

// The largest output a stream of `inputBytes` bytes can declare and decode.
size_t LzhufOutputBound(size_t inputBytes);

}  // namespace kv
