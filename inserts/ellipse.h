// CEllipse: a filled ellipse inscribed in its rectangle. It stores nothing beyond the fill part.
#pragma once

#include "inserts/object_fill.h"

namespace kv {

class CEllipse : public CObjectFill {
  KV_DECLARE_CLASS(CEllipse)

 protected:
  void DrawFigure(QPainter& p, const Rect& box) const override;
  QRegion FigureRegion(const Rect& box, const QRect& window) const override;
};

}  // namespace kv
