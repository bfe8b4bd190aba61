#include "inserts/graphic.h"

#include <algorithm>
#include <cstdlib>

#include "persist/field_walk.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CGraphic, CVisibleInsert, kVersionable | 0)

void CGraphic::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = 2;
}

void CGraphic::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CGraphic>(other));
}

template <class W>
void CGraphic::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  WalkGraphicPart(w);
}

KV_FIELD_WALK_IO(CGraphic)

// ---------------------------------------------------------------- drawing

namespace {

// The platform's cosmetic dash patterns, in pixels, for styles 1 to 4.
const QList<qreal> kDash{18, 6};
const QList<qreal> kDot{3, 3};
const QList<qreal> kDashDot{9, 6, 3, 6};
const QList<qreal> kDashDotDot{9, 3, 3, 3, 3, 3};

constexpr int kPaintableLimit = 1 << 24;

}  // namespace

bool IsKeyedAway(const StageSprite& sprite, uint32_t color) {
  if (!sprite.keyed) return false;
  const ColorRef c(color);
  return c.Red() >= sprite.redMin && c.Red() <= sprite.redMax && c.Green() >= sprite.greenMin &&
         c.Green() <= sprite.greenMax && c.Blue() >= sprite.blueMin && c.Blue() <= sprite.blueMax;
}

QColor ToQColor(uint32_t colorRef) {
  const ColorRef c(colorRef);
  return QColor(c.Red(), c.Green(), c.Blue());
}

QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

Rect PaintableRect(const Rect& r) {
  auto bound = [](int v) { return std::clamp(v, -kPaintableLimit, kPaintableLimit); };
  return {bound(r.left), bound(r.top), bound(r.right), bound(r.bottom)};
}

QRegion SweepRegion(const QRegion& shape, QPoint offset) {
  // Bresenham from (0, 0): one step along the major axis each time.
  const int dx = std::abs(offset.x()), dy = std::abs(offset.y());
  const int sx = offset.x() < 0 ? -1 : 1, sy = offset.y() < 0 ? -1 : 1;
  QRegion swept = shape;
  int x = 0, y = 0, err = dx - dy;
  while (x != offset.x() || y != offset.y()) {
    const int e2 = 2 * err;
    if (e2 > -dy) {
      err -= dy;
      x += sx;
    }
    if (e2 < dx) {
      err += dx;
      y += sy;
    }
    swept += shape.translated(x, y);
  }
  return swept;
}

Rect FigureBox(const Rect& area, QPoint offset) {
  Rect box = area;
  if (offset.x() > 0) box.right -= offset.x();
  if (offset.x() < 0) box.left -= offset.x();
  if (offset.y() > 0) box.bottom -= offset.y();
  if (offset.y() < 0) box.top -= offset.y();
  return box;
}

QPen CGraphic::OutlinePen(const StageSprite& sprite) const {
  if (penStyle == 5 || IsKeyedAway(sprite, penColor)) return QPen(Qt::NoPen);
  QPen pen(ToQColor(penColor));
  const int width = std::clamp<int>(penWidth, 1, kPenLimit);
  pen.setWidth(width);
  pen.setJoinStyle(Qt::MiterJoin);
  pen.setCapStyle(Qt::SquareCap);  // the end points of a one-pixel line are its own
  // Styled outlines exist only one pixel wide; wider ones draw solid.
  if (width == 1) {
    const QList<qreal>* dashes = penStyle == 1   ? &kDash
                                 : penStyle == 2 ? &kDot
                                 : penStyle == 3 ? &kDashDot
                                 : penStyle == 4 ? &kDashDotDot
                                                 : nullptr;
    if (dashes) pen.setDashPattern(*dashes);
  }
  return pen;
}

QPoint CGraphic::ShadowOffset(const Rect& area) const {
  // Bounded so the sweep takes at most a few thousand steps whatever the file holds.
  const int maxX = std::min<int64_t>(kShadowLimit, area.Width64());
  const int maxY = std::min<int64_t>(kShadowLimit, area.Height64());
  return {static_cast<int>(std::clamp<int64_t>(shadowX, -maxX, maxX)),
          static_cast<int>(std::clamp<int64_t>(shadowY, -maxY, maxY))};
}

bool CGraphic::HasShadow(const StageSprite& sprite, const Rect& area) const {
  return (shadowX != 0 || shadowY != 0) && !area.IsEmpty() && !IsKeyedAway(sprite, shadowColor);
}

void CGraphic::Redraw() { RedrawNow(GetSprite()); }

namespace {
constexpr ColorField<CGraphic> kGraphicColors[] = {
    {Property::kShadowColor, &CGraphic::shadowColor},
    {Property::kTextShadowColor, &CGraphic::shadowColor},
    {Property::kLineColor, &CGraphic::penColor},
};
}  // namespace

PropertyAnswer CGraphic::GetProperty(Property id) const {
  if (auto color = GetColorField(*this, kGraphicColors, id)) return color;
  return CVisibleInsert::GetProperty(id);
}

bool CGraphic::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  return SetColorField(*this, kGraphicColors, id, value) || CVisibleInsert::SetProperty(ctx, id, value);
}

}  // namespace kv
