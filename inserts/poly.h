// CPoly: a filled figure of up to 255 points in units of 1/1024 of the
// object's rectangle, each with the platform's poly-draw point type.
#pragma once

#include <QPainterPath>
#include <cstdint>
#include <vector>

#include "inserts/object_fill.h"

namespace kv {

struct PolyPoint {
  int32_t x = 0;  // 1024: the right edge
  int32_t y = 0;  // 1024: the bottom edge
  uint8_t type = 0;  // 6 move to, 2 line to, 4 Bezier to; | 1 closes the figure
};

class CPoly : public CObjectFill {
  KV_DECLARE_CLASS(CPoly)
 public:
  static constexpr size_t kMaxPoints = 255;  // the stored count is one byte
  std::vector<PolyPoint> points;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // The figure's path for an object at `box` (stage coordinates).
  QPainterPath FigurePath(const Rect& box) const;

 protected:
  void DrawFigure(QPainter& p, const Rect& box) const override;
  QRegion FigureRegion(const Rect& box, const QRect& window) const override;
  std::string GeometryKey() const override;
  QRect FigureBounds(const Rect& box) const override;
};

namespace poly_point {
inline constexpr uint8_t kCloseFigure = 1;
inline constexpr uint8_t kLineTo = 2;
inline constexpr uint8_t kBezierTo = 4;
inline constexpr uint8_t kMoveTo = 6;
}  // namespace poly_point

// A stored coordinate (1/1024 of the span from `low` to `high`) on the stage,
// rounded half away from zero.
int PolyCoordinate(int low, int high, int32_t stored);

}  // namespace kv
