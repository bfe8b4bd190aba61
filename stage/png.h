// Writes a PixelBuffer as an 8-bit RGB PNG file (snapshots of the stage for
// visual tests, bug reports and the compose tool).
#pragma once

#include <string>

#include "stage/pixel_buffer.h"

namespace kv {

bool WritePng(const PixelBuffer& picture, const std::string& path, std::string* error = nullptr);

}  // namespace kv
