#include "media/mci.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CMCI, CInsert, 0)

void CMCI::Reset() {
  CInsert::Reset();
  ResetKindFields<MciFields>(*this);
}

void CMCI::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  CopyKindFields<MciFields>(*this, other);
}

void CMCI::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  uint16_t v = ar.Version(1, 1, "CMCI");
  if (ar.IsLoading()) mciVersion = v;
  ar.Io(mciVerb);
  ar.Io(mciTarget);
  ar.Io(mciParameters);
  ar.Io(showErrors);
  ar.Io(mciValue);
}

void CMCI::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("mciVersion", mciVersion);
  v.Field("mciVerb", mciVerb);
  v.Field("mciTarget", mciTarget);
  v.Field("mciParameters", mciParameters);
  v.Field("showErrors", showErrors);
  v.Field("mciValue", mciValue);
}

}  // namespace kv
