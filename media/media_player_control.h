// Our media player control: a movie or sound file played on the run's clock,
// driven the way its host drives it, through property puts, property gets
// and method calls identified by dispatch ids. It knows neither the engine
// nor the insert that hosts it: the host hands it a site (where pictures go,
// the clock, the sound output, how names become files) and hears of every
// start, pause, resume and stop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/dispatch_value.h"
#include "media/movie_playback.h"

namespace kv {

namespace mplayer_dispid {
inline constexpr int32_t kVolume = 19;          // put: hundredths of a decibel, -10000..0
inline constexpr int32_t kDuration = 1003;      // get: seconds (double), 0 without media
inline constexpr int32_t kFileName = 1026;      // put: opens the file; get: its name
inline constexpr int32_t kAutoStart = 1030;     // put: non-zero plays the open media now (0 does nothing)
inline constexpr int32_t kPlayState = 1061;     // get: a MediaPlayState
inline constexpr int32_t kHasMedia = 1065;      // get: true while media is open
inline constexpr int32_t kPlay = 2001;          // call
inline constexpr int32_t kPause = 2002;         // call
inline constexpr int32_t kResume = 2003;        // call
inline constexpr int32_t kStop = 2006;          // call
inline constexpr int32_t kOpen = 2010;          // call with the file name
// Ours, beyond the ids hosts send: the played selection and the position, in seconds.
inline constexpr int32_t kSelectionStart = 0x7F01;  // put/get
inline constexpr int32_t kSelectionEnd = 0x7F02;    // put/get; 0: the end of the media
inline constexpr int32_t kPosition = 0x7F03;        // get
}  // namespace mplayer_dispid

enum class MediaPlayState : int32_t { kStopped = 0, kPaused = 1, kPlaying = 2, kReady = 6, kClosed = 7 };

// Where the control sits; given by its host.
struct MediaPlayerSite {
  std::function<std::unique_ptr<MovieClock>()> makeClock;
  MovieAudioOut audio;  // no mixer: silent
  // A stored name to a host file; nullopt when it cannot be found.
  std::function<std::optional<std::filesystem::path>(const std::string&)> resolve;
  int width = 1, height = 1;  // the picture area
  MoviePixels pixels = MoviePixels::kXrgb32;
  // Draws a picture into the host's window; null, or `showPicture` false:
  // sound only (no frame is decoded).
  MoviePlayback::Present present;
  bool showPicture = true;
  // Every play, pause, resume and stop with the frame shown (any thread).
  std::function<void(const char* op, int64_t frame)> notify;
  // A playback opened (true) or about to close (false): its sound must be
  // taken from it before the output goes.
  std::function<void(MoviePlayback&, bool opened)> track;
};

class MediaPlayerControl {
 public:
  static constexpr const char* kClassId = "{22D6F312-B0F6-11D0-94AB-0080C74C7E95}";

  explicit MediaPlayerControl(MediaPlayerSite site);
  ~MediaPlayerControl();
  MediaPlayerControl(const MediaPlayerControl&) = delete;
  MediaPlayerControl& operator=(const MediaPlayerControl&) = delete;

  DispatchStatus Put(int32_t id, const DispatchValue& value);
  DispatchStatus Get(int32_t id, DispatchValue& out);
  DispatchStatus Call(int32_t id, std::span<const DispatchValue> args = {});

  // The dispatch id of a property or method by the name scripts and hosts
  // use for it (any case); nothing for a name the control does not know.
  static std::optional<int32_t> MemberId(std::string_view name);

  // Why the last open or play failed; empty after a success.
  std::string ErrorText() const;
  MediaPlayState PlayState() const;

 private:
  DispatchStatus Open(const std::string& name);
  DispatchStatus Play();
  void Close();
  void Notify(const char* op, MoviePlayback& playback);

  MediaPlayerSite site_;
  mutable std::recursive_mutex mutex_;
  std::unique_ptr<MoviePlayback> playback_;
  std::atomic<MediaPlayState> state_{MediaPlayState::kClosed};
  std::string fileName_;
  std::string error_;
  int32_t volume_ = kVolumeFull;
  bool autoStart_ = false;
  int64_t selStartMs_ = 0, selEndMs_ = 0;
  std::atomic<uint64_t> playSerial_{0};  // an end heard from an older play is ignored
  std::map<int32_t, DispatchValue> stored_;  // display and behaviour settings, kept
};

}  // namespace kv
