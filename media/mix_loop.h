// The inner mixing loop: adds one voice's samples, resampled and scaled, into
// a stereo float block. Plain pointers only; the mixer calls it under its lock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// Source positions are 32.32 fixed point in source frames.
inline constexpr int kMixFracBits = 32;
inline constexpr uint64_t kMixOne = uint64_t{1} << kMixFracBits;

struct MixSource {
  const float* samples = nullptr;  // interleaved
  int channels = 1;                // 1 or 2
  uint64_t begin = 0;              // first frame of the played segment
  uint64_t end = 0;                // one past the last frame of the segment
};

struct MixGains {
  float left = 1.0f;
  float right = 1.0f;
};

// Adds frames into `out` (interleaved stereo) starting at source position
// `*pos` (absolute, 32.32) and advancing by `step` each output frame. Stops
// at the segment end; `wrapNext` says whether the frame after the last one is
// the segment's first (another pass follows) for interpolation. Returns the
// number of output frames produced.
size_t MixVoiceBlock(const MixSource& src, MixGains gains, uint64_t step, bool wrapNext, uint64_t* pos,
                     float* out, size_t frames);

}  // namespace kv
