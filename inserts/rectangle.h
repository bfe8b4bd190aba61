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
};

}  // namespace kv
