// The constant-or-variable operand slots that calculations and comparisons
// share: an 8-byte slot that is stored only for a constant operand.
#pragma once

#include <cstdint>

namespace kv {

// A non-constant slot is not stored and holds zero.
template <class W>
void OperandSlot(W& w, const char* name, uint8_t isConstant, double& slot) {
  w.When(isConstant != 0, name, slot, 0.0);
}

}  // namespace kv
