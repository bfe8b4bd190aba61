// CMPlayer: a media file played through our media player control, which it
// drives by dispatch ids as it would any control. Pictures go into the
// object's sprite and are composed with the stage; sound plays as a voice of
// the run's mixer. With `hideControl` only the sound plays.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "inserts/visible_insert.h"
#include "media/media_player_control.h"

namespace kv {

class MediaContext;

struct MPlayerFields {
  uint16_t playerVersion = 0;  // version read; always 1
  uint32_t playerOptions = 0;  // display and behaviour bits of the control
  uint8_t hideControl = 0;
  uint8_t takeForeground = 0;
  uint32_t playerAux1 = 0;
  uint8_t clearPlayValue = 0;
  uint8_t playerAux2 = 0;
  uint8_t playerAux3 = 0;
  uint8_t playValue = 0;
  uint32_t startMs = 0;
  uint32_t endMs = 0;
  double duration = 0.0;  // seconds, as last read from the control
  uint16_t playerAux4 = 0;
  uint8_t playerAux5 = 0;
  uint8_t useWindow = 0;
  std::string mediaFile;
  std::string playerText;
};

// playerOptions bits.
namespace player_option {
inline constexpr uint32_t kOpenByName = 0x800;  // the file is put as the file name, not opened by a call
}

class CMPlayer : public CVisibleInsert, public MPlayerFields {
  KV_DECLARE_CLASS(CMPlayer)
 public:
  // The level the object plays at while the player runs (hundredths of a decibel).
  static constexpr int32_t kRunningVolume = -600;
  // The run loop looks at the control's play state this often.
  static constexpr int64_t kPollMs = 125;

  CMPlayer();
  ~CMPlayer() override;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  bool HasContent() const override { return !mediaFile.empty(); }
  std::string GetFileName() const override { return mediaFile; }
  void SetFileName(const std::string& text) override { mediaFile = text; }
  void ChangeContent(PlayContext& ctx, const std::string& file) override;
  std::string GetParameterText() const override { return playerText; }
  void SetParameterText(PlayContext& /*ctx*/, const std::string& text) override { playerText = text; }
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;

  int Run(Runner& runner, int32_t mode) override;
  void Stop(PlayContext& ctx) override;
  void Pause(PlayContext& ctx) override;
  void Resume(PlayContext& ctx) override;
  void Hide(PlayContext& ctx) override;
  void Prepare(PlayContext& ctx) override;
  void StageGone() override;
  bool IsPlaying() const override;
  void PlayOnStage(PlayContext& ctx) override;

  // Start and end positions in seconds: not negative, the end not before
  // the start and, once the duration is known, not past it.
  void SetStartTime(double seconds);
  void SetEndTime(double seconds);
  double GetStartTime() const { return startMs / 1000.0; }
  double GetEndTime() const { return endMs / 1000.0; }

  // The control while the object has its sprite; null otherwise.
  MediaPlayerControl* Control() { return control_.get(); }
  bool Failed() const { return failed_; }

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  CMPlayer& Player();
  void WakeThread();
  // The puts and the opening that follow the control's creation.
  void Configure(Runner& runner);
  void OpenFile(Runner& runner, const std::string& file);
  void PutSelection();
  void CloseControl();
  void ReportFailure(Runner& runner, const std::string& text);
  int32_t PlayStateOf();

  std::unique_ptr<MediaPlayerControl> control_;
  MediaContext* controlMedia_ = nullptr;  // the run's media the control plays through
  std::string openedFile_;                // the substituted name given to the control
  std::string reportedFailure_;           // the failure last reported, once per text
  std::atomic<bool> failed_{false};
  std::atomic<bool> stopRequest_{false};
  std::atomic<bool> pauseRequested_{false};
};

}  // namespace kv
