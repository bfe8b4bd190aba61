// The operators of Orlan BASIC on Values, shared by the VM (its slow paths)
// and the compiler (constant folding), so both follow the same VBA rules.
#pragma once

#include "orlan/bytecode.h"
#include "orlan/value.h"

namespace kv::orlan {

inline constexpr uint8_t kStrict = 1;    // operands of declared, non-Variant types
inline constexpr uint8_t kTextCmp = 2;   // Option Compare Text

// Arithmetic, concatenation, logic and comparison operators (Add ... Is).
Value BinaryOp(Op op, const Value& a, const Value& b, uint8_t flags);
Value UnaryOp(Op op, const Value& a);
// -1, 0 or 1; Null operands are reported through `isNull`.
int CompareValues(const Value& a, const Value& b, uint8_t flags, bool& isNull);

// The static result type of an operator on operands of known types.
TypeRef ResultType(Op op, const TypeRef& a, const TypeRef& b);

}  // namespace kv::orlan
