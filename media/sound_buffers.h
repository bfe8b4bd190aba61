// The sound buffer manager: one buffer record per prepared sound, each a
// mixer voice over the sound's segment, with channels and the owner links
// the sound inserts use. One per player; the inserts hold weak links to
// their records, and the records weak links to their inserts.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "media/mixer.h"
#include "media/sound_file.h"

namespace kv {

// rwLastError values of the sound inserts.
namespace sound_error {
inline constexpr int32_t kNoSoundManager = 7;
inline constexpr int32_t kPrepareFailed = 8;
}  // namespace sound_error

// Channel value of a record that mixes with every other sound.
inline constexpr uint32_t kChannelMixAll = 0xFFFF;
// Records alive at most; one more than the array's 5000 slots, as the check
// comes before the append.
inline constexpr size_t kMaxSoundBuffers = 5001;

// Channel value for a `channelMode` (0 stop others, 1 mix, 2 own channel).
uint32_t ChannelValueOf(uint8_t channelMode, uint32_t channel);

// The inserts' property mappings, in 64-bit arithmetic.
int32_t VolumeFromPercent(int32_t percent);
int32_t PercentFromVolume(int32_t volume);
int32_t PanFromStep(int32_t step);
int32_t StepFromPan(int32_t pan);
uint32_t FrequencyFromHz(int64_t hz);
uint32_t ShiftedFrequency(uint32_t current, int32_t percent);

// The insert that holds a record; asked to stop when its channel is taken.
class SoundBufferOwner {
 public:
  virtual ~SoundBufferOwner() = default;
  // Ask the play loop to end; with `unRun` the insert also stops running.
  virtual void RequestStop(bool unRun) = 0;
};

struct SoundBufferRecord {
  VoiceId voice = 0;
  bool filled = false;
  bool paused = false;
  uint32_t channelValue = kChannelMixAll;
  uint64_t byteSize = 0;  // the segment as 16-bit PCM, as the owner's size
  std::weak_ptr<SoundBufferOwner> owner;
};

struct PreparedSound {
  std::weak_ptr<SoundBufferRecord> record;
  int32_t error = 0;  // sound_error value when no record was made
  std::string detail;
};

class SoundBufferManager {
 public:
  // Without a mixer there is no sound device: every operation answers failure.
  explicit SoundBufferManager(Mixer* mixer) : mixer_(mixer) {}
  ~SoundBufferManager();
  SoundBufferManager(const SoundBufferManager&) = delete;
  SoundBufferManager& operator=(const SoundBufferManager&) = delete;

  bool Available() const { return mixer_ != nullptr && !switchedOff_.load(); }
  // Scripts may switch buffered sound off (every buffer is released) and on
  // again; while off, the manager answers as one without a device.
  void SwitchOff();
  void SwitchOn() { switchedOff_ = false; }
  bool SwitchedOff() const { return switchedOff_.load(); }

  // Reads the file's segment and makes a filled record; errors come back
  // as kPrepareFailed with the reason, never as an exception.
  PreparedSound PrepareSound(const std::filesystem::path& file, uint32_t startMs, uint32_t endMs,
                             uint32_t channelValue, std::weak_ptr<SoundBufferOwner> owner);
  std::shared_ptr<SoundBufferRecord> CreateSoundBuffer(std::shared_ptr<const SoundBuffer> sound, FrameRange range,
                                                       uint32_t channelValue, std::weak_ptr<SoundBufferOwner> owner);

  // Plays `count` passes (or loops); unless paused, from `position` frames.
  bool PlaySoundBuffer(SoundBufferRecord& record, uint32_t count, bool loop, uint64_t position = 0);
  bool StopSoundBuffer(SoundBufferRecord& record);
  bool PauseSoundBuffer(SoundBufferRecord& record);
  bool IsSoundBufferPlaying(const SoundBufferRecord& record) const;
  uint64_t GetSoundBufferPosition(const SoundBufferRecord& record) const;
  void SetSoundBufferVolume(const SoundBufferRecord& record, int32_t volume);
  void SetSoundBufferPan(const SoundBufferRecord& record, int32_t pan);
  void SetSoundBufferFrequency(const SoundBufferRecord& record, uint32_t hz);
  uint32_t GetSoundBufferFrequency(const SoundBufferRecord& record) const;
  void SetEndCallback(const SoundBufferRecord& record, VoiceEndFn fn);

  // Ends the record's sound (its end callback runs with kDestroyed) and
  // drops it; the owner's weak link expires with it.
  void DestroySoundBuffer(const SoundBufferRecord& record);
  void ReleaseAllSoundBuffers();
  // Asks the owners of the other playing records of a channel (all of them
  // for channel 0) to stop; a record whose owner is gone is stopped here.
  void StopChannel(uint32_t channelValue, const SoundBufferRecord* except, bool unRun);
  // A new owner window: every record is released.
  void ChangeOwnerWindow(uintptr_t window);

  size_t LiveCount() const;
  uint32_t LastFrequency() const;

 private:
  Mixer* mixer_;
  std::atomic<bool> switchedOff_{false};
  mutable std::recursive_mutex soundLock_;
  std::vector<std::shared_ptr<SoundBufferRecord>> records_;
  uintptr_t ownerWindow_ = 0;
  uint32_t lastFrequency_ = 0;
};

}  // namespace kv
