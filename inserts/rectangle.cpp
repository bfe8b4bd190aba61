#include "inserts/rectangle.h"

#include <QPainterPath>

#include "persist/field_walk.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CRectangle, CObjectFill, kVersionable | 0)

void CRectangle::Reset() {
  CObjectFill::Reset();
  FieldTransfer::Reset(*this);
}

void CRectangle::CopyFrom(const CInsert& other) {
  CObjectFill::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CRectangle>(other));
}

template <class W>
void CRectangle::Walk(W& w) {
  w.Base(static_cast<CObjectFill&>(*this));
  w("cornerWidth", cornerWidth);
  w("cornerHeight", cornerHeight);
}

KV_FIELD_WALK_IO(CRectangle)

// ---------------------------------------------------------------- drawing

namespace {

// The rounded outline: corners are quarters of a cornerWidth x cornerHeight
// ellipse, at most as large as the box.
QPainterPath RoundedPath(const QRectF& r, int cornerWidth, int cornerHeight) {
  QPainterPath path;
  const qreal rx = std::min<qreal>(std::abs(cornerWidth), r.width()) / 2;
  const qreal ry = std::min<qreal>(std::abs(cornerHeight), r.height()) / 2;
  path.addRoundedRect(r, rx, ry);
  return path;
}

}  // namespace

void CRectangle::DrawFigure(QPainter& p, const Rect& box) const {
  if (FigureFillsBox()) return CObjectFill::DrawFigure(p, box);
  p.drawPath(RoundedPath(OutlineRect(box), cornerWidth, cornerHeight));
}

QRegion CRectangle::FigureRegion(const Rect& box, const QRect& window) const {
  if (FigureFillsBox()) return CObjectFill::FigureRegion(box, window);
  return ClippedRegion(RoundedPath(ToQRect(box), cornerWidth, cornerHeight), window);
}

}  // namespace kv
