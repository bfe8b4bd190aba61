// Records a run into a video file: the stage's frames and the mixed sound,
// encoded with FFmpeg's libraries. The container comes from the extension:
// Matroska (.mkv) is lossless (FFV1 pictures, 16-bit PCM sound); MP4 (.mp4)
// and AVI (.avi) carry H.264 when Debian's encoder is there, MPEG-4 Part 2
// otherwise, with AAC (.mp4) or 16-bit PCM (.avi) sound. Frames sit on a
// grid of 60 a second; a frame is written only when the stage changed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/mixer.h"

namespace kv {

class RecordError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class VideoRecorder : public AudioSink {
 public:
  static constexpr int kFramesPerSecond = 60;

  // The first time (ms, rounded up) of grid frame `tick`, and the tick of a time.
  static int64_t TickMs(int64_t tick) { return (tick * 1000 + kFramesPerSecond - 1) / kFramesPerSecond; }
  static int64_t TickAt(int64_t ms) { return ms * kFramesPerSecond / 1000; }

  // The encoder a file name's extension takes ("ffv1", "libx264", "mpeg4"),
  // or a RecordError naming what is wrong with the name.
  static std::string VideoEncoderFor(const std::filesystem::path& file);

  // Opens the file and its encoders. Throws RecordError (nothing is left
  // behind) when the container, the encoders or the file cannot be had.
  VideoRecorder(const std::filesystem::path& file, int width, int height);
  ~VideoRecorder() override;
  VideoRecorder(const VideoRecorder&) = delete;
  VideoRecorder& operator=(const VideoRecorder&) = delete;

  // The mixed sound, 44,100 Hz stereo float, in order from time 0.
  void Write(const float* stereo, size_t frames) override;
  // The stage at grid frame `tick`: 32-bit pixels (blue, green, red, unused),
  // rows top first. Written only when it differs from the last frame.
  void AddFrame(int64_t tick, const uint8_t* pixels, ptrdiff_t stride);
  // Ends the file at `endMs`. Throws RecordError when anything could not be
  // written; the file is then removed, never left half written.
  void Finish(int64_t endMs);

  const std::string& VideoCodec() const;
  int64_t FramesWritten() const;

  struct State;

 private:
  std::unique_ptr<State> s_;
};

}  // namespace kv
