#include "engine/comment.h"

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(Ccomment, CInsert, 0)

void Ccomment::Reset() {
  CInsert::Reset();
  runState = run_state::kDisabled;
  commentText.clear();
}

void Ccomment::Serialize(Archive& ar) {
  name.clear();
  runState = run_state::kDisabled;
  CInsert::Serialize(ar);
  name.clear();
  runState = run_state::kDisabled;
  const uint16_t version = ar.Version(1, 1, "Ccomment");
  if (ar.IsLoading()) commentVersion = version;
  ar.Io(commentText);
}

void Ccomment::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("commentVersion", commentVersion);
  v.Field("commentText", commentText);
}

void Ccomment::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const Ccomment& o = Same<Ccomment>(other);
  commentVersion = o.commentVersion;
  commentText = o.commentText;
  runState = run_state::kDisabled;
}

}  // namespace kv
