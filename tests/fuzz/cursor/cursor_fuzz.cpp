// Fuzzes the cursor file decoder; an image it accepts must hold exactly its
// pixels and a hotspot inside them.
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/cursor_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  const auto image = kv::imaging::DecodeCursorFile({data, size}, &error);
  if (!image) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (image->width < 1 || image->height < 1 || image->width > kv::imaging::kMaxCursorSide ||
      image->height > kv::imaging::kMaxCursorSide || image->argb.size() != size_t(image->width) * size_t(image->height) ||
      image->hotX < 0 || image->hotY < 0 || image->hotX >= image->width || image->hotY >= image->height)
    __builtin_trap();
  return 0;
}
