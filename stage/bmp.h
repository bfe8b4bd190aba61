// A small reader of uncompressed BMP files (8, 16, 24 and 32 bits), for the
// compose tool, tests and sprites loaded from files until the codec library
// arrives. Input is untrusted: every size is checked before use.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "stage/picture.h"

namespace kv {

// nullopt with `error` set for anything that is not a well-formed
// uncompressed picture of a supported depth.
std::optional<DecodedPicture> ReadBmp(std::span<const uint8_t> file, std::string* error = nullptr);
std::optional<DecodedPicture> ReadBmpFile(const std::string& path, std::string* error = nullptr);

}  // namespace kv
