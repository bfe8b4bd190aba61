#include "ext/dll_insert.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(ScDLL, CVisibleInsert, 0)

void ScDLL::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void ScDLL::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<ScDLL>(other));
}

template <class W>
void ScDLL::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("dllVersion", dllVersion, 1, 1, "ScDLL");
  w("dllPath", dllPath);
  w("secondText", secondText);
  w("thirdText", thirdText);
  w("procedureName", procedureName);
  // The entries live in arrays of 32; a larger count would run past them.
  w.Counted("entries", entryCount, kMaxEntries, [&](size_t i) {
    w("typeCode", typeCodes[i]);
    w("text", texts[i]);
    w("source", sources[i]);
  });
  w("extensionMode", extensionMode);
}

KV_FIELD_WALK_IO(ScDLL)

}  // namespace kv
