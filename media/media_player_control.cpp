#include "media/media_player_control.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <new>
#include <set>

namespace kv {

namespace id = mplayer_dispid;

namespace {

// Settings the control keeps for its hosts without acting on them (display,
// controls shown, window behaviour): any value of a number or flag.
const std::set<int32_t>& KeptSettings() {
  static const std::set<int32_t> ids = {-500, 22,   23,   24,   26,   27,   29,   1013, 1014, 1015, 1017, 1021,
                                        1022, 1025, 1032, 1045, 1062, 1069, 1086, 1088, 1089, 1107, 1108};
  return ids;
}

// A name that is an address, never a file of ours.
bool IsAddress(const std::string& name) {
  const auto colon = name.find("://");
  if (colon == std::string::npos || colon == 0) return false;
  return std::all_of(name.begin(), name.begin() + ptrdiff_t(colon), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
           c == '.';
  });
}

int64_t SecondsToMs(double seconds) {
  if (!(seconds > 0)) return 0;
  return static_cast<int64_t>(std::llround(std::min(seconds, 1e9) * 1000.0));
}

struct Member {
  std::string_view name;
  int32_t id;
};

// Our names for the members hosts reach by name; the kept settings have none.
constexpr Member kMembers[] = {
    {"Volume", id::kVolume},
    {"Duration", id::kDuration},
    {"FileName", id::kFileName},
    {"AutoStart", id::kAutoStart},
    {"PlayState", id::kPlayState},
    {"HasMedia", id::kHasMedia},
    {"Play", id::kPlay},
    {"Pause", id::kPause},
    {"Resume", id::kResume},
    {"Stop", id::kStop},
    {"Open", id::kOpen},
    {"SelectionStart", id::kSelectionStart},
    {"SelectionEnd", id::kSelectionEnd},
    {"Position", id::kPosition},
};

bool SameNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::optional<int32_t> MediaPlayerControl::MemberId(std::string_view name) {
  for (const Member& m : kMembers)
    if (SameNoCase(m.name, name)) return m.id;
  return std::nullopt;
}

MediaPlayerControl::MediaPlayerControl(MediaPlayerSite site) : site_(std::move(site)) {}

// The movie's thread presents through the site: it ends before the site goes.
MediaPlayerControl::~MediaPlayerControl() { Close(); }

std::string MediaPlayerControl::ErrorText() const {
  std::lock_guard lock(mutex_);
  return error_;
}

MediaPlayState MediaPlayerControl::PlayState() const { return state_; }

void MediaPlayerControl::Notify(const char* op, MoviePlayback& playback) {
  if (site_.notify) site_.notify(op, playback.Frame());
}

void MediaPlayerControl::Close() {
  std::unique_ptr<MoviePlayback> playback;
  {
    std::lock_guard lock(mutex_);
    ++playSerial_;
    playback = std::move(playback_);
    const MediaPlayState was = state_.exchange(MediaPlayState::kClosed);
    if (!playback) return;
    if (was == MediaPlayState::kPlaying || was == MediaPlayState::kPaused) {
      playback->Stop();
      Notify("stop", *playback);
    }
    if (site_.track) site_.track(*playback, false);
  }
  // Joined outside the lock: an end being told on the movie's thread may need it.
  playback.reset();
}

DispatchStatus MediaPlayerControl::Open(const std::string& name) {
  Close();
  std::lock_guard lock(mutex_);
  fileName_ = name;
  std::unique_ptr<MovieDecoder> decoder;
  try {
    if (name.empty()) throw MovieError(MovieError::Kind::kNotFound, "no file is named");
    if (IsAddress(name)) throw MovieError(MovieError::Kind::kNotFound, "an address, not a file");
    std::optional<std::filesystem::path> file = site_.resolve ? site_.resolve(name) : std::filesystem::path(name);
    if (!file) throw MovieError(MovieError::Kind::kNotFound, "not found");
    const bool picture = site_.showPicture && site_.present;
    decoder = MovieDecoder::OpenFile(*file, picture ? MovieTracks::kPictureOrSound : MovieTracks::kSoundOnly);
  } catch (const MovieError& e) {
    error_ = name.empty() ? std::string(e.what()) : name + ": " + e.what();
    return DispatchStatus::kFailed;
  } catch (const std::bad_alloc&) {
    error_ = name + ": out of memory";
    return DispatchStatus::kFailed;
  }
  error_.clear();
  decoder->SetOutput(std::max(1, site_.width), std::max(1, site_.height), site_.pixels);
  const bool picture = decoder->Info().hasPicture;
  playback_ = std::make_unique<MoviePlayback>(site_.makeClock(), std::move(decoder), site_.audio,
                                              picture ? site_.present : MoviePlayback::Present{});
  playback_->SetVolume(volume_);
  if (site_.track) site_.track(*playback_, true);
  playback_->Cue(selStartMs_);
  state_ = MediaPlayState::kReady;
  return DispatchStatus::kOk;
}

DispatchStatus MediaPlayerControl::Play() {
  std::lock_guard lock(mutex_);
  if (!playback_) {
    error_ = fileName_.empty() ? "no media is open" : fileName_ + ": no media is open";
    return DispatchStatus::kFailed;
  }
  MoviePlayback& pb = *playback_;
  if (state_ == MediaPlayState::kPaused) {
    pb.Resume();
    state_ = MediaPlayState::kPlaying;
    Notify("resume", pb);
    return DispatchStatus::kOk;
  }
  if (state_ == MediaPlayState::kPlaying) pb.Stop();
  const uint64_t serial = ++playSerial_;
  state_ = MediaPlayState::kPlaying;
  pb.Play(selStartMs_, selEndMs_, [this, serial, &pb] {
    // On the movie's thread; a later play or a close has moved the serial on.
    MediaPlayState playing = MediaPlayState::kPlaying;
    if (playSerial_ != serial || !state_.compare_exchange_strong(playing, MediaPlayState::kStopped)) return;
    Notify("stop", pb);
  });
  Notify("play", pb);
  return DispatchStatus::kOk;
}

DispatchStatus MediaPlayerControl::Put(int32_t dispid, const DispatchValue& value) {
  const std::optional<double> number = DispatchNumber(value);
  switch (dispid) {
    case id::kFileName: {
      const auto* name = std::get_if<std::string>(&value);
      if (!name) return DispatchStatus::kTypeMismatch;
      return Open(*name);
    }
    case id::kVolume: {
      if (!number) return DispatchStatus::kTypeMismatch;
      std::lock_guard lock(mutex_);
      volume_ = static_cast<int32_t>(std::clamp(*number, double(kVolumeSilent), double(kVolumeFull)));
      if (playback_) playback_->SetVolume(volume_);
      return DispatchStatus::kOk;
    }
    case id::kAutoStart: {
      if (!number) return DispatchStatus::kTypeMismatch;
      std::unique_lock lock(mutex_);
      autoStart_ = *number != 0;
      // A play request: open media starts now; play under way goes on.
      if (autoStart_ && playback_ && state_ != MediaPlayState::kPlaying && state_ != MediaPlayState::kPaused) {
        lock.unlock();
        return Play();
      }
      return DispatchStatus::kOk;
    }
    case id::kSelectionStart:
    case id::kSelectionEnd: {
      if (!number) return DispatchStatus::kTypeMismatch;
      std::lock_guard lock(mutex_);
      (dispid == id::kSelectionStart ? selStartMs_ : selEndMs_) = SecondsToMs(*number);
      if (dispid == id::kSelectionStart && playback_ && state_ == MediaPlayState::kReady) playback_->Cue(selStartMs_);
      return DispatchStatus::kOk;
    }
    default: break;
  }
  if (!KeptSettings().contains(dispid)) return DispatchStatus::kUnknownMember;
  if (!number) return DispatchStatus::kTypeMismatch;
  std::lock_guard lock(mutex_);
  stored_[dispid] = value;
  return DispatchStatus::kOk;
}

DispatchStatus MediaPlayerControl::Get(int32_t dispid, DispatchValue& out) {
  std::lock_guard lock(mutex_);
  switch (dispid) {
    case id::kDuration: out = playback_ ? double(playback_->Info().lengthMs) / 1000.0 : 0.0; return DispatchStatus::kOk;
    case id::kFileName: out = fileName_; return DispatchStatus::kOk;
    case id::kPlayState: out = static_cast<int32_t>(state_.load()); return DispatchStatus::kOk;
    case id::kHasMedia: out = playback_ != nullptr; return DispatchStatus::kOk;
    case id::kVolume: out = volume_; return DispatchStatus::kOk;
    case id::kAutoStart: out = autoStart_; return DispatchStatus::kOk;
    case id::kSelectionStart: out = double(selStartMs_) / 1000.0; return DispatchStatus::kOk;
    case id::kSelectionEnd: out = double(selEndMs_) / 1000.0; return DispatchStatus::kOk;
    case id::kPosition: out = playback_ ? double(playback_->PositionMs()) / 1000.0 : 0.0; return DispatchStatus::kOk;
    default: break;
  }
  if (!KeptSettings().contains(dispid)) return DispatchStatus::kUnknownMember;
  const auto it = stored_.find(dispid);
  out = it != stored_.end() ? it->second : DispatchValue(int32_t(0));
  return DispatchStatus::kOk;
}

DispatchStatus MediaPlayerControl::Call(int32_t dispid, std::span<const DispatchValue> args) {
  switch (dispid) {
    case id::kOpen: {
      const auto* name = args.empty() ? nullptr : std::get_if<std::string>(&args[0]);
      if (!name) return DispatchStatus::kTypeMismatch;
      return Open(*name);
    }
    case id::kPlay: return Play();
    case id::kPause: {
      std::lock_guard lock(mutex_);
      if (!playback_ || state_ != MediaPlayState::kPlaying) return DispatchStatus::kOk;
      playback_->Pause();
      state_ = MediaPlayState::kPaused;
      Notify("pause", *playback_);
      return DispatchStatus::kOk;
    }
    case id::kResume: {
      std::lock_guard lock(mutex_);
      if (!playback_ || state_ != MediaPlayState::kPaused) return DispatchStatus::kOk;
      playback_->Resume();
      state_ = MediaPlayState::kPlaying;
      Notify("resume", *playback_);
      return DispatchStatus::kOk;
    }
    case id::kStop: {
      std::lock_guard lock(mutex_);
      ++playSerial_;
      if (!playback_) return DispatchStatus::kOk;
      // Whoever moves the state from playing tells the stop: this, or an end
      // being told on the movie's thread.
      MediaPlayState was = state_;
      while ((was == MediaPlayState::kPlaying || was == MediaPlayState::kPaused) &&
             !state_.compare_exchange_weak(was, MediaPlayState::kStopped)) {
      }
      if (was != MediaPlayState::kPlaying && was != MediaPlayState::kPaused) return DispatchStatus::kOk;
      playback_->Stop();
      Notify("stop", *playback_);
      return DispatchStatus::kOk;
    }
    default: return DispatchStatus::kUnknownMember;
  }
}

}  // namespace kv
