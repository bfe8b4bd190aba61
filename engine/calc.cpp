#include "engine/calc.h"

#include "engine/operand.h"
#include "engine/var.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CCalc, CInsert, 0)

void CCalc::ResetOwnFields() {
  FieldTransfer::Reset(*this);
  resultCache.reset();
}

void CCalc::Reset() {
  CInsert::Reset();
  ResetOwnFields();
}

template <class W>
void CCalc::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("calcVersion", calcVersion, 2, 1, "CCalc");
  if (version >= 2) w("groupName", groupName);
  w("calcValue", calcValue);
  w("operator", operatorCode);
  w("resultName", resultName);
  w("firstName", firstName);
  w("secondName", secondName);
  w("calcFlag", calcFlag);
  w("firstIsConstant", firstIsConstant);
  w("secondIsConstant", secondIsConstant);
  OperandSlot(w, "firstSlot", firstIsConstant, firstSlot);
  OperandSlot(w, "secondSlot", secondIsConstant, secondSlot);
  if (W::kArchive && w.Filling()) resultCache.reset();
}

KV_FIELD_WALK_IO(CCalc)

void CCalc::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CCalc>(other));
  // Variable slots are caches of the source's lookups: the copy looks again.
  resultCache.reset();
}

}  // namespace kv
