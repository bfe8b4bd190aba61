// Scripted input for headless runs: one event a line at a time on the run's
// clock ("MS click X Y", "MS key Ctrl+A", "MS char TEXT", ...).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

struct InputEvent {
  // kKey is a press and a release; kKeyDown and kKeyUp one half each.
  enum class Kind { kMove, kDown, kUp, kClick, kRightClick, kDoubleClick, kKey, kKeyDown, kKeyUp, kChar,
                    // the stage window minimised and restored; the machine suspended and resumed
                    kMinimize, kRestore, kSuspend, kResume,
                    // text or a file path dropped on the stage at (x, y)
                    kDrop };
  int64_t timeMs = 0;
  Kind kind = Kind::kMove;
  int32_t x = 0, y = 0;
  uint32_t key = 0;        // virtual key
  uint32_t modifiers = 0;  // 1 Shift, 2 Ctrl, 4 Alt
  std::string text;        // kChar, kDrop
  // From a window whose focused widget already declined the key: it goes
  // straight on to hotkeys and the stage.
  bool declinedByFocus = false;
};

// Parses the whole file's text; a bad line fills `error` ("line N: ...").
bool ParseInputScript(const std::string& text, std::vector<InputEvent>& out, std::string& error);

// The virtual key of a key name ("Escape", "Return", "A", "F1", "Left", ...); 0 when unknown.
uint32_t VirtualKeyOf(const std::string& name);

}  // namespace kv
