// CObjectFill: the fill part (solid colour, built-in pattern or texture
// picture) shared by the four shapes.
#pragma once

#include <cstdint>
#include <string>

#include "inserts/graphic.h"

namespace kv {

struct ObjectFillFields {
  uint8_t fillStyle = 0;  // 0 solid, 1 built-in pattern, 2 texture picture
  uint8_t patternIndex = 0;
  uint32_t fillAux = 0;
  std::string textureFile;
  uint32_t fillColor = syscolor::kBtnFace;
};

class CObjectFill : public CGraphic, public ObjectFillFields {
  KV_DECLARE_CLASS(CObjectFill)
 public:
  // Background of patterns; Reset leaves it alone, a new object starts white.
  uint32_t fillBackColor = 0x00FFFFFF;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
