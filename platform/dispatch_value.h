// Values and answers of a control's dispatch interface (property puts, gets
// and method calls by dispatch id): here, below both the controls and their
// hosts, so a host that knows no control of its own can hand values through.
#pragma once

#include <cmath>
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

// The value as a number or flag; nullopt for a string, nothing, or a double
// that is not finite (cast to an integer it would be undefined).
inline std::optional<double> DispatchNumber(const DispatchValue& v) {
  if (const auto* b = std::get_if<bool>(&v)) return *b ? 1.0 : 0.0;
  if (const auto* i = std::get_if<int32_t>(&v)) return double(*i);
  if (const auto* d = std::get_if<double>(&v)) return std::isfinite(*d) ? std::optional<double>(*d) : std::nullopt;
  return std::nullopt;
}

}  // namespace kv
