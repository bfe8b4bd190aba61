// How the player is asked to act as a screen saver: the standard switches of
// a program installed under a name ending in ".scr" ("/s", "/c", "/p ID",
// "/a"), and on Linux "--saver configure|preview ID|run" with the options a
// display's screen-saver daemon passes to its hacks ("-root",
// "-window-id ID", the XSCREENSAVER_WINDOW variable).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::saver {

enum class SaverMode { kNone, kConfigure, kChangePassword, kPreview, kRun };

struct SaverInvocation {
  SaverMode mode = SaverMode::kNone;
  // The window to draw into (run, preview) or to parent the dialog to.
  std::optional<uint64_t> window;
  bool root = false;  // "-root": the whole screen
  // Arguments that are not the saver's, for the player's own parser.
  std::vector<std::string> rest;
};

// Whether the program was started under a name ending in ".scr" (any case).
bool IsSaverProgramName(std::string_view argv0);

// The standard switch: the letter after one optional "/" or "-", then,
// after blanks and colons, a decimal window handle. No argument at all is
// configure; configure with a handle of 0, or an unknown letter, is no mode.
SaverInvocation ParseScrSwitches(const std::vector<std::string>& args);

// Whether the arguments ask for a saver mode ("--saver" among them).
bool HasSaverOption(const std::vector<std::string>& args);
// The "--saver" form. `environmentWindow` is XSCREENSAVER_WINDOW (null when
// unset); it names the window to draw into when neither "-root" nor
// "-window-id" does. A usage error fills `error` and answers false.
bool ParseSaverOptions(const std::vector<std::string>& args, const char* environmentWindow, SaverInvocation& out,
                       std::string& error);

// A window id written in decimal or as "0x" and hexadecimal digits.
bool ParseWindowId(std::string_view text, uint64_t& out);

// Ends a saver run on input while its interactive option is off: a key
// release, or the mouse once more than 10 moves have been counted and a
// move's x lies more than 5 pixels from the first move's x.
class SaverExitWatch {
 public:
  static constexpr int kMovesBeforeExit = 10;
  static constexpr int kSlack = 5;
  // True when this move ends the saver.
  bool Move(int x) {
    if (count_ < kMovesBeforeExit + 1) ++count_;
    if (count_ == 1) firstX_ = x;
    return count_ > kMovesBeforeExit && (x > firstX_ + kSlack || x < firstX_ - kSlack);
  }

 private:
  int count_ = 0;
  int firstX_ = 0;
};

}  // namespace kv::saver
