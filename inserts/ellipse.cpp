#include "inserts/ellipse.h"

namespace kv {

KV_IMPLEMENT_CLASS(CEllipse, CObjectFill, kVersionable | 0)

// ---------------------------------------------------------------- drawing

// The ellipse inscribed in [left, right) x [top, bottom).
void CEllipse::DrawFigure(QPainter& p, const Rect& box) const { p.drawEllipse(OutlineRect(box)); }

QRegion CEllipse::FigureRegion(const Rect& box) const { return QRegion(ToQRect(box), QRegion::Ellipse); }

}  // namespace kv
