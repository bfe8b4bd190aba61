// CSDButton: a bevelled push button with a caption and optional pictures for
// its normal and pressed states.
#pragma once

#include <cstdint>
#include <string>

#include "inserts/kvfont.h"
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

class CSDButton : public CVisibleInsert, public ButtonFields {
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
};

}  // namespace kv
