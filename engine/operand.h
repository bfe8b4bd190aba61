// The constant-or-variable operand slots that calculations and comparisons
// share: an 8-byte slot that is stored only for a constant operand.
#pragma once

#include "persist/archive.h"
#include "persist/fields.h"

namespace kv {

// A non-constant slot is not stored and loads as zero.
inline void IoOperandSlot(Archive& ar, uint8_t isConstant, double& slot) {
  if (isConstant) {
    ar.Io(slot);
  } else if (ar.IsLoading()) {
    slot = 0.0;
  }
}

inline void DescribeOperandSlot(FieldVisitor& v, const char* name, uint8_t isConstant, double& slot) {
  if (isConstant) {
    v.Field(name, slot);
  } else if (v.IsReading()) {
    slot = 0.0;
  }
}

}  // namespace kv
