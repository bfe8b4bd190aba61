#include "inserts/data_entry.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CDataEntry, CVisibleInsert, 0)
KV_IMPLEMENT_CLASS(CCollectData, CObject, 0)

void CDataEntry::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CDataEntry::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CDataEntry>(other));
}

template <class W>
void CDataEntry::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("entryVersion", entryVersion, 1, 1, "CDataEntry");
  w.Embedded("entryFont", entryFont);
  w("maskType", maskType);
  w("mask", mask);
  w("firstSelectOnFocus", firstSelectOnFocus);
  w("readOnly", readOnly);
  w("autoTab", autoTab);
  w("selectOnFocus", selectOnFocus);
  w("insertMode", insertMode);
  w("allowInsertToggle", allowInsertToggle);
  w("autoHeight", autoHeight);
  w("border", border);
  w("customFont", customFont);
  w("useColors", useColors);
  w("entryTextColor", entryTextColor);
  w("entryBackColor", entryBackColor);
  w("entryAuxFlag", entryAuxFlag);
  w("passwordChar", passwordChar);
  w("promptChar", promptChar);
  w("variableGroup", variableGroup);
  w("variableName", variableName);
  w("minimum", minimum);
  w("maximum", maximum);
  w("auxValue1", auxValue1);
  w("auxValue2", auxValue2);
}

KV_FIELD_WALK_IO(CDataEntry)
KV_FIELD_WALK_IO(CCollectData)

}  // namespace kv
