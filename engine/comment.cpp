#include "engine/comment.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(Ccomment, CInsert, 0)

void Ccomment::Reset() {
  CInsert::Reset();
  runState = run_state::kDisabled;
  FieldTransfer::Reset(*this);
}

template <class W>
void Ccomment::Walk(W& w) {
  // A comment is stored without a name and never runs.
  if constexpr (W::kArchive) {
    name.clear();
    runState = run_state::kDisabled;
  }
  w.Base(static_cast<CInsert&>(*this));
  if constexpr (W::kArchive) {
    name.clear();
    runState = run_state::kDisabled;
  }
  w.Version("commentVersion", commentVersion, 1, 1, "Ccomment");
  w("commentText", commentText);
}

KV_FIELD_WALK_IO(Ccomment)

void Ccomment::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<Ccomment>(other));
  runState = run_state::kDisabled;
}

}  // namespace kv
