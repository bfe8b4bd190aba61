// CGraphic: the pen and drop-shadow part shared by the shapes and the text
// insert, drawn by the player itself rather than loaded from a picture.
#pragma once

#include <cstdint>

#include "inserts/system_colors.h"
#include "inserts/visible_insert.h"

namespace kv {

struct GraphicFields {
  uint16_t penStyle = 0;  // 0 solid, 1 dash, 2 dot, 3 dash-dot, 4 dash-dot-dot, 5 none
  uint16_t penWidth = 1;
  uint32_t penColor = syscolor::kWindowFrame;
  int32_t shadowX = 3;  // (0, 0): no shadow
  int32_t shadowY = 3;
  uint32_t shadowColor = syscolor::kBtnShadow;
};

class CGraphic : public CVisibleInsert, public GraphicFields {
  KV_DECLARE_CLASS(CGraphic)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

 protected:
  // The pen and shadow fields alone; the text walks them after its own
  // version word and the visible part.
  template <class W>
  void WalkGraphicPart(W& w) {
    w("penStyle", penStyle);
    w("penWidth", penWidth);
    w("penColor", penColor);
    w("shadowX", shadowX);
    w("shadowY", shadowY);
    w("shadowColor", shadowColor);
  }
};

}  // namespace kv
