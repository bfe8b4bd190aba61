// Captures the mixer's output to a 16-bit stereo 44,100 Hz WAV file, for
// --audio-out and for tests that compare sound by samples.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "media/mixer.h"

namespace kv {

// Rounds to the nearest 16-bit value and clips: the mix is a plain sum.
int16_t SampleToPcm16(float x);

// The 44-byte header of a PCM WAV holding `dataBytes` of 16-bit stereo.
std::vector<uint8_t> WavHeader16Stereo(uint32_t rate, uint32_t dataBytes);

class WavCaptureSink : public AudioSink {
 public:
  // Throws std::runtime_error when the file cannot be created.
  explicit WavCaptureSink(const std::filesystem::path& path);
  ~WavCaptureSink() override;
  WavCaptureSink(const WavCaptureSink&) = delete;
  WavCaptureSink& operator=(const WavCaptureSink&) = delete;

  void Write(const float* stereo, size_t frames) override;
  // Writes the final sizes and closes; throws std::runtime_error on a write
  // failure, so a truncated capture is never taken for a good one.
  void Close();
  uint64_t Frames() const { return frames_; }

 private:
  std::FILE* file_ = nullptr;
  uint64_t frames_ = 0;
  bool failed_ = false;
  std::vector<uint8_t> scratch_;
};

}  // namespace kv
