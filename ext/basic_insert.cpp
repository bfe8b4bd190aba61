#include "ext/basic_insert.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

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

void CBasic::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(1, 1, "CBasic");
  if (ar.IsLoading()) basicVersion = v;
  ar.Io(reservedLong);
  ar.Io(extensionMode);
  ar.Io(alternatePath);
  ar.Io(scriptPath);
  ar.Io(reservedWord);
}

void CBasic::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("basicVersion", basicVersion);
  v.Field("reservedLong", reservedLong);
  v.Field("extensionMode", extensionMode);
  v.Field("alternatePath", alternatePath);
  v.Field("scriptPath", scriptPath);
  v.Field("reservedWord", reservedWord);
}

}  // namespace kv
