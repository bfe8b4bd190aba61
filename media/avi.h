// CAVI: the movie insert, a video file played on the stage. Every frame is
// drawn into the movie's sprite and composed with the stage like any other
// picture (transparency, layers, effects and paths apply); the sound track
// plays as one more voice of the run's mixer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "inserts/visible_insert.h"

namespace kv {

class MoviePlayback;
struct MoviePicture;
class MediaContext;

struct AviFields {
  uint16_t movieVersion = 0;  // version read; written as 3
  uint32_t movieAux3 = 0;
  uint8_t movieAux2 = 0;
  uint8_t playInline = 0;
  uint8_t silenceSounds = 1;
  uint8_t movieOption1 = 1;
  uint32_t startMs = 0;
  uint32_t showEffectEndMs = 0;
  uint32_t hideEffectStartMs = 0;
  uint32_t endMs = 0;  // 0: the end of the movie
  uint16_t movieOption2 = 1;
  uint8_t withBorder = 0;
  uint8_t useMovieWindow = 0;
  std::string movieFile;
  std::string movieCaption;
};

// A converted movie picture into the top left of the sprite's own picture
// (clipped to it), marked changed.
void CopyMoviePicture(StageSprite& sprite, const MoviePicture& picture);

class CAVI : public CVisibleInsert, public AviFields {
  KV_DECLARE_CLASS(CAVI)
 public:
  static constexpr uint16_t kNewestVersion = 3;

  CAVI();
  ~CAVI() override;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  bool HasContent() const override { return !movieFile.empty(); }
  std::string GetFileName() const override { return movieFile; }
  void SetFileName(const std::string& text) override { movieFile = text; }
  void ChangeContent(PlayContext& ctx, const std::string& file) override;
  std::string GetParameterText() const override { return movieCaption; }
  void SetParameterText(PlayContext& /*ctx*/, const std::string& text) override { movieCaption = text; }
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;

  bool WantsOwnThread(PlayContext& ctx) const override;
  void Stop(PlayContext& ctx) override;
  void Pause(PlayContext& ctx) override;
  void Resume(PlayContext& ctx) override;
  void Hide(PlayContext& ctx) override;
  void TakeOffStage(PlayContext& ctx) override;
  void Prepare(PlayContext& ctx) override;
  void StageGone() override;
  bool IsPlaying() const override;
  void PlayOnStage(PlayContext& ctx) override;

  // Start and end positions in seconds, kept within the movie and each
  // other; the effect periods move with them.
  void SetStartTime(double seconds);
  void SetEndTime(double seconds);
  double GetStartTime() const { return startMs / 1000.0; }
  double GetEndTime() const { return endMs / 1000.0; }
  // The opened movie's length in ms; 0 before it is opened.
  int64_t LengthMs() const { return lengthMs_; }

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  CAVI& Player();
  void WakeLoop();
  void ClosePlayback();
  void PauseMovie(bool pause);
  uint32_t DisappearingMs() const;
  void TraceMovie(const char* op);
  // The movie thread's frame into the sprite's picture; false when the
  // stage lock could not be had before `giveUp`.
  bool Present(Stage& stage, const MoviePicture& picture, const std::function<bool()>& giveUp);
  void Silence(MediaContext* media);
  void Unsilence(MediaContext* media);

  std::unique_ptr<MoviePlayback> playback_;
  // The run's media the playback was added to (its sound, its tracking);
  // set and cleared with playback_, which must leave it before the run ends.
  MediaContext* playbackMedia_ = nullptr;
  int64_t lengthMs_ = 0;
  std::string failedFile_;  // the substituted name whose opening failed, reported
  std::atomic<bool> ended_{false};
  std::atomic<bool> stopRequest_{false};
  std::atomic<bool> loopActive_{false};
  std::atomic<bool> silenced_{false};
};

}  // namespace kv
