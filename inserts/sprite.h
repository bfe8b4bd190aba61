// CSprite: a character with nine direction frames (eight directions and a
// centre frame) that turns and walks as it moves.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "inserts/visible_insert.h"

namespace kv {

// One direction's picture strip; frames 1 to 8 are up, up-right, right,
// down-right, down, down-left, left, up-left; 9 is the centre.
struct SpriteFrame {
  std::string framePicture;  // empty: the frame has no picture
  uint32_t distancePerCell = 6;
};

// The stored part of the sprite's FrameSprite: its frames and options.
struct FrameSpriteRecord {
  static constexpr size_t kFrames = 9;
  uint16_t frameVersion = 0;  // version read; written as 3
  std::array<SpriteFrame, kFrames> frames;
  uint32_t historyLength = 5;  // used clamped to 1..99; stored as found
  uint32_t autoCentre = 0;
  uint32_t autoCentreDelay = 0;
  uint32_t cycleCentre = 1;
  uint32_t cycleStartDelay = 0;
  uint32_t cycleRate = 7;  // cells per second; 0 disables cycling
  uint32_t skipFirstCellOnLoop = 0;
};

// One of nine records of an older frame layout that follow the sprite part;
// nothing reads them, and they are written back as found.
struct LegacyFrameRecord {
  std::string text1;
  std::string text2;
  std::array<uint32_t, 4> values{1156, 1171, 1, 7};  // what a new sprite writes
};

struct SpriteFields {
  uint16_t spriteVersion = 0;  // version read; written as 3
  FrameSpriteRecord frameSprite;
  uint32_t defaultFrame = 9;  // the frame meant when an operation names frame 0
  uint32_t spriteAux1 = 1;
  uint32_t spriteAux2 = 1;
  uint32_t spriteAux3 = 0;
  std::array<LegacyFrameRecord, FrameSpriteRecord::kFrames> legacyRecords;
};

class FrameSprite;

class CSprite : public CVisibleInsert, public SpriteFields {
  KV_DECLARE_CLASS(CSprite)
 public:
  static constexpr uint16_t kNewestVersion = 3;
  static constexpr int kCentreFrame = 9;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // The frame files: index 1 to 9 a frame, 0 the default frame.
  void GetPropertyText(int index, std::string& text, int& type) override;
  int SetPropertyText(PlayContext& ctx, int index, const std::string& text) override;
  bool HasContent() const override;
  // The centre frame's picture when `text` names a bitmap, otherwise none.
  void SetContentText(PlayContext&, const std::string& text) override { SetCentrePicture(text); }
  void SetCentrePicture(const std::string& text);
  std::string GetFileName() const override { return FrameFile(kCentreFrame); }
  void SetFileName(const std::string& text) override { SetCentrePicture(text); }
  void ChangeContent(PlayContext& ctx, const std::string& file) override;
  void ListEvents(std::vector<uint32_t>& events) const override;
  bool WantsOwnThread(PlayContext& ctx) const override;
  void Stop(PlayContext& ctx) override;
  void Hide(PlayContext& ctx) override;
  void OnEnable(PlayContext& ctx) override;
  void OnDisable(PlayContext& ctx) override;
  void Prepare(PlayContext& ctx) override { PreloadSprite(ctx); }
  void PlayOnStage(PlayContext& ctx) override;

  // The file of frame `n` (0: the default frame).
  std::string FrameFile(int n) const;
  std::atomic<bool> enabled{true};

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  FrameSprite* Frames();
  // Cycles the centre frame while the object plays, then returns to the
  // centre frame when asked to.
  void CentreCycle(PlayContext& ctx);
};

}  // namespace kv
