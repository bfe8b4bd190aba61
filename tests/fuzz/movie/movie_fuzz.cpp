// Untrusted movie files: FFmpeg's demuxers and decoders behind our reader,
// the size bounds, the conversion to the stage's format and the sound track,
// and the same bytes opened for their sound alone (the media player's).
// Seeds: small movies of tests/data/movies.
#include <cstddef>
#include <cstdint>
#include <new>

#include "media/movie_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    auto d = kv::MovieDecoder::OpenBytes({data, size});
    const kv::MovieInfo& info = d->Info();
    if (info.width <= 0 || info.width > kv::MovieDecoder::kMaxSide || info.height <= 0 ||
        info.height > kv::MovieDecoder::kMaxSide)
      __builtin_trap();
    d->SetOutput(64, 48, kv::MoviePixels::kRgb565);
    for (int64_t t = 0; t < 3000 && d->NextMs() != kv::MovieDecoder::kNoNext; t += 40) {
      d->AdvanceTo(t);
      if (d->Current().bits.size() != size_t(64 * 48 * 2)) __builtin_trap();
    }
    d->SeekTo(0);
    if (auto sound = d->Sound(); sound && sound->channels != 1 && sound->channels != 2) __builtin_trap();
  } catch (const kv::MovieError&) {
    // Refused input is the expected outcome for most mutations.
  } catch (const std::bad_alloc&) {
    // Allocation beyond the fuzzer's limit is refused like any other.
  }
  try {
    auto d = kv::MovieDecoder::OpenBytes({data, size}, kv::MovieTracks::kSoundOnly);
    const kv::MovieInfo& info = d->Info();
    auto sound = d->Sound();
    if (info.hasPicture || !sound || info.lengthMs <= 0 || (sound->channels != 1 && sound->channels != 2))
      __builtin_trap();
    d->SeekTo(info.lengthMs / 2);
    if (d->NextMs() != kv::MovieDecoder::kNoNext || !d->Current().bits.empty()) __builtin_trap();
  } catch (const kv::MovieError&) {
  } catch (const std::bad_alloc&) {
  }
  return 0;
}
