#include "inserts/data_entry.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CDataEntry, CVisibleInsert, 0)
KV_IMPLEMENT_CLASS(CCollectData, CObject, 0)

void CDataEntry::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<DataEntryFields>(*this);
}

void CDataEntry::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<DataEntryFields>(*this, other);
}

void CDataEntry::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(1, 1, "CDataEntry");
  if (ar.IsLoading()) entryVersion = v;
  entryFont.Serialize(ar);
  ar.Io(maskType);
  ar.Io(mask);
  ar.Io(firstSelectOnFocus);
  ar.Io(readOnly);
  ar.Io(autoTab);
  ar.Io(selectOnFocus);
  ar.Io(insertMode);
  ar.Io(allowInsertToggle);
  ar.Io(autoHeight);
  ar.Io(border);
  ar.Io(customFont);
  ar.Io(useColors);
  ar.Io(entryTextColor);
  ar.Io(entryBackColor);
  ar.Io(entryAuxFlag);
  ar.Io(passwordChar);
  ar.Io(promptChar);
  ar.Io(variableGroup);
  ar.Io(variableName);
  ar.Io(minimum);
  ar.Io(maximum);
  ar.Io(auxValue1);
  ar.Io(auxValue2);
}

void CDataEntry::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("entryVersion", entryVersion);
  entryFont.DescribeAs(v, "entryFont");
  v.Field("maskType", maskType);
  v.Field("mask", mask);
  v.Field("firstSelectOnFocus", firstSelectOnFocus);
  v.Field("readOnly", readOnly);
  v.Field("autoTab", autoTab);
  v.Field("selectOnFocus", selectOnFocus);
  v.Field("insertMode", insertMode);
  v.Field("allowInsertToggle", allowInsertToggle);
  v.Field("autoHeight", autoHeight);
  v.Field("border", border);
  v.Field("customFont", customFont);
  v.Field("useColors", useColors);
  v.Field("entryTextColor", entryTextColor);
  v.Field("entryBackColor", entryBackColor);
  v.Field("entryAuxFlag", entryAuxFlag);
  v.Field("passwordChar", passwordChar);
  v.Field("promptChar", promptChar);
  v.Field("variableGroup", variableGroup);
  v.Field("variableName", variableName);
  v.Field("minimum", minimum);
  v.Field("maximum", maximum);
  v.Field("auxValue1", auxValue1);
  v.Field("auxValue2", auxValue2);
}

}  // namespace kv
