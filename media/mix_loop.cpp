#include "media/mix_loop.h"

namespace kv {

namespace {

template <int Channels>
size_t MixBlock(const MixSource& src, MixGains g, uint64_t step, bool wrapNext, uint64_t* posInOut, float* out,
                size_t frames) {
  const uint64_t endPos = src.end << kMixFracBits;
  const uint64_t last = src.end - 1;
  uint64_t pos = *posInOut;
  size_t n = 0;
  for (; n < frames && pos < endPos; ++n, pos += step) {
    const uint64_t i = pos >> kMixFracBits;
    const float frac = static_cast<float>(pos & (kMixOne - 1)) * (1.0f / 4294967296.0f);
    const uint64_t j = i < last ? i + 1 : (wrapNext ? src.begin : last);
    const float* a = src.samples + i * Channels;
    const float* b = src.samples + j * Channels;
    float l, r;
    if (frac == 0.0f) {
      // Exact positions copy the sample untouched, so unresampled sound stays bit-exact.
      l = a[0];
      r = a[Channels - 1];
    } else {
      l = a[0] + (b[0] - a[0]) * frac;
      r = a[Channels - 1] + (b[Channels - 1] - a[Channels - 1]) * frac;
    }
    out[2 * n] += l * g.left;
    out[2 * n + 1] += r * g.right;
  }
  *posInOut = pos;
  return n;
}

}  // namespace

size_t MixVoiceBlock(const MixSource& src, MixGains gains, uint64_t step, bool wrapNext, uint64_t* pos, float* out,
                     size_t frames) {
  if (src.end <= src.begin) return 0;
  return src.channels == 2 ? MixBlock<2>(src, gains, step, wrapNext, pos, out, frames)
                           : MixBlock<1>(src, gains, step, wrapNext, pos, out, frames);
}

}  // namespace kv
