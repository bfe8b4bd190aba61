#include "engine/bottom.h"

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CBottom, CInsert, 0)

void CBottom::Reset() {
  CInsert::Reset();
  active = 1;
}

void CBottom::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(1, 1, "CBottom");
  if (ar.IsLoading()) {
    bottomVersion = version;
    active = 1;
  }
}

void CBottom::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("bottomVersion", bottomVersion);
}

void CBottom::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  bottomVersion = Same<CBottom>(other).bottomVersion;
}

}  // namespace kv
