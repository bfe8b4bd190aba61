#include "inserts/poly.h"

#include <algorithm>

#include "persist/field_walk.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CPoly, CObjectFill, kVersionable | 0)

void CPoly::Reset() {
  CObjectFill::Reset();
  FieldTransfer::Reset(*this);
}

void CPoly::CopyFrom(const CInsert& other) {
  CObjectFill::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CPoly>(other));
}

template <class W>
void CPoly::Walk(W& w) {
  w.Base(static_cast<CObjectFill&>(*this));
  // A one-byte count: more than kMaxPoints points cannot be stored.
  w.Records("points", nullptr, points, CountForm::kU8, 9, [&w](PolyPoint& p) {
    w("x", p.x);
    w("y", p.y);
    w("type", p.type);
  });
}

KV_FIELD_WALK_IO(CPoly)

// ---------------------------------------------------------------- drawing

int PolyCoordinate(int low, int high, int32_t stored) {
  // 64 bits: a span of 2^32 times a stored 2^31 would wrap in 32.
  const __int128 product = static_cast<__int128>(int64_t(high) - low) * stored;
  __int128 q = product / 1024;
  const __int128 r = product % 1024;
  if (2 * (r < 0 ? -r : r) >= 1024) q += product < 0 ? -1 : 1;
  const __int128 v = low + q;
  constexpr int kLimit = 1 << 24;  // beyond the stage by far; keeps QPainter exact
  return static_cast<int>(std::clamp<__int128>(v, -kLimit, kLimit));
}

QPainterPath CPoly::FigurePath(const Rect& box) const {
  QPainterPath path;
  path.setFillRule(Qt::OddEvenFill);
  std::vector<QPointF> bezier;  // control points of the Bezier run being read
  auto flushBezier = [&] {
    // An incomplete run (fewer than three points) is drawn as lines.
    for (const QPointF& q : bezier) path.lineTo(q);
    bezier.clear();
  };
  for (const PolyPoint& pt : points) {
    const QPointF at(PolyCoordinate(box.left, box.right, pt.x), PolyCoordinate(box.top, box.bottom, pt.y));
    const uint8_t type = pt.type & ~poly_point::kCloseFigure;
    if (type == poly_point::kBezierTo && path.elementCount() > 0) {
      bezier.push_back(at);
      if (bezier.size() == 3) {
        path.cubicTo(bezier[0], bezier[1], bezier[2]);
        bezier.clear();
      }
    } else {
      flushBezier();
      if (type == poly_point::kMoveTo || path.elementCount() == 0)
        path.moveTo(at);
      else
        path.lineTo(at);
    }
    if ((pt.type & poly_point::kCloseFigure) && type != poly_point::kMoveTo && bezier.empty()) path.closeSubpath();
  }
  flushBezier();
  return path;
}

std::string CPoly::GeometryKey() const {
  std::string key;
  for (const PolyPoint& pt : points) {
    key.append(reinterpret_cast<const char*>(&pt.x), sizeof pt.x);
    key.append(reinterpret_cast<const char*>(&pt.y), sizeof pt.y);
    key += static_cast<char>(pt.type);
  }
  return key;
}

QRect CPoly::FigureBounds(const Rect& box) const {
  // Points may lie outside the rectangle; the outline's pixels reach one past the path.
  return FigurePath(box).boundingRect().toAlignedRect().adjusted(-1, -1, 1, 1);
}

void CPoly::DrawFigure(QPainter& p, const Rect& box) const { p.drawPath(FigurePath(box)); }

QRegion CPoly::FigureRegion(const Rect& box, const QRect& window) const {
  return ClippedRegion(FigurePath(box), window);
}

}  // namespace kv
