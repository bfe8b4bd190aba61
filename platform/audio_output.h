// Audio output through SDL2: the device pulls interleaved stereo float frames
// at 44,100 Hz from an AudioSource (the mixer) on SDL's audio thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kv {

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Fills `frames` stereo frames; called on the audio thread.
  virtual void Pull(float* stereo, size_t frames) = 0;
};

class SdlAudioOutput {
 public:
  // Opens the default output device; throws std::runtime_error with SDL's
  // reason when no device can be opened. The source must outlive the output.
  SdlAudioOutput(AudioSource& source, uint32_t rate, uint16_t blockFrames = 512);
  ~SdlAudioOutput();
  SdlAudioOutput(const SdlAudioOutput&) = delete;
  SdlAudioOutput& operator=(const SdlAudioOutput&) = delete;

  void Start();
  void Stop();
  uint32_t Rate() const { return rate_; }
  uint16_t BlockFrames() const { return blockFrames_; }

 private:
  static void Callback(void* self, uint8_t* stream, int len);
  AudioSource& source_;
  uint32_t device_ = 0;
  uint32_t rate_ = 0;
  uint16_t blockFrames_ = 0;
};

}  // namespace kv
