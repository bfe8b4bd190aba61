#include "engine/compare.h"

#include "engine/events.h"
#include "engine/operand.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CCompare, CInsert, 0)

void CCompare::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
}

template <class W>
void CCompare::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("compareVersion", compareVersion, 2, 1, "CCompare");
  if (version >= 2) w("groupName", groupName);
  w("compareValue", compareValue);
  w("firstName", firstName);
  w("secondName", secondName);
  w("firstIsConstant", firstIsConstant);
  w("secondIsConstant", secondIsConstant);
  OperandSlot(w, "firstSlot", firstIsConstant, firstSlot);
  OperandSlot(w, "secondSlot", secondIsConstant, secondSlot);
  if (W::kArchive && w.Filling()) showMode = show_mode::kUnset;
}

KV_FIELD_WALK_IO(CCompare)

void CCompare::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CCompare>(other));
}

void CCompare::ListEvents(std::vector<uint32_t>& events) const {
  for (uint32_t code = event::kEqual; code <= event::kLessOrEqual; ++code) events.push_back(code);
}

}  // namespace kv
