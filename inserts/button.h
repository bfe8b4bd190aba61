// CSDButton: a bevelled push button with a caption and optional pictures for
// its normal and pressed states.
#pragma once

#include <QFont>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "inserts/kvfont.h"
#include "inserts/painted_sprite.h"
#include "inserts/system_colors.h"
#include "inserts/visible_insert.h"

namespace kv {

// The fields Reset restores.
struct ButtonFields {
  uint16_t usePictures = 0;
  uint16_t useSystemColors = 0;
  uint16_t buttonAux1 = 1;
  uint32_t faceColor = syscolor::kBtnFace;
  uint32_t borderColor = syscolor::kWindowFrame;
  uint32_t bevelShadowColor = syscolor::kBtnShadow;
  uint32_t highlightColor = syscolor::kBtnHighlight;
  uint32_t textColor = syscolor::kBtnText;
  uint32_t textShadowColor = syscolor::kBtnShadow;
  uint16_t frameWidth = 2;
  uint16_t bevelWidth = 2;
  uint16_t buttonType = 0;  // 1: going on stage flushes the scene-ready work
  uint32_t buttonAux2 = 0;
  std::string caption;
  CKVFont font;
};

class CSDButton : public CVisibleInsert, public ButtonFields, public SelfPainting {
  KV_DECLARE_CLASS(CSDButton)
 public:
  static constexpr uint16_t kNewestVersion = 3;

  uint16_t buttonVersion = 0;  // version read
  // Reset leaves these as they are.
  std::string normalPicture;
  std::string pressedPicture;
  std::string buttonAux3;
  std::string buttonAux4;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // --- on the stage
  // Frame and bevel widths beyond this many pixels are not drawn wider.
  static constexpr int kEdgeLimit = 256;
  int32_t pressed = 0;  // held down

  // Paints the button into `target` for an object occupying `area`.
  void PaintButton(StageSprite& sprite, DrawTarget& target, const Rect& clip, const Rect& area);
  void PaintSprite(PlayContext*, StageSprite& sprite, DrawTarget& target, const Rect& clip) override;
  // Loads the state pictures not loaded yet; an unreadable one is reported.
  void LoadStatePictures(Stage& stage);
  void HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) override;
  void OnHotkey(PlayContext& ctx, uint32_t key, uint32_t modifiers, int phase) override;
  bool ClearArmed() override;
  void SetParameterText(PlayContext& ctx, const std::string& text) override;
  std::string GetParameterText() const override { return caption; }
  // Replaced where it is kept, without the content's "File Change".
  void SetPressedPicture(PlayContext& ctx, const std::string& file);
  void ChangeContent(PlayContext& ctx, const std::string& file) override;
  // Its five colours and its pressed picture.
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  // Sets a state picture's name and loads it again.
  void ReplacePicture(PlayContext& ctx, std::string& name, std::unique_ptr<StageSprite>& bitmap, const std::string& file);
  std::unique_ptr<StageSprite> normalBitmap_;
  std::unique_ptr<StageSprite> pressedBitmap_;
  bool haveCaptionFont_ = false;
  // Made when a caption is first drawn: most loaded buttons never draw.
  std::optional<QFont> captionFont_;
  double captionScale_ = 0;
};

}  // namespace kv
