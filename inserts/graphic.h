// CGraphic: the pen and drop-shadow part shared by the shapes and the text
// insert, drawn by the player itself rather than loaded from a picture.
#pragma once

#include <QColor>
#include <QPen>
#include <QRect>
#include <QRegion>
#include <cstdint>

#include "inserts/painted_sprite.h"
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

 public:
  // --- drawing
  // The outline pen: none for style 5 or a colour the keyed sprite drops.
  QPen OutlinePen(const StageSprite& sprite) const;
  // The shadow offset, bounded by the size of `area` and kShadowLimit.
  QPoint ShadowOffset(const Rect& area) const;
  // Whether a shadow is painted in `area`.
  bool HasShadow(const StageSprite& sprite, const Rect& area) const;
  static constexpr int kShadowLimit = 1024;
  static constexpr int kPenLimit = 1024;

  // The shadow colour (also answering as the text shadow) and the line colour.
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;

 protected:
  // Redraws the sprite's area when it is on the stage.
  void Redraw();
};

// Whether `color` lies in the transparent ranges of `sprite`; a sprite
// without transparency has none, so black stays black on it.
bool IsKeyedAway(const StageSprite& sprite, uint32_t color);
QColor ToQColor(uint32_t colorRef);
QRect ToQRect(const Rect& r);
// `r` limited to coordinates QPainter handles exactly.
Rect PaintableRect(const Rect& r);
// The union of `shape` moved to every point of the line from (0, 0) to
// `offset`, stepped as the platform's line routine steps it.
QRegion SweepRegion(const QRegion& shape, QPoint offset);
// The part of `area` the figure takes when its shadow moves it by `offset`:
// the shadow gets its room on the side it falls to.
Rect FigureBox(const Rect& area, QPoint offset);

}  // namespace kv
