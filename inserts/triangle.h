// CTriangle: a filled triangle standing on the bottom edge of its rectangle. It stores nothing beyond the fill part.
#pragma once

#include "inserts/object_fill.h"

namespace kv {

class CTriangle : public CObjectFill {
  KV_DECLARE_CLASS(CTriangle)

 protected:
  void DrawFigure(QPainter& p, const Rect& box) const override;
  QRegion FigureRegion(const Rect& box, const QRect& window) const override;
};

}  // namespace kv
