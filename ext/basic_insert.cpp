#include "ext/basic_insert.h"

#include "inserts/kind_fields.h"
#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CBasic, CVisibleInsert, 0)

void CBasic::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<BasicFields>(*this);
  showMode = show_mode::kShowAndPlay;
}

void CBasic::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<BasicFields>(*this, other);
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
