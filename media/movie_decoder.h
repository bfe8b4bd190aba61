// Movie files through FFmpeg's libraries: demuxing and decoding the video
// stream frame by frame, converted once into the stage's pixel format at the
// size it is shown, and the sound track decoded whole and resampled for the
// mixer. Bytes reach FFmpeg only through our own reader (a file or memory),
// so a stored name can never make it open a URL or a second file. No engine,
// no Qt: the movie object, the MCI digital-video device and the tools share it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/mixer.h"

namespace kv {

// Why a movie cannot be played; what() is the reason shown after the file name.
class MovieError : public std::runtime_error {
 public:
  enum class Kind { kNotFound, kUnreadable, kNoVideo, kTooLarge, kNoFrames, kNoCodec };
  MovieError(Kind kind, const std::string& reason) : std::runtime_error(reason), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

struct MovieInfo {
  int width = 0, height = 0;  // the picture's own size
  double frameRate = 0;       // frames a second (nominal)
  int64_t lengthMs = 0;       // the time of the last frame's end
  int64_t frameCount = 0;     // frames at the nominal rate over the length
  bool hasAudio = false;
  bool hasPicture = false;  // false: sound only, no frames
  std::string format;  // the container FFmpeg recognised
  std::string codec;   // the video codec
};

enum class MoviePixels { kXrgb32, kRgb565 };

// What an opening reads: the picture (a file without one is refused), the
// picture when there is one and the sound alone otherwise, or the sound alone
// (a hidden player: no frame is decoded).
enum class MovieTracks { kPicture, kPictureOrSound, kSoundOnly };

// One converted picture: rows of width * bytes, top first.
struct MoviePicture {
  int width = 0, height = 0;
  MoviePixels format = MoviePixels::kXrgb32;
  std::vector<uint8_t> bits;
  int Stride() const { return width * (format == MoviePixels::kXrgb32 ? 4 : 2); }
};

class MovieDecoder {
 public:
  // Frames larger than this on either side are refused before allocation.
  static constexpr int kMaxSide = 8192;
  // Sound beyond this many samples (about 12 minutes of stereo) is cut off.
  static constexpr size_t kMaxAudioSamples = size_t(1) << 26;

  // Throw MovieError. The first frame is decoded, so a file that opens has one.
  // Without a picture (sound only) there are no frames: Current() is an empty
  // picture (width 0) and the length is the sound's.
  static std::unique_ptr<MovieDecoder> OpenFile(const std::filesystem::path& file,
                                                MovieTracks tracks = MovieTracks::kPicture);
  static std::unique_ptr<MovieDecoder> OpenBytes(std::span<const uint8_t> bytes,
                                                 MovieTracks tracks = MovieTracks::kPicture);
  ~MovieDecoder();
  MovieDecoder(const MovieDecoder&) = delete;
  MovieDecoder& operator=(const MovieDecoder&) = delete;

  const MovieInfo& Info() const { return info_; }

  // The size and format pictures are converted to (the sprite's); the
  // picture's own size and 32 bits until set.
  void SetOutput(int width, int height, MoviePixels format);

  // Positions on the frame shown at `ms` (the latest that starts no later):
  // Current() is that frame, NextMs() the start of the one after it.
  void SeekTo(int64_t ms);
  // Moves on to the frame shown at `ms`; true when the shown frame changed.
  bool AdvanceTo(int64_t ms);
  // Start time of the current frame and of the next one (kNoNext at the end).
  int64_t CurrentMs() const;
  static constexpr int64_t kNoNext = INT64_MAX;
  int64_t NextMs() const;
  // The frame index at the nominal rate of the current frame.
  int64_t CurrentFrame() const;
  // The current frame converted (once) to the output.
  const MoviePicture& Current();

  // The sound track, 44,100 Hz stereo, time 0 at the movie's start;
  // nullptr when there is none. Decoded on the first call.
  std::shared_ptr<const SoundBuffer> Sound();

  struct State;

 private:
  explicit MovieDecoder(std::unique_ptr<State> state);
  void Start(MovieTracks tracks);
  void StartSoundOnly(int audioIndex);
  std::unique_ptr<State> s_;
  MovieInfo info_;
};

// Frame index at `rate` of a time, and the time a frame index starts.
int64_t MovieFrameAt(int64_t ms, double rate);
int64_t MovieMsOfFrame(int64_t frame, double rate);

}  // namespace kv
