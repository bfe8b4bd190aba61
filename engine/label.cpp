#include "engine/label.h"

#include "engine/strings.h"
#include "persist/fields.h"
#include "platform/string_table.h"

namespace kv {

KV_IMPLEMENT_CLASS(CLabel, CInsert, 0)

CLabel::CLabel() : labelName(LoadString(sid::kDefaultLabelName)) {}

void CLabel::Reset() {
  CInsert::Reset();
  labelName = LoadString(sid::kDefaultLabelName);
}

void CLabel::Serialize(Archive& ar) {
  // A label is found by its label name, never by an object name.
  name.clear();
  CInsert::Serialize(ar);
  name.clear();
  const uint16_t version = ar.Version(1, 1, "CLabel");
  if (ar.IsLoading()) labelVersion = version;
  ar.Io(labelName);
}

void CLabel::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("labelVersion", labelVersion);
  v.Field("labelName", labelName);
}

void CLabel::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CLabel& o = Same<CLabel>(other);
  labelVersion = o.labelVersion;
  labelName = o.labelName;
}

}  // namespace kv
