#include "inserts/poly.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CPoly, CObjectFill, kVersionable | 0)

void CPoly::Reset() {
  CObjectFill::Reset();
  FieldTransfer::Reset(*this);
}

void CPoly::CopyFrom(const CInsert& other) {
  CObjectFill::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CPoly>(other));
}

template <class W>
void CPoly::Walk(W& w) {
  w.Base(static_cast<CObjectFill&>(*this));
  // A one-byte count: more than kMaxPoints points cannot be stored.
  w.Records("points", nullptr, points, CountForm::kU8, 9, [&w](PolyPoint& p) {
    w("x", p.x);
    w("y", p.y);
    w("type", p.type);
  });
}

KV_FIELD_WALK_IO(CPoly)

}  // namespace kv
