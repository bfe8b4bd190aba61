#include "media/movie_playback.h"

#include <algorithm>
#include <condition_variable>

namespace kv {

MoviePlayback::MoviePlayback(std::unique_ptr<MovieClock> clock, std::unique_ptr<MovieDecoder> decoder,
                             MovieAudioOut audio, Present present)
    : clock_(std::move(clock)), info_(decoder->Info()), audio_(std::move(audio)), present_(std::move(present)),
      decoder_(std::move(decoder)) {}

MoviePlayback::~MoviePlayback() {
  quit_ = true;
  if (thread_.joinable()) {
    clock_->Wake();
    {
      std::lock_guard lock(mutex_);
      quitCv_.notify_all();
    }
    thread_.join();
    clock_->Leave();
  }
  std::lock_guard lock(mutex_);
  DropVoiceLocked();
}

// Operations from other threads first raise `interrupt_`, so that a presenter
// waiting for a lock their caller holds lets go of the movie's lock.
struct MoviePlayback::Interrupt {
  explicit Interrupt(MoviePlayback& p) : p(p), lock((++p.interrupt_, p.mutex_)) { --p.interrupt_; }
  MoviePlayback& p;
  std::unique_lock<std::mutex> lock;
};

void MoviePlayback::SetOutput(int width, int height, MoviePixels format) {
  Interrupt in(*this);
  decoder_->SetOutput(width, height, format);
  pending_ = true;
}

void MoviePlayback::Cue(int64_t ms) {
  Interrupt in(*this);
  if (mode_ != Mode::kStopped) return;
  position_ = std::clamp<int64_t>(ms, 0, info_.lengthMs);
  decoder_->SeekTo(position_);
  pending_ = true;
  PresentLocked();
}

void MoviePlayback::Play(int64_t fromMs, int64_t toMs, std::function<void()> ended) {
  Interrupt in(*this);
  DropVoiceLocked();
  const int64_t end = toMs <= 0 || toMs > info_.lengthMs ? info_.lengthMs : toMs;
  int64_t from = fromMs < 0 ? (mode_ == Mode::kPlaying ? MediaNowLocked() : position_) : fromMs;
  from = std::clamp<int64_t>(from, 0, end);
  if (from < decoder_->CurrentMs() || from >= decoder_->NextMs()) pending_ = true;
  decoder_->SeekTo(from);
  position_ = startMedia_ = from;
  startClock_ = clock_->NowMs();
  endMs_ = end;
  mode_ = Mode::kPlaying;
  ended_ = std::move(ended);
  if (audio_.mixer && from < end) {
    std::shared_ptr<const SoundBuffer> sound;
    try {
      sound = decoder_->Sound();
    } catch (const MovieError&) {
      // A sound track that cannot be decoded leaves the picture playing silently.
    }
    if (sound) {
      if (audio_.sync) audio_.sync();
      voice_ = audio_.mixer->CreateVoice(sound, uint64_t(Mixer::FrameAtMs(from)), uint64_t(Mixer::FrameAtMs(end)));
      if (voice_) {
        if (muted_ || volume_ != kVolumeFull) audio_.mixer->SetVolume(voice_, muted_ ? kVolumeSilent : volume_);
        audio_.mixer->Play(voice_, 1, false);
      }
      if (audio_.changed) audio_.changed();
    }
  }
  PresentLocked();
  if (!thread_.joinable()) {
    // Joined before the thread starts, so time cannot pass its first frame.
    clock_->Join();
    thread_ = std::thread([this] { Loop(); });
  } else {
    clock_->Wake();
  }
}

void MoviePlayback::Pause() {
  Interrupt in(*this);
  if (mode_ != Mode::kPlaying) return;
  position_ = MediaNowLocked();
  if (decoder_->AdvanceTo(position_)) pending_ = true;
  PresentLocked();
  mode_ = Mode::kPaused;
  if (voice_ && audio_.mixer) {
    if (audio_.sync) audio_.sync();
    audio_.mixer->Pause(voice_);
    if (audio_.changed) audio_.changed();
  }
  clock_->Wake();
}

void MoviePlayback::Resume() {
  Interrupt in(*this);
  if (mode_ != Mode::kPaused) return;
  startMedia_ = position_;
  startClock_ = clock_->NowMs();
  mode_ = Mode::kPlaying;
  if (voice_ && audio_.mixer) {
    if (audio_.sync) audio_.sync();
    audio_.mixer->Resume(voice_);
    if (audio_.changed) audio_.changed();
  }
  clock_->Wake();
}

void MoviePlayback::Stop() {
  Interrupt in(*this);
  if (mode_ == Mode::kPlaying) position_ = MediaNowLocked();
  if (mode_ != Mode::kStopped && decoder_->AdvanceTo(position_)) pending_ = true;
  mode_ = Mode::kStopped;
  ended_ = nullptr;
  DropVoiceLocked();
  clock_->Wake();
}

void MoviePlayback::SetMuted(bool muted) {
  Interrupt in(*this);
  muted_ = muted;
  ApplyVolumeLocked();
}

void MoviePlayback::SetVolume(int32_t volume) {
  Interrupt in(*this);
  volume_ = std::clamp(volume, kVolumeSilent, kVolumeFull);
  ApplyVolumeLocked();
}

void MoviePlayback::ApplyVolumeLocked() {
  if (!voice_ || !audio_.mixer) return;
  if (audio_.sync) audio_.sync();
  audio_.mixer->SetVolume(voice_, muted_ ? kVolumeSilent : volume_);
  if (audio_.changed) audio_.changed();
}

void MoviePlayback::DetachAudio() {
  Interrupt in(*this);
  DropVoiceLocked();
  audio_ = {};
}

MoviePlayback::Mode MoviePlayback::GetMode() const {
  std::lock_guard lock(mutex_);
  return mode_;
}

int64_t MoviePlayback::PositionMs() const {
  std::lock_guard lock(mutex_);
  return mode_ == Mode::kPlaying ? MediaNowLocked() : position_;
}

int64_t MoviePlayback::Frame() const {
  std::lock_guard lock(mutex_);
  return decoder_->CurrentFrame();
}

int64_t MoviePlayback::EndMs() const {
  std::lock_guard lock(mutex_);
  return endMs_;
}

VoiceId MoviePlayback::Voice() const {
  std::lock_guard lock(mutex_);
  return voice_;
}

int64_t MoviePlayback::MediaNowLocked() const {
  return std::min(endMs_, startMedia_ + (clock_->NowMs() - startClock_));
}

void MoviePlayback::PresentLocked() {
  if (!pending_ || !present_) return;
  const MoviePicture& picture = decoder_->Current();
  const bool shown = present_(picture, decoder_->CurrentFrame(), [this] { return quit_ || interrupt_ > 0; });
  pending_ = !shown;
}

void MoviePlayback::DropVoiceLocked() {
  if (!voice_ || !audio_.mixer) return;
  if (audio_.sync) audio_.sync();
  audio_.mixer->DestroyVoice(voice_);
  voice_ = 0;
  if (audio_.changed) audio_.changed();
}

void MoviePlayback::Loop() {
  std::unique_lock lock(mutex_);
  while (!quit_) {
    int64_t deadline = MovieClock::kNoDeadline;
    std::function<void()> ended;
    if (mode_ == Mode::kPlaying) {
      const int64_t now = clock_->NowMs();
      const int64_t media = startMedia_ + (now - startClock_);
      if (media >= endMs_) {
        // The last frame shown is the one before the end.
        if (decoder_->AdvanceTo(std::max<int64_t>(0, endMs_ - 1))) pending_ = true;
        PresentLocked();
        position_ = endMs_;
        mode_ = Mode::kStopped;
        // Without a hook to render the output first, the voice (which has
        // ended with the picture) stays until the next command, whose
        // caller renders first; dropping it now could cut its last block.
        if (audio_.sync) DropVoiceLocked();
        ended = std::move(ended_);
        ended_ = nullptr;
      } else {
        if (decoder_->AdvanceTo(media)) pending_ = true;
        PresentLocked();
        const int64_t next = std::min(decoder_->NextMs(), endMs_);
        deadline = startClock_ + (next - startMedia_);
        // A frame the presenter could not show yet is tried again shortly.
        if (pending_) deadline = std::min(deadline, now + 1);
      }
    }
    if (ended) {
      lock.unlock();
      ended();
      lock.lock();
      continue;
    }
    lock.unlock();
    clock_->Wait(deadline, [this] { return quit_.load(); });
    lock.lock();
    if (clock_->Halted()) {
      // The run is being torn down: nothing is due any more.
      mode_ = Mode::kStopped;
      quitCv_.wait(lock, [this] { return quit_.load(); });
    }
  }
}

}  // namespace kv
