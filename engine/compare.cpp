#include "engine/compare.h"

#include "engine/events.h"
#include "engine/operand.h"

namespace kv {

KV_IMPLEMENT_CLASS(CCompare, CInsert, 0)

void CCompare::Reset() {
  CInsert::Reset();
  compareValue = 0;
  firstName.clear();
  secondName.clear();
  firstIsConstant = secondIsConstant = 0;
  groupName.clear();
  firstSlot = secondSlot = 0.0;
}

void CCompare::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(2, 1, "CCompare");
  if (ar.IsLoading()) compareVersion = version;
  if (version >= 2) ar.Io(groupName);
  ar.Io(compareValue);
  ar.Io(firstName);
  ar.Io(secondName);
  ar.Io(firstIsConstant);
  ar.Io(secondIsConstant);
  IoOperandSlot(ar, firstIsConstant, firstSlot);
  IoOperandSlot(ar, secondIsConstant, secondSlot);
  if (ar.IsLoading()) showMode = show_mode::kUnset;
}

void CCompare::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("compareVersion", compareVersion);
  v.Field("groupName", groupName);
  v.Field("compareValue", compareValue);
  v.Field("firstName", firstName);
  v.Field("secondName", secondName);
  v.Field("firstIsConstant", firstIsConstant);
  v.Field("secondIsConstant", secondIsConstant);
  DescribeOperandSlot(v, "firstSlot", firstIsConstant, firstSlot);
  DescribeOperandSlot(v, "secondSlot", secondIsConstant, secondSlot);
}

void CCompare::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CCompare& o = Same<CCompare>(other);
  compareVersion = o.compareVersion;
  compareValue = o.compareValue;
  firstName = o.firstName;
  secondName = o.secondName;
  firstIsConstant = o.firstIsConstant;
  secondIsConstant = o.secondIsConstant;
  groupName = o.groupName;
  firstSlot = firstIsConstant ? o.firstSlot : 0.0;
  secondSlot = secondIsConstant ? o.secondSlot : 0.0;
}

void CCompare::ListEvents(std::vector<uint32_t>& events) const {
  for (uint32_t code = event::kEqual; code <= event::kLessOrEqual; ++code) events.push_back(code);
}

}  // namespace kv
