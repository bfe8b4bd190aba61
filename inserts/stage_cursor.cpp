#include "inserts/stage_cursor.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CStageCursor, CVisibleInsert, kVersionable | 0)

void CStageCursor::Reset() {
  CVisibleInsert::Reset();
  cursorVersion = 0;
}

void CStageCursor::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  cursorVersion = Same<CStageCursor>(other).cursorVersion;
}

// Its version word comes before the base parts.
template <class W>
void CStageCursor::Walk(W& w) {
  const uint16_t v = w.Version("cursorVersion", cursorVersion, 1, 1, "CStageCursor");
  w.Base(static_cast<CVisibleInsert&>(*this));  // loading resets every field first
  if (W::kArchive && w.Filling()) cursorVersion = v;
}

KV_FIELD_WALK_IO(CStageCursor)

}  // namespace kv
