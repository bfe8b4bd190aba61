// One movie playing on the run's clock: a thread of its own decodes the
// frames and hands each to the presenter when its time comes, and the sound
// track plays as one more mixer voice. The thread takes part in the virtual
// clock and decodes a frame before waiting for its time, so the frame shown
// at time t is always the one whose presentation time is the latest not
// after t, on every run.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "media/mixer.h"
#include "media/movie_clock.h"
#include "media/movie_decoder.h"

namespace kv {

struct MovieAudioOut {
  Mixer* mixer = nullptr;         // null: the movie plays without sound
  std::function<void()> sync;     // before a change: the output rendered up to now
  std::function<void()> changed;  // after a change
};

class MoviePlayback {
 public:
  enum class Mode { kStopped, kPlaying, kPaused };
  // Called with each frame as it becomes due (on the movie's thread while
  // playing, on the caller's otherwise); answers whether it was shown. A
  // presenter that needs a lock another thread may hold gives up when
  // `giveUp()` answers true, and the frame is offered again.
  using Present = std::function<bool(const MoviePicture&, int64_t frame, const std::function<bool()>& giveUp)>;

  MoviePlayback(std::unique_ptr<MovieClock> clock, std::unique_ptr<MovieDecoder> decoder, MovieAudioOut audio,
                Present present);
  ~MoviePlayback();
  MoviePlayback(const MoviePlayback&) = delete;
  MoviePlayback& operator=(const MoviePlayback&) = delete;

  const MovieInfo& Info() const { return info_; }
  void SetOutput(int width, int height, MoviePixels format);
  // Positions on the frame shown at `ms` and presents it, without playing.
  void Cue(int64_t ms);
  // Plays from `fromMs` (the current position when negative) up to `toMs`
  // (the end when 0 or beyond); `ended` is called on the movie's thread when
  // play reaches that end by itself. The sound plays unless muted.
  void Play(int64_t fromMs, int64_t toMs, std::function<void()> ended);
  void Pause();
  void Resume();
  // Ends play where it is; `ended` is not called.
  void Stop();
  void SetMuted(bool muted);
  // The sound's level in hundredths of a decibel (kVolumeSilent..kVolumeFull).
  void SetVolume(int32_t volume);
  // The sound output goes away: the voice is dropped and the rest of the
  // movie plays without sound.
  void DetachAudio();

  Mode GetMode() const;
  int64_t PositionMs() const;
  // The frame index of the frame shown.
  int64_t Frame() const;
  // The end position of the play under way (or of the last one).
  int64_t EndMs() const;
  // The mixer voice of the sound while it plays, 0 otherwise.
  VoiceId Voice() const;

 private:
  void Loop();
  int64_t MediaNowLocked() const;
  void PresentLocked();
  void DropVoiceLocked();
  void ApplyVolumeLocked();
  struct Interrupt;

  std::unique_ptr<MovieClock> clock_;
  MovieInfo info_;
  MovieAudioOut audio_;
  Present present_;
  mutable std::mutex mutex_;
  std::unique_ptr<MovieDecoder> decoder_;  // used under mutex_
  Mode mode_ = Mode::kStopped;
  int64_t position_ = 0;    // media time while stopped or paused
  int64_t startMedia_ = 0;  // media time at startClock_ while playing
  int64_t startClock_ = 0;
  int64_t endMs_ = 0;
  int64_t shownFrame_ = -1;
  bool muted_ = false;
  int32_t volume_ = kVolumeFull;
  VoiceId voice_ = 0;
  std::function<void()> ended_;
  bool pending_ = true;  // the current frame is still to be presented
  std::atomic<int> interrupt_{0};
  std::atomic<bool> quit_{false};
  std::condition_variable quitCv_;
  std::thread thread_;
};

}  // namespace kv
