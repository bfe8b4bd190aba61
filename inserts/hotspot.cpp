#include "inserts/hotspot.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CHotSpot, CVisibleInsert, 0)

void CHotSpot::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CHotSpot::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CHotSpot>(other));
}

template <class W>
void CHotSpot::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("hotVersion", hotVersion, 1, 1, "CHotSpot");
  w("outlineShape", outlineShape);
  w("fillMode", fillMode);
  w("hotAux", hotAux);
  w.Records("outline", nullptr, outline, CountForm::kU32, 8, [&w](OutlinePoint& p) {
    w("x", p.x);
    w("y", p.y);
  });
}

KV_FIELD_WALK_IO(CHotSpot)

}  // namespace kv
