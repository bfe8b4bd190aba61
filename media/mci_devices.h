// The MCI command-string layer: open devices by name or alias and carry out
// command strings on them. waveaudio plays through libsndfile and the mixer,
// sequencer through FluidSynth, cdaudio from a folder of ripped track files,
// digitalvideo (also opened as avivideo) through the movie decoder on the
// run's clock. One per player.
#pragma once

#include <cstdint>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "media/mixer.h"
#include "media/movie_clock.h"

namespace kv {

struct MciConfig {
  std::filesystem::path soundFont;  // empty: the default General MIDI SoundFont
  std::filesystem::path cdFolder;   // track files "1.wav", "02.flac", "track03.ogg"...
  // A stored (Windows-form) element name to a file; nullopt when not found.
  // Unset: the name is taken as a path as it stands.
  std::function<std::optional<std::filesystem::path>(const std::string&)> resolve;
  // Waits that many milliseconds of the run's clock ("wait" on play); where
  // the device runs ahead of the clock (the speakers), also until `ended`.
  // Unset: the thread sleeps.
  std::function<void(int64_t, const std::function<bool()>& ended)> wait;
  // Hears of a device's sound starting ("play"), pausing, resuming and ending
  // ("stop", for any reason); called with the system's lock held, so it
  // must not come back into the system.
  std::function<void(const std::string& device, const char* op)> onSound;
  // A clock of the run for each digital-video device, which paces it;
  // unset, video devices are not installed.
  std::function<std::unique_ptr<MovieClock>()> movieClock;
};

// Called with the device id and a mci_notify code; may come from the audio
// thread, so it must not block.
using MciNotifyFn = std::function<void(uint32_t, uint32_t)>;

class MciSystem {
 public:
  // Without a mixer there is no sound output and sounding devices refuse to open.
  MciSystem(Mixer* mixer, MciConfig config);
  ~MciSystem();
  MciSystem(const MciSystem&) = delete;
  MciSystem& operator=(const MciSystem&) = delete;

  // Carries out one command string; answers 0 or an mci_err number, with the
  // command's return text in `ret`.
  uint32_t SendString(std::string_view command, std::string* ret = nullptr, MciNotifyFn notify = {});

  size_t OpenCount() const;

  struct Device;
  struct MediaSpan;
  class Media;

 private:
  uint32_t Execute(std::string_view command, std::string& ret, const MciNotifyFn& notify);
  uint32_t Open(const struct MciCommand& cmd, std::string& ret, const MciNotifyFn& notify,
                std::unique_lock<std::recursive_mutex>& lock);
  std::shared_ptr<Media> LoadMedia(int kind, const std::string& element) const;
  Device& Find(const std::string& name);
  void Close(Device& d);
  void StartPlay(Device& d, uint64_t from, uint64_t to, const MediaSpan& span, MciNotifyFn notify);
  void Halt(Device& d, uint32_t notifyCode);
  void OnVoiceEnd(uint32_t deviceId, VoiceId voice, VoiceEnd why);
  uint32_t ExecuteVideo(Device& d, const struct MciCommand& cmd, std::string& ret, const MciNotifyFn& notify,
                        std::unique_lock<std::recursive_mutex>& lock);
  void OpenVideo(Device& d, const std::string& element);
  void OnVideoEnd(uint32_t deviceId, const std::shared_ptr<std::atomic<bool>>& alive);
  void Observe(const Device& d, const char* op);

  Mixer* mixer_;
  MciConfig config_;
  mutable std::recursive_mutex lock_;
  std::map<uint32_t, std::unique_ptr<Device>> devices_;
  uint32_t nextId_ = 1;
};

}  // namespace kv
