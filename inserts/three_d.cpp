#include "inserts/three_d.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(C3d, CVisibleInsert, kVersionable | 1)

void C3d::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kPlayWhenReady;
}

void C3d::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<C3d>(other));
}

template <class W>
void C3d::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("modelVersion", modelVersion, 1, 1, "C3d");
  w("modelFile", modelFile);
  w("spinInterval", spinInterval);
  w("spinX", spinX);
  w("spinY", spinY);
  w("spinZ", spinZ);
  w("clearColor", clearColor);
  w("wireframe", wireframe);
  w("depthByLayer", depthByLayer);
  w("orthographic", orthographic);
  w.Bytes("modelAux", modelAux);
}

KV_FIELD_WALK_IO(C3d)

}  // namespace kv
