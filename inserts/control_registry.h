// The controls this player provides in place of ActiveX controls, by class
// identifier. Nothing is ever registered with, or looked up on, the system:
// a class id that is not listed here has no control.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// A class identifier in its binary layout: Data1 (u32), Data2 and Data3
// (u16) little-endian, then the eight bytes of Data4 as they are.
using ClassId = std::array<uint8_t, 16>;

struct ControlClass {
  std::string_view classId;     // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case
  std::string_view name;        // how messages name the control
  std::string_view widgetType;  // the native widget type that shows it
};

// The web browser control's class identifier.
inline constexpr std::string_view kWebBrowserClassId = "{8856F961-340A-11D0-A96B-00C04FD705A2}";

// The registered control of a class id; null when the player has none.
const ControlClass* FindControlClass(const ClassId& id);

// The registry form "{8856F961-340A-11D0-A96B-00C04FD705A2}".
std::string FormatClassId(const ClassId& id);
// The binary layout of a registry form (braces optional, any case); nothing
// when the text is not one.
std::optional<ClassId> ParseClassId(std::string_view text);

bool IsNullClassId(const ClassId& id);

}  // namespace kv
