#include "engine/calc.h"

#include "engine/operand.h"
#include "engine/var.h"

namespace kv {

KV_IMPLEMENT_CLASS(CCalc, CInsert, 0)

void CCalc::ResetOwnFields() {
  calcValue = 0;
  operatorCode = 0;
  resultName.clear();
  firstName.clear();
  secondName.clear();
  calcFlag = 0;
  firstIsConstant = 1;
  secondIsConstant = 0;
  groupName.clear();
  resultCache.reset();
  firstSlot = secondSlot = 0.0;
}

void CCalc::Reset() {
  CInsert::Reset();
  ResetOwnFields();
}

void CCalc::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(2, 1, "CCalc");
  if (ar.IsLoading()) calcVersion = version;
  if (version >= 2) ar.Io(groupName);
  ar.Io(calcValue);
  ar.Io(operatorCode);
  ar.Io(resultName);
  ar.Io(firstName);
  ar.Io(secondName);
  ar.Io(calcFlag);
  ar.Io(firstIsConstant);
  ar.Io(secondIsConstant);
  IoOperandSlot(ar, firstIsConstant, firstSlot);
  IoOperandSlot(ar, secondIsConstant, secondSlot);
  if (ar.IsLoading()) resultCache.reset();
}

void CCalc::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("calcVersion", calcVersion);
  v.Field("groupName", groupName);
  v.Field("calcValue", calcValue);
  v.Field("operator", operatorCode);
  v.Field("resultName", resultName);
  v.Field("firstName", firstName);
  v.Field("secondName", secondName);
  v.Field("calcFlag", calcFlag);
  v.Field("firstIsConstant", firstIsConstant);
  v.Field("secondIsConstant", secondIsConstant);
  DescribeOperandSlot(v, "firstSlot", firstIsConstant, firstSlot);
  DescribeOperandSlot(v, "secondSlot", secondIsConstant, secondSlot);
}

void CCalc::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CCalc& o = Same<CCalc>(other);
  calcVersion = o.calcVersion;
  calcValue = o.calcValue;
  operatorCode = o.operatorCode;
  resultName = o.resultName;
  firstName = o.firstName;
  secondName = o.secondName;
  calcFlag = o.calcFlag;
  firstIsConstant = o.firstIsConstant;
  secondIsConstant = o.secondIsConstant;
  groupName = o.groupName;
  // Variable slots are caches of the source's lookups: the copy looks again.
  resultCache.reset();
  firstSlot = firstIsConstant ? o.firstSlot : 0.0;
  secondSlot = secondIsConstant ? o.secondSlot : 0.0;
}

}  // namespace kv
