// RIFF/WAVE header checks for untrusted files: the chunk walk, the PCM
// format and the data chunk's place, before any sample is decoded.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>

namespace kv {

class SoundFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct WaveLayout {
  int channels = 0;
  uint32_t sampleRate = 0;
  int bitsPerSample = 0;
  uint16_t blockAlign = 0;
  uint64_t dataOffset = 0;
  uint64_t dataBytes = 0;

  uint64_t Frames() const { return blockAlign ? dataBytes / blockAlign : 0; }
};

bool LooksLikeWave(std::span<const uint8_t> bytes);

// Throws SoundFileError naming the first fault found.
WaveLayout ParseWaveHeader(std::span<const uint8_t> bytes);

}  // namespace kv
