// The player's own software mixer: voices over decoded sound buffers, mixed
// to float stereo at 44,100 Hz with gain, pan, frequency, repeats and loops.
// Sound inserts and the MCI devices drive it; SDL pulls from it, or a clock
// pushes it ("render up to frame F") into a sink so headless runs repeat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/audio_output.h"

namespace kv {

// Decoded sound: interleaved float samples in [-1, 1), one or two channels.
struct SoundBuffer {
  int channels = 1;
  uint32_t sampleRate = 0;
  std::vector<float> samples;

  uint64_t Frames() const { return channels > 0 ? samples.size() / static_cast<size_t>(channels) : 0; }
};

struct PcmFormat {
  int channels = 1;         // 1 or 2
  uint32_t sampleRate = 0;  // Hz
  int bitsPerSample = 16;   // 8 (unsigned) or 16 (signed little-endian)
};

// Converts raw PCM; throws std::invalid_argument for a format the mixer does
// not take or a byte count that is not a whole number of frames.
SoundBuffer SoundBufferFromPcm(const PcmFormat& format, std::span<const uint8_t> bytes);

// Receives the mixed output of a clock-driven mixer.
class AudioSink {
 public:
  virtual ~AudioSink() = default;
  virtual void Write(const float* stereo, size_t frames) = 0;
};

class NullSink : public AudioSink {
 public:
  void Write(const float*, size_t) override {}
};

// Volume in hundredths of a decibel (-10000 silent .. 0 full), pan in
// hundredths of a decibel taken off the other side (-10000 left .. 10000 right).
inline constexpr int32_t kVolumeSilent = -10000;
inline constexpr int32_t kVolumeFull = 0;
inline constexpr int32_t kPanLeft = -10000;
inline constexpr int32_t kPanRight = 10000;
inline constexpr uint32_t kMinFrequency = 100;
inline constexpr uint32_t kMaxFrequency = 100000;

// Linear gain of a volume; exactly 0 at -10000 and below, 1 at 0 and above.
float GainOfVolume(int32_t volume);

using VoiceId = uint32_t;
enum class VoiceState { kStopped, kPlaying, kPaused };
enum class VoiceEnd { kFinished, kStopped, kDestroyed };
// Called once when a sounding voice ends, on the thread that rendered its last
// sample (or that stopped or destroyed it), outside the mixer's lock.
using VoiceEndFn = std::function<void(VoiceId, VoiceEnd)>;

class Mixer : public AudioSource {
 public:
  static constexpr uint32_t kRate = 44100;

  // First frame of output time `ms`: round(ms * 44.1).
  static int64_t FrameAtMs(int64_t ms) { return (ms * 441 + 5) / 10; }

  // A voice over frames [begin, end) of the buffer; end is clamped to the
  // buffer. Returns 0 when the buffer cannot be played (no frames or channels).
  VoiceId CreateVoice(std::shared_ptr<const SoundBuffer> buffer, uint64_t begin = 0,
                      uint64_t end = UINT64_MAX);
  // Ends a sounding voice (kDestroyed) and forgets it.
  void DestroyVoice(VoiceId id);
  void SetEndCallback(VoiceId id, VoiceEndFn fn);

  // Plays `count` passes back to back (0 counts as 1), or endlessly with
  // `loop`. Without `from`, a stopped voice goes on where it stopped.
  bool Play(VoiceId id, uint32_t count, bool loop, std::optional<uint64_t> from = std::nullopt);
  bool Stop(VoiceId id);
  bool Pause(VoiceId id);
  bool Resume(VoiceId id);
  // Pauses every playing voice but `keep` and answers them, so that they can
  // be resumed together (a movie that silences the other sounds).
  std::vector<VoiceId> PauseAllExcept(VoiceId keep);

  void SetVolume(VoiceId id, int32_t volume);
  void SetPan(VoiceId id, int32_t pan);
  // Hz, clamped to 100..100000; 0 restores the buffer's own rate.
  void SetFrequency(VoiceId id, uint32_t hz);
  uint32_t Frequency(VoiceId id) const;

  std::optional<VoiceState> State(VoiceId id) const;
  // Frames from the segment's start.
  std::optional<uint64_t> Position(VoiceId id) const;
  // The output frame by which the first playing voice that ends by itself
  // (not looping, not paused) has ended; nullopt when none will. A clock
  // that drives the mixer renders up to it to deliver the end on time.
  std::optional<int64_t> NextEndFrame() const;
  // The first output time (ms) whose frame is at or past `frame`.
  static int64_t MsAtFrame(int64_t frame) { return frame <= 0 ? 0 : (frame * 10 - 5 + 440) / 441; }
  size_t VoiceCount() const;
  size_t SoundingCount() const;

  // Mixes the next `frames` frames into `stereo` (overwritten).
  void Pull(float* stereo, size_t frames) override;
  // Clock drive: renders every frame before `frame` into the sink.
  void RenderTo(int64_t frame, AudioSink& sink);
  int64_t RenderedFrames() const;

 private:
  struct Voice {
    std::shared_ptr<const SoundBuffer> buffer;
    uint64_t begin = 0, end = 0;
    uint64_t pos = 0;  // absolute 32.32 source position
    uint64_t step = 0;
    uint32_t frequency = 0;  // 0: the buffer's rate
    uint32_t passesLeft = 0;
    bool loop = false;
    VoiceState state = VoiceState::kStopped;
    int32_t volume = kVolumeFull, pan = 0;
    float gainLeft = 1.0f, gainRight = 1.0f;
    VoiceEndFn onEnd;
  };
  using Ended = std::vector<std::pair<VoiceEndFn, std::pair<VoiceId, VoiceEnd>>>;

  Voice* Find(VoiceId id);
  const Voice* Find(VoiceId id) const;
  static void UpdateGains(Voice& v);
  static void UpdateStep(Voice& v);
  static void Notify(Ended& ended);
  void MixLocked(float* stereo, size_t frames, Ended& ended);

  mutable std::mutex mutex_;
  std::map<VoiceId, Voice> voices_;
  VoiceId nextId_ = 1;
  int64_t rendered_ = 0;
};

}  // namespace kv
