// CRectangle: a filled rectangle, optionally with rounded corners.
#pragma once

#include <cstdint>

#include "inserts/object_fill.h"

namespace kv {

struct RectangleFields {
  int32_t cornerWidth = 0;  // both 0: square corners
  int32_t cornerHeight = 0;
};

class CRectangle : public CObjectFill, public RectangleFields {
  KV_DECLARE_CLASS(CRectangle)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

 protected:
  void DrawFigure(QPainter& p, const Rect& box) const override;
  QRegion FigureRegion(const Rect& box, const QRect& window) const override;
  bool FigureFillsBox() const override { return cornerWidth == 0 && cornerHeight == 0; }
  std::string GeometryKey() const override { return std::to_string(cornerWidth) + "," + std::to_string(cornerHeight); }
};

}  // namespace kv
