#include "inserts/three_d.h"

#include "inserts/fixed_bytes.h"
#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(C3d, CVisibleInsert, kVersionable | 1)

void C3d::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<ThreeDFields>(*this);
  showMode = show_mode::kPlayWhenReady;
}

void C3d::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<ThreeDFields>(*this, other);
}

void C3d::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(1, 1, "C3d");
  if (ar.IsLoading()) modelVersion = v;
  ar.Io(modelFile);
  ar.Io(spinInterval);
  ar.Io(spinX);
  ar.Io(spinY);
  ar.Io(spinZ);
  ar.Io(clearColor);
  ar.Io(wireframe);
  ar.Io(depthByLayer);
  ar.Io(orthographic);
  for (uint8_t& b : modelAux) ar.Io(b);
}

void C3d::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("modelVersion", modelVersion);
  v.Field("modelFile", modelFile);
  v.Field("spinInterval", spinInterval);
  v.Field("spinX", spinX);
  v.Field("spinY", spinY);
  v.Field("spinZ", spinZ);
  v.Field("clearColor", clearColor);
  v.Field("wireframe", wireframe);
  v.Field("depthByLayer", depthByLayer);
  v.Field("orthographic", orthographic);
  DescribeFixedBytes(v, "modelAux", modelAux);
}

}  // namespace kv
