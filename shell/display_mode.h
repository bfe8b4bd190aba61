// Changing the display's resolution for a full-screen stage (the user's
// --allow-mode-change), through X RandR. The original mode comes back on
// every way out: the run's end, an error, a crash signal and process exit.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

struct DisplayMode {
  unsigned long id = 0;  // the window system's name for the mode
  int width = 0;
  int height = 0;
  double refresh = 0;  // Hz; 0 when unknown
};

// The mode to show a `stageWidth` x `stageHeight` stage in: the smallest of
// `offered` (by area, then width) that holds it, among equal sizes the one
// whose refresh is nearest `current`'s; the first listed on a tie. None when
// no mode is large enough.
std::optional<size_t> ChooseDisplayMode(const std::vector<DisplayMode>& offered, const DisplayMode& current,
                                        int stageWidth, int stageHeight);

// The hidden first argument that makes korvel the keeper of a changed mode:
// a process of its own that waits on a pipe from the player and, when the
// player dies without saying it put the mode back (SIGKILL), puts it back.
inline constexpr const char* kModeKeeperSwitch = "--keep-display-mode";
int KeepDisplayMode(int argc, char** argv);

// One switch of the primary output's mode; the destructor puts the original
// mode back. At most one exists at a time.
class DisplayModeSwitch {
 public:
  struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
  };
  // Switches to the mode chosen for the stage size. Null with `why` set when
  // the platform has no RandR, refuses, or offers no mode that fits; null
  // with `why` empty when the current mode already is the one chosen.
  static std::unique_ptr<DisplayModeSwitch> Enter(int stageWidth, int stageHeight, std::string& why);
  ~DisplayModeSwitch();
  DisplayModeSwitch(const DisplayModeSwitch&) = delete;
  DisplayModeSwitch& operator=(const DisplayModeSwitch&) = delete;
  // Where the output shows now, in screen coordinates.
  Rect area() const { return area_; }
  const DisplayMode& mode() const { return mode_; }
  // Puts the original mode back; later calls do nothing.
  void Restore();

  struct State;

 private:
  DisplayModeSwitch() = default;
  State* state_ = nullptr;
  Rect area_;
  DisplayMode mode_;
};

}  // namespace kv
