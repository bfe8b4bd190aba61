// The sample player: a file-choosing control's preview of a sound through
// the MCI.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kv {

class MciSystem;

// The preview button of a file-choosing control: one sample at a time under
// the alias "__sample_player", on the thread that owns the control.
class SamplePlayer {
 public:
  static constexpr const char* kAlias = "__sample_player";
  static constexpr const char* kStopLabel = "&Stop";  // the button's caption while playing
  // `playing` hears of the button's state: true to relabel it, false to
  // restore it (a stop, or the sample's end).
  SamplePlayer(MciSystem& mci, std::string defaultExtension, std::function<void(bool playing)> playing);
  ~SamplePlayer();
  SamplePlayer(const SamplePlayer&) = delete;
  SamplePlayer& operator=(const SamplePlayer&) = delete;

  // Stops any preview and plays `file` from its start: 0 or the MCI error.
  // Wave files play on "waveaudio", MIDI files on "sequencer"; other types
  // have no preview (EXTENSION_NOT_FOUND).
  uint32_t PlaySample(const std::string& file);
  void StopSample();
  bool Open() const { return open_; }

 private:
  void Tell(bool playing) const;

  MciSystem& mci_;
  std::string defaultExtension_;
  bool open_ = false;
  // The button's listener, shared with the play's notification (which comes
  // from the mixer's thread and may outlive the player).
  struct Listener {
    std::mutex lock;
    std::function<void(bool)> playing;
  };
  std::shared_ptr<Listener> listener_ = std::make_shared<Listener>();
};

}  // namespace kv
