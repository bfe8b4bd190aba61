// Sound inserts: CAudio, the stored sound fields and the play loop shared by
// CFileAudio (a sound file) and CDiscAudio (a track range of an audio compact
// disc). A wave file plays through a buffer of the run's sound buffer
// manager; any other file, and the disc, through an MCI player.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/insert.h"
#include "media/sound_buffers.h"

namespace kv {

namespace channel_mode {
inline constexpr uint8_t kStopOthers = 0;
inline constexpr uint8_t kMix = 1;
inline constexpr uint8_t kStopChannel = 2;
}  // namespace channel_mode

// `displayFlags` bit: leave the file's own playback rate.
inline constexpr uint8_t kAudioIgnoreFrequency = 4;
// `displayKind` of a record that carries a stage display block (a block whose
// layout belongs to the authoring side and whose size is not stored).
inline constexpr uint8_t kAudioHasDisplayBlock = 1;

struct AudioFields {
  uint16_t audioVersion = 0;  // version read; written as 2
  std::string fileName;
  uint8_t ownThread = 1;
  uint8_t playCount = 1;
  uint8_t loop = 0;
  uint32_t startMs = 0;
  uint32_t endMs = 0;
  uint8_t audioByte = 1;
  uint32_t frequency = 0;  // Hz; 0 leaves the file's rate
  int32_t volume = 0;      // hundredths of a decibel, -10000 to 0
  int32_t pan = 0;         // -10000 left to 10000 right
  uint8_t channelMode = channel_mode::kMix;
  uint32_t channel = 1;
  uint8_t displayFlags = 0;
  uint8_t displayKind = 0;
};

class MediaContext;
class MciPlayer;
class CVisibleInsert;

// String ids of the sound inserts' messages.
namespace sound_sid {
inline constexpr uint32_t kErrorPlayingSound = 6000;
inline constexpr uint32_t kInvalidTrack = 7119;
inline constexpr uint32_t kErrorInitializingAudio = 7120;
inline constexpr uint32_t kErrorPlayingSegment = 7121;
}  // namespace sound_sid
// Shown once per run when a wave file finds no sound device.
inline constexpr const char* kNoSoundDeviceText = "DirectSound is not available.";

class CAudio : public CInsert, public AudioFields, public SoundBufferOwner {
  KV_DECLARE_CLASS(CAudio)
 public:
  static constexpr uint16_t kNewestVersion = 2;

  CAudio();
  ~CAudio() override;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // --- behaviour
  int Run(Runner& runner, int32_t mode) override;
  bool WantsOwnThread(PlayContext&) const override { return ownThread != 0; }
  void Prepare(PlayContext& ctx) override;
  void Stop(PlayContext& ctx) override;
  void Pause(PlayContext& ctx) override;
  void Resume(PlayContext& ctx) override;
  bool IsPlaying() const override;
  bool HasContent() const override { return true; }
  void SetContentText(PlayContext&, const std::string& text) override { ReplaceFile(text); }
  void SetFileName(const std::string& text) override { ReplaceFile(text); }
  std::string GetFileName() const override { return fileName; }
  int SetPropertyText(PlayContext& ctx, int index, const std::string& text) override;
  void GetPropertyText(int index, std::string& text, int& type) override;
  void ChangeContent(PlayContext&, const std::string& text) override { ReplaceFile(text); }
  // A new sound file: the sound loaded from the old one goes.
  void ReplaceFile(const std::string& text);
  void SetStartTime(double seconds);
  double GetStartTime() const { return startMs / 1000.0; }
  void SetEndTime(double seconds);
  double GetEndTime() const { return endMs / 1000.0; }
  void SetVolumePercent(int v);
  int GetVolumePercent() const { return PercentFromVolume(volume); }
  void SetPanStep(int v);
  int GetPanStep() const { return StepFromPan(pan); }
  void SetFrequencyHz(int f);
  int GetFrequencyHz() const;
  void ShiftFrequencyPercent(int p);
  // The segment's times, volume, pan and frequency as numbers.
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;
  void RequestStop(bool unRun) override;

  // The resolved file is a wave file (played through a sound buffer).
  bool IsWaveFile() const;
  bool UsesDirectSound() const;
  // Stops the sound if it plays; otherwise drops its buffer or MCI device.
  void ReleaseSound();

 protected:
  // The kind's own way of sounding: a file (wave or MCI) or the disc.
  virtual int PlaySound(Runner& runner, MediaContext& media);
  int PlayWave(Runner& runner, MediaContext& media);
  int PlayThroughMci(Runner& runner, MediaContext& media, bool disc);

 private:
  bool PrepareWave(Runner& runner, MediaContext& media);
  // Stores a value here and on the playing copy, and applies it to the
  // playing buffer.
  template <class T, class Apply>
  void StoreAndApply(T AudioFields::*field, T value, Apply apply);
  // The copy playing in a thread of its own, else this insert.
  CAudio& Player();
  void WakeLoop();
  // The rate a frequency shift starts from: the buffer's, else the stored
  // frequency, else the file's own.
  uint32_t CurrentFrequency() const;

  // Other threads set properties and release the sound while the loop plays.
  std::shared_ptr<SoundBufferRecord> Record() const;
  void SetRecord(std::weak_ptr<SoundBufferRecord> record);
  mutable std::mutex recordMutex_;
  std::weak_ptr<SoundBufferRecord> record_;
  std::atomic<bool> stopRequest_{false};
  std::atomic<int> pauseRequest_{0};  // 1 pause, 2 resume
  std::atomic<bool> loopActive_{false};
};

class CFileAudio : public CAudio {
  KV_DECLARE_CLASS(CFileAudio)
};

// Plays a track range through the compact disc device: `startMs` holds the
// first track and `endMs` the last (0: to the end of the disc). Its record
// holds the sound fields alone.
class CDiscAudio : public CAudio {
  KV_DECLARE_CLASS(CDiscAudio)
 protected:
  int PlaySound(Runner& runner, MediaContext& media) override;
};

// The sound a visible object carries, played, stopped, paused and resumed
// with it (the visible base and the flow commands call these). Each answers
// false when the object carries no sound.
bool PlayAttachedSound(Runner& runner, CVisibleInsert& object);
bool StopAttachedSound(Runner& runner, CVisibleInsert& object);
bool PauseAttachedSound(Runner& runner, CVisibleInsert& object);
bool ResumeAttachedSound(Runner& runner, CVisibleInsert& object);

}  // namespace kv
