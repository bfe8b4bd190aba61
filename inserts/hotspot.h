// CHotSpot: an invisible clickable area of any polygonal outline.
#pragma once

#include <cstdint>
#include <vector>

#include "inserts/visible_insert.h"

namespace kv {

struct OutlinePoint {
  int32_t x = 0;  // stage coordinates
  int32_t y = 0;
};

struct HotSpotFields {
  uint16_t hotVersion = 0;    // version read; always 1
  uint32_t outlineShape = 0;  // default outline: 1 rectangle, 2 star; 0 counts as 1
  uint32_t fillMode = 1;      // 1 alternate, 2 winding
  uint32_t hotAux = 2;
  std::vector<OutlinePoint> outline;
};

class CHotSpot : public CVisibleInsert, public HotSpotFields {
  KV_DECLARE_CLASS(CHotSpot)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
