#include "inserts/rectangle.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CRectangle, CObjectFill, kVersionable | 0)

void CRectangle::Reset() {
  CObjectFill::Reset();
  FieldTransfer::Reset(*this);
}

void CRectangle::CopyFrom(const CInsert& other) {
  CObjectFill::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CRectangle>(other));
}

template <class W>
void CRectangle::Walk(W& w) {
  w.Base(static_cast<CObjectFill&>(*this));
  w("cornerWidth", cornerWidth);
  w("cornerHeight", cornerHeight);
}

KV_FIELD_WALK_IO(CRectangle)

}  // namespace kv
