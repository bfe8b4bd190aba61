// Untrusted sound files: the RIFF walk and libsndfile's decoding behind it.
#include <cstddef>
#include <cstdint>

#include "media/sound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    const kv::SoundBuffer b = kv::ReadSoundBytes({data, size});
    if (b.channels != 1 && b.channels != 2) __builtin_trap();
  } catch (const kv::SoundFileError&) {
    // Refused input is the expected outcome for most mutations.
  }
  return 0;
}
