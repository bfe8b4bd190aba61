// The controls this player provides in place of ActiveX controls, by class
// identifier. Nothing is ever registered with, or looked up on, the system:
// a class id that is not listed here has no control.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/dispatch_value.h"

namespace kv {

// A class identifier in its binary layout: Data1 (u32), Data2 and Data3
// (u16) little-endian, then the eight bytes of Data4 as they are.
using ClassId = std::array<uint8_t, 16>;

class CVisibleInsert;
class Stage;

// How a control is shown: by a native widget of the stage's factory, or
// drawn into its object's sprite and composed like any picture.
enum class ControlShow : uint8_t { kWidget, kComposited };

struct ControlClass {
  std::string_view classId;  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case
  std::string_view name;     // how messages name the control
  std::string_view type;     // the widget type, or the composited control type, that shows it
  ControlShow show = ControlShow::kWidget;
};

// The web browser control's class identifier.
inline constexpr std::string_view kWebBrowserClassId = "{8856F961-340A-11D0-A96B-00C04FD705A2}";
// The media player control's class identifier.
inline constexpr std::string_view kMediaPlayerClassId = "{22D6F312-B0F6-11D0-94AB-0080C74C7E95}";

// A control drawn into its object's sprite, driven by dispatch ids.
class CompositedControl {
 public:
  virtual ~CompositedControl() = default;
  // The dispatch id of a property or method name (any case); nothing when
  // the control has no member of that name.
  virtual std::optional<int32_t> MemberId(std::string_view name) const = 0;
  virtual DispatchStatus Put(int32_t id, const DispatchValue& value) = 0;
  virtual DispatchStatus Get(int32_t id, DispatchValue& out) = 0;
  virtual DispatchStatus Call(int32_t id, std::span<const DispatchValue> args) = 0;
  // Why the last operation failed.
  virtual std::string ErrorText() const = 0;
};

// Where a composited control is made: the object whose sprite it draws
// into, on `stage`, over a picture area of width × height; `redraw` puts the
// sprite's new picture on the stage (any thread, under the stage lock).
struct CompositedControlPlace {
  CVisibleInsert& object;
  Stage& stage;
  int width = 1, height = 1;
  std::function<void()> redraw;
};
using CompositedControlMaker = std::function<std::unique_ptr<CompositedControl>(const CompositedControlPlace&)>;

// The library that provides a composited control type registers its maker
// once at start-up; a type without one cannot be shown.
void SetCompositedControlMaker(std::string_view type, CompositedControlMaker maker);
const CompositedControlMaker* FindCompositedControlMaker(std::string_view type);

// The registered control of a class id; null when the player has none.
const ControlClass* FindControlClass(const ClassId& id);

// The registry form "{8856F961-340A-11D0-A96B-00C04FD705A2}".
std::string FormatClassId(const ClassId& id);
// The binary layout of a registry form (braces optional, any case); nothing
// when the text is not one.
std::optional<ClassId> ParseClassId(std::string_view text);

bool IsNullClassId(const ClassId& id);

}  // namespace kv
