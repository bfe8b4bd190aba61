// The operators of Orlan BASIC on Values, shared by the VM (its slow paths)
// and the compiler (constant folding), so both follow the same VBA rules.
#pragma once

#include "orlan/bytecode.h"
#include "orlan/value.h"

namespace kv::orlan {

inline constexpr uint8_t kStrict = 1;    // operands of declared, non-Variant types
inline constexpr uint8_t kTextCmp = 2;   // Option Compare Text
// Comparisons: the left or the right operand is of a declared, non-Variant
// type (both: kStrict as well). A declared String compares a Variant as text;
// a declared number reads a Variant string as a number.
inline constexpr uint8_t kTypedLeft = 4;
inline constexpr uint8_t kTypedRight = 8;

// A fused compare-and-jump holds the comparison in f's low three bits and
// these flags above them (text 8, strict 16, typed left 32, typed right 64).
inline uint8_t JumpFlagsOf(uint8_t flags) {
  return static_cast<uint8_t>(((flags & kTextCmp) ? 8 : 0) | ((flags & kStrict) ? 16 : 0) | ((flags & kTypedLeft) ? 32 : 0) |
                              ((flags & kTypedRight) ? 64 : 0));
}
inline uint8_t CmpJumpFlags(uint8_t f) {
  return static_cast<uint8_t>(((f & 8) ? kTextCmp : 0) | ((f & 16) ? kStrict : 0) | ((f & 32) ? kTypedLeft : 0) |
                              ((f & 64) ? kTypedRight : 0));
}

// Arithmetic, concatenation, logic and comparison operators (Add ... Is).
Value BinaryOp(Op op, const Value& a, const Value& b, uint8_t flags);
Value UnaryOp(Op op, const Value& a);
// -1, 0 or 1; Null operands are reported through `isNull`.
int CompareValues(const Value& a, const Value& b, uint8_t flags, bool& isNull);

// The static result type of an operator on operands of known types.
TypeRef ResultType(Op op, const TypeRef& a, const TypeRef& b);

}  // namespace kv::orlan
