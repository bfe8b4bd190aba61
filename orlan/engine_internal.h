// Helpers the engine's own files share (library building, linking and host
// calls); not part of the engine's interface.
#pragma once

#include <string>
#include <string_view>

#include "orlan/engine.h"

namespace kv::orlan {

// Appends without operator+, which draws a false -Wrestrict from GCC 12.
inline std::string Join(std::string_view a, std::string_view b) {
  std::string s;
  s.reserve(a.size() + b.size());
  s.append(a);
  s.append(b);
  return s;
}

inline VarType VarTypeOfHost(const HostType& t) {
  switch (t.vt) {
    case HostType::kInteger: return VarType::Integer;
    case HostType::kLong: return VarType::Long;
    case HostType::kDouble: return VarType::Double;
    case HostType::kString: return VarType::String;
    case HostType::kObject: return VarType::Object;
    case HostType::kBoolean: return VarType::Boolean;
    case HostType::kRecord: return VarType::Record;
    default: return VarType::Variant;
  }
}

// The tag of a value already of a scalar host type, or Empty when the type
// is not one (a result of it is always converted).
inline Tag ScalarTagOfHost(const HostType& t) {
  switch (t.vt) {
    case HostType::kInteger: return Tag::Integer;
    case HostType::kLong: return Tag::Long;
    case HostType::kDouble: return Tag::Double;
    case HostType::kString: return Tag::String;
    case HostType::kBoolean: return Tag::Boolean;
    default: return Tag::Empty;
  }
}

}  // namespace kv::orlan
