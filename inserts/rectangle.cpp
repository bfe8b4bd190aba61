#include "inserts/rectangle.h"

#include <QPainterPath>

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CRectangle, CObjectFill, kVersionable | 0)

void CRectangle::Reset() {
  CObjectFill::Reset();
  ResetKindFields<RectangleFields>(*this);
}

void CRectangle::CopyFrom(const CInsert& other) {
  CObjectFill::CopyFrom(other);
  CopyKindFields<RectangleFields>(*this, other);
}

void CRectangle::Serialize(Archive& ar) {
  CObjectFill::Serialize(ar);
  ar.Io(cornerWidth);
  ar.Io(cornerHeight);
}

void CRectangle::DescribeFields(FieldVisitor& v) {
  CObjectFill::DescribeFields(v);
  v.Field("cornerWidth", cornerWidth);
  v.Field("cornerHeight", cornerHeight);
}

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
