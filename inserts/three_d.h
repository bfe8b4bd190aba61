// C3d: a 3D model file rendered into the object's stage sprite, optionally
// spinning.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "inserts/visible_insert.h"

namespace kv {

struct ThreeDFields {
  uint16_t modelVersion = 0;  // version read; always 1
  std::string modelFile;
  uint32_t spinInterval = 100;  // ms
  int32_t spinX = 0;  // degrees added at every tick
  int32_t spinY = 0;
  int32_t spinZ = 0;
  uint32_t clearColor = 0x00FFFFFF;
  uint8_t wireframe = 0;
  uint8_t depthByLayer = 0;
  uint32_t orthographic = 0;
  std::array<uint8_t, 10> modelAux{};
};

class C3d : public CVisibleInsert, public ThreeDFields {
  KV_DECLARE_CLASS(C3d)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
