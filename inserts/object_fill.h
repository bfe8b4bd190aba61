// CObjectFill: the fill part (solid colour, built-in pattern or texture
// picture) shared by the four shapes.
#pragma once

#include <QBrush>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdint>
#include <string>

#include "inserts/graphic.h"

namespace kv {

struct ObjectFillFields {
  uint8_t fillStyle = 0;  // 0 solid, 1 built-in pattern, 2 texture picture
  uint8_t patternIndex = 0;
  uint32_t fillAux = 0;
  std::string textureFile;
  uint32_t fillColor = syscolor::kBtnFace;
};

class CObjectFill : public CGraphic, public ObjectFillFields, public SelfPainting {
  KV_DECLARE_CLASS(CObjectFill)
 public:
  // Background of patterns; Reset leaves it alone, a new object starts white.
  uint32_t fillBackColor = 0x00FFFFFF;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // --- drawing
  static constexpr int kPatternCount = 8;
  // The fill: none when a colour of it is keyed away; the pattern or the
  // texture when chosen and available, else fillColor.
  QBrush FillBrush(const StageSprite& sprite) const;
  // Paints the shadow and the figure of an object occupying `area` (stage
  // coordinates) and records the hit region.
  void PaintShape(QPainter& p, const StageSprite& sprite, const Rect& area);
  void PaintSprite(PlayContext*, StageSprite& sprite, DrawTarget& target, const Rect& clip) override;
  bool HitsAt(const StageSprite& sprite, int x, int y) const override;
  bool PaintsAll(const StageSprite& sprite) const override;
  // The texture picture of fillStyle 2 (loaded when the sprite is made).
  void SetTexture(QImage texture);

  // The fill colour (also answering as the text colour) and the pattern's
  // background, beside the outline's colours.
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;
  // The figure with the selected pen and brush in `box`; a plain rectangle
  // unless the kind draws another.
  virtual void DrawFigure(QPainter& p, const Rect& box) const;
  // The area the figure covers in `box`, for the shadow and hit tests,
  // within `window`.
  virtual QRegion FigureRegion(const Rect& box, const QRect& window) const;
  // Whether the figure, filled and outlined, covers all of `box`.
  virtual bool FigureFillsBox() const { return false; }
  // What the figure's shape depends on beyond its rectangle.
  virtual std::string GeometryKey() const { return {}; }
  // A rectangle holding every pixel the figure in `box` covers.
  virtual QRect FigureBounds(const Rect& box) const;

 private:
  QImage texture_;
  QRegion hitRegion_;  // relative to the displayed rectangle's top left
  bool hasHitRegion_ = false;
  // The shape and shadow regions of the last paint relative to the
  // rectangle's top left, kept while its size, the offset and the geometry
  // stay: a figure that moves keeps them unless the device's edge cut them.
  struct RegionCache {
    int64_t width = 0, height = 0;
    QPoint offset;
    QRect window;  // the device the regions were cut to
    QRect bounds;  // what the figure and its shadow may cover
    std::string geometry;
    QRegion shape, shadow;
  };
  std::unique_ptr<RegionCache> regions_;
};

// The pixels `path` fills within `window`; a path far larger than the window
// is cut to it first, so the cost follows the window, not the path.
QRegion ClippedRegion(const QPainterPath& path, const QRect& window);

// The rectangle whose QPainter outline covers exactly [left, right) x
// [top, bottom) of `box` (QPainter outlines a w x h rectangle over w + 1 x
// h + 1 pixels); also the platform's fill of a rectangle.
QRect OutlineRect(const Rect& box);

}  // namespace kv
