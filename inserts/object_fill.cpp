#include "inserts/object_fill.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CObjectFill, CGraphic, kVersionable | 0)

void CObjectFill::Reset() {
  CGraphic::Reset();
  const uint32_t keep = fillBackColor;
  FieldTransfer::Reset(*this);
  fillBackColor = keep;
}

void CObjectFill::CopyFrom(const CInsert& other) {
  CGraphic::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CObjectFill>(other));
}

template <class W>
void CObjectFill::Walk(W& w) {
  w.Base(static_cast<CGraphic&>(*this));
  w("fillStyle", fillStyle);
  w("patternIndex", patternIndex);
  w("fillAux", fillAux);
  w("textureFile", textureFile);
  w("fillColor", fillColor);
  w("fillBackColor", fillBackColor);
}

KV_FIELD_WALK_IO(CObjectFill)

}  // namespace kv
