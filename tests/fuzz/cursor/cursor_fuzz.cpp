// Fuzzes the cursor file decoders; an image they accept must hold exactly
// its pixels and a hotspot inside them, and every step of an animated
// cursor must show a frame it has, for a time.
#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/cursor_file.h"

namespace {

bool Sound(const kv::imaging::CursorImage& image) {
  return image.width >= 1 && image.height >= 1 && image.width <= kv::imaging::kMaxCursorSide &&
         image.height <= kv::imaging::kMaxCursorSide &&
         image.argb.size() == size_t(image.width) * size_t(image.height) && image.hotX >= 0 && image.hotY >= 0 &&
         image.hotX < image.width && image.hotY < image.height;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  const auto image = kv::imaging::DecodeCursorFile({data, size}, &error);
  if (!image && error.empty()) __builtin_trap();
  if (image && !Sound(*image)) __builtin_trap();
  error.clear();
  const auto animated = kv::imaging::DecodeAnimatedCursor({data, size}, &error);
  if (!animated) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  if (animated->frames.empty() || animated->steps.empty() || animated->frames.size() > kv::imaging::kMaxCursorFrames ||
      animated->steps.size() > kv::imaging::kMaxCursorSteps)
    __builtin_trap();
  for (const auto& frame : animated->frames)
    if (!Sound(frame)) __builtin_trap();
  for (const auto& step : animated->steps)
    if (step.frame >= animated->frames.size() || step.ms < 0) __builtin_trap();
  return 0;
}
