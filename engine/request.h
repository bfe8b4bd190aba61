// The unit that travels between engine threads: a script-flow command with
// its argument, parameters and the insert on whose behalf it is made; and
// the messages a thread's port carries.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class CInsert;

// One argument of the script subroutine a request calls (command 33): a
// text, or a Long when `isText` is false.
struct SubArgument {
  bool isText = false;
  std::string text;
  int32_t number = 0;
  bool operator==(const SubArgument&) const = default;
};

struct Request {
  uint16_t code = 0;
  std::string argument;
  std::array<int32_t, 5> params{};
  std::weak_ptr<CInsert> source;
  // Raising context: [0] the event kind, [1] the event code.
  std::array<int32_t, 5> extra{};
  // Bit 1: hand `playRequested` to the named insert first.
  uint32_t flags = 0;
  double number = 0.0;  // media times of commands 77 and 78
  // The stage point of the mouse event that raised it; -1 when none. It
  // travels with the request so a later click cannot overwrite it.
  int32_t x = -1, y = -1;
  // The subroutine's arguments (command 33), released with the request.
  std::vector<SubArgument> subArgs;
};

enum class MsgKind : uint8_t {
  kNone,
  kKeyDown,
  kKeyUp,
  kSysKeyDown,
  kChar,
  kButtonDown,
  kButtonUp,
  kMouseMove,
  kDoubleClick,
  kRequest,  // "STAGEACTION"
};

namespace mouse_button {
inline constexpr int kLeft = 1;
inline constexpr int kMiddle = 2;
inline constexpr int kRight = 3;
}  // namespace mouse_button

struct Message {
  MsgKind kind = MsgKind::kNone;
  uint32_t key = 0;        // virtual key, or the character of kChar
  uint32_t modifiers = 0;  // hotkey modifier bits
  int button = 0;
  int32_t x = 0, y = 0;
  std::unique_ptr<Request> request;
  // Sent by the engine itself (the stop key that ends a wait), not typed.
  bool posted = false;

  explicit operator bool() const { return kind != MsgKind::kNone; }
  bool IsKeyDown() const { return kind == MsgKind::kKeyDown || kind == MsgKind::kSysKeyDown; }
};

}  // namespace kv
