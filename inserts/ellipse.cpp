#include "inserts/ellipse.h"

namespace kv {

KV_IMPLEMENT_CLASS(CEllipse, CObjectFill, kVersionable | 0)

// ---------------------------------------------------------------- drawing

// The ellipse inscribed in [left, right) x [top, bottom).
void CEllipse::DrawFigure(QPainter& p, const Rect& box) const { p.drawEllipse(OutlineRect(box)); }

QRegion CEllipse::FigureRegion(const Rect& box, const QRect& window) const {
  if (window.contains(ToQRect(box))) return QRegion(ToQRect(box), QRegion::Ellipse);
  QPainterPath path;
  path.addEllipse(ToQRect(box));
  return ClippedRegion(path, window);
}

}  // namespace kv
