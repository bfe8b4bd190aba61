// Values and answers of a control's dispatch interface (property puts, gets
// and method calls by dispatch id). Types only: a host that knows no control
// of its own can still hand values through.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace kv {

// A value through the dispatch interface.
using DispatchValue = std::variant<std::monostate, bool, int32_t, double, std::string>;

enum class DispatchStatus {
  kOk,
  kUnknownMember,  // the control has no such id
  kTypeMismatch,   // the value is not of a type the id takes
  kFailed,         // the operation failed; ErrorText() says why
};

// The value as a number or flag; nullopt for a string or nothing.
std::optional<double> DispatchNumber(const DispatchValue& v);

}  // namespace kv
