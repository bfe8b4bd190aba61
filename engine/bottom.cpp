#include "engine/bottom.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CBottom, CInsert, 0)

void CBottom::Reset() {
  CInsert::Reset();
  active = 1;
}

template <class W>
void CBottom::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  w.Version("bottomVersion", bottomVersion, 1, 1, "CBottom");
  if (W::kArchive && w.Filling()) active = 1;
}

KV_FIELD_WALK_IO(CBottom)

void CBottom::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CBottom>(other));
}

}  // namespace kv
