#include "inserts/triangle.h"

#include <QPainterPath>

namespace kv {

KV_IMPLEMENT_CLASS(CTriangle, CObjectFill, kVersionable | 0)

// ---------------------------------------------------------------- drawing

namespace {

// Standing on the bottom edge with its apex at the top centre; the last
// column and row are the rectangle's own, so the outline stays inside it.
QPolygon TrianglePoints(const Rect& box) {
  const int right = box.right - 1, bottom = box.bottom - 1;
  const int centre = static_cast<int>((int64_t(box.left) + right) / 2);
  return QPolygon({QPoint(box.left, bottom), QPoint(centre, box.top), QPoint(right, bottom)});
}

}  // namespace

void CTriangle::DrawFigure(QPainter& p, const Rect& box) const {
  const QPolygon points = TrianglePoints(box);
  QPainterPath path;
  path.addPolygon(points);
  path.closeSubpath();
  p.drawPath(path);
  // QPainter leaves out a corner where a one-pixel outline turns; the
  // platform's closed figure has all three.
  if (p.pen().style() != Qt::NoPen) p.drawPoints(points);
}

QRegion CTriangle::FigureRegion(const Rect& box, const QRect& window) const {
  const QPolygon points = TrianglePoints(box);
  QPainterPath path;
  path.addPolygon(points);
  path.closeSubpath();
  // The polygon's region leaves out its bottom row, which the outline covers.
  return ClippedRegion(path, window) + (QRegion(QRect(points[0], points[2])) & window);
}

}  // namespace kv
