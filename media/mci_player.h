// The MCI player: plays a sound file or a range of compact-disc tracks for a
// sound insert through MCI command strings, on the insert's own thread, with
// one current player per device kind. Also the capability test the shell
// and the MCI layer share (CanPlayMedia, DeviceCanPlay).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kv {

class MediaContext;
class MciSystem;
class Runner;
class ScriptThreadContext;

// The fallback alias of a player whose insert name is empty or taken.
std::string FallbackMciAlias(long number);

class MciPlayer {
 public:
  // `name` is the insert's name (the preferred alias); errors are shown in
  // a box when `showErrors`.
  MciPlayer(Runner& runner, MediaContext& media, std::string name, bool showErrors);
  ~MciPlayer();
  MciPlayer(const MciPlayer&) = delete;
  MciPlayer& operator=(const MciPlayer&) = delete;

  // Each answers 0 or the MCI error number.
  uint32_t OpenWave(const std::string& storedName);
  uint32_t OpenCd(uint32_t& tracks);
  // Plays [from, to) in the device's time format, `repetitions` times (0
  // counts as 1); `to` empty: to the end.
  uint32_t Play(const std::string& from, const std::string& to, uint32_t repetitions);
  void Pause();
  void Resume();
  void Stop();
  void Close();
  // Serves the thread's messages (no requests) while the device plays, until
  // the stop key, a scene change or the run's teardown; `serve` runs after
  // every wake-up (pausing, resuming) and answers true to stop. Answers true
  // when the play ended by itself.
  bool WaitWhilePlaying(const std::function<bool()>& serve);
  // Asks the playing thread to stop (any thread).
  void RequestStop();

  const std::string& alias() const { return alias_; }
  bool IsOpen() const { return open_; }
  bool IsPlaying() const;

 private:
  uint32_t Send(const std::string& command, std::string* ret = nullptr, bool notify = false);
  void ShowError(uint32_t code, const char* operation);
  void OnNotify(uint32_t code);
  int SlotKind();
  std::string PlayCommand() const;
  void ReleaseSlot();

  Runner& runner_;
  MediaContext& media_;
  std::string name_;
  bool showErrors_;
  std::string alias_;
  bool open_ = false;
  uint64_t id_;
  std::string from_, to_;
  uint32_t repetitionsLeft_ = 0;
  bool holdsSlot_ = false;
  int slotKind_ = 0;
  // What notifications and other threads reach; it outlives the player.
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

// Whether the device for `path` can play it: "open", "capability ... can
// play" answered "true" (any case), and always "close" after a good open.
bool CanPlayMedia(MciSystem& mci, const std::string& path);
// The same for a device or file name given as it is.
bool DeviceCanPlay(MciSystem& mci, const std::string& device);

}  // namespace kv
