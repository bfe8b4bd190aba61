#include "inserts/stage_cursor.h"

#include "persist/fields.h"

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
void CStageCursor::Serialize(Archive& ar) {
  uint16_t v = ar.Version(1, 1, "CStageCursor");
  CVisibleInsert::Serialize(ar);  // loading resets every field first
  if (ar.IsLoading()) cursorVersion = v;
}

void CStageCursor::DescribeFields(FieldVisitor& v) {
  v.Field("cursorVersion", cursorVersion);
  CVisibleInsert::DescribeFields(v);
}

}  // namespace kv
