#include "ext/dll_insert.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"
#include "persist/json_fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(ScDLL, CVisibleInsert, 0)

void ScDLL::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<DllFields>(*this);
}

void ScDLL::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<DllFields>(*this, other);
}

void ScDLL::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(1, 1, "ScDLL");
  if (ar.IsLoading()) dllVersion = v;
  ar.Io(dllPath);
  ar.Io(secondText);
  ar.Io(thirdText);
  ar.Io(procedureName);
  ar.Io(entryCount);
  // The entries live in arrays of 32; a larger stored count would run past them.
  if (entryCount > kMaxEntries) ar.Fail(CArchiveException::badSchema, "ScDLL entry count above 32");
  for (size_t i = 0; i < entryCount; ++i) {
    ar.Io(typeCodes[i]);
    ar.Io(texts[i]);
    ar.Io(sources[i]);
  }
  ar.Io(extensionMode);
}

void ScDLL::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("dllVersion", dllVersion);
  v.Field("dllPath", dllPath);
  v.Field("secondText", secondText);
  v.Field("thirdText", thirdText);
  v.Field("procedureName", procedureName);
  // The stored count is the number of entries printed.
  size_t n = v.BeginArray("entries", entryCount);
  if (n > kMaxEntries) throw JsonFieldError("entries: more than 32");
  if (v.IsReading()) entryCount = static_cast<uint8_t>(n);
  for (size_t i = 0; i < n; ++i) {
    v.BeginElement(i);
    v.Field("typeCode", typeCodes[i]);
    v.Field("text", texts[i]);
    v.Field("source", sources[i]);
    v.EndElement();
  }
  v.EndArray();
  v.Field("extensionMode", extensionMode);
}

}  // namespace kv
