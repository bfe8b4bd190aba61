#include "engine/label.h"

#include "engine/strings.h"
#include "persist/field_walk.h"
#include "platform/string_table.h"

namespace kv {

KV_IMPLEMENT_CLASS(CLabel, CInsert, 0)

CLabel::CLabel() : labelName(LoadString(sid::kDefaultLabelName)) {}

void CLabel::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
}

template <class W>
void CLabel::Walk(W& w) {
  // A label is found by its label name, never by an object name.
  if constexpr (W::kArchive) name.clear();
  w.Base(static_cast<CInsert&>(*this));
  if constexpr (W::kArchive) name.clear();
  w.Version("labelVersion", labelVersion, 1, 1, "CLabel");
  w("labelName", labelName);
}

KV_FIELD_WALK_IO(CLabel)

void CLabel::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CLabel>(other));
}

}  // namespace kv
