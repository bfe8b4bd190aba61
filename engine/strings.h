// String ids the engine's record code names; the texts live in the string table.
#pragma once

#include <cstdint>

namespace kv::sid {
inline constexpr uint32_t kUndefined = 5070;
inline constexpr uint32_t kObjectAtPosition = 6217;
inline constexpr uint32_t kInScript = 6218;
inline constexpr uint32_t kDefaultLabelName = 31470;
}  // namespace kv::sid
