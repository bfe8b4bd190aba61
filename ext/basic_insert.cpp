#include "ext/basic_insert.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CBasic, CVisibleInsert, 0)

void CBasic::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kShowAndPlay;
}

void CBasic::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CBasic>(other));
}

template <class W>
void CBasic::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("basicVersion", basicVersion, 1, 1, "CBasic");
  w("reservedLong", reservedLong);
  w("extensionMode", extensionMode);
  w("alternatePath", alternatePath);
  w("scriptPath", scriptPath);
  w("reservedWord", reservedWord);
}

KV_FIELD_WALK_IO(CBasic)

}  // namespace kv
