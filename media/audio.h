// Sound inserts: CAudio, the stored sound fields shared by CFileAudio (a
// sound file) and CDiscAudio (a track range of an audio compact disc).
#pragma once

#include <cstdint>
#include <string>

#include "engine/insert.h"

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

class CAudio : public CInsert, public AudioFields {
  KV_DECLARE_CLASS(CAudio)
 public:
  static constexpr uint16_t kNewestVersion = 2;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

class CFileAudio : public CAudio {
  KV_DECLARE_CLASS(CFileAudio)
};

// Plays a track range through the compact disc device. Its record holds the
// sound fields alone.
class CDiscAudio : public CAudio {
  KV_DECLARE_CLASS(CDiscAudio)
};

}  // namespace kv
