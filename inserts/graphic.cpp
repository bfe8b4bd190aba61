#include "inserts/graphic.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CGraphic, CVisibleInsert, kVersionable | 0)

void CGraphic::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = 2;
}

void CGraphic::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CGraphic>(other));
}

template <class W>
void CGraphic::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  WalkGraphicPart(w);
}

KV_FIELD_WALK_IO(CGraphic)

}  // namespace kv
