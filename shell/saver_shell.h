// The player as a screen saver: the configuration dialog, the preview of the
// selected project's picture inside another program's window, and the run
// that plays the selected project until input ends it. Started by
// "korvel --saver ..." or under a name ending in ".scr".
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "player/command_line.h"
#include "saver/saver_command.h"

namespace kv {

// Where a window run shows its stage.
struct WindowTarget {
  // Inside a window of another program (a saver daemon's window); the stage
  // is scaled to fill it.
  std::optional<uint64_t> embedIn;
  // The whole screen ("-root" without a daemon's window).
  bool wholeScreen = false;
  // A saver run: the stage window stays above every other window.
  bool saver = false;
  // Hosted playing: `embedIn` is the host's window ("/parent"); when it is
  // none, the stage plays in a window of its own, not on the whole screen.
  bool hosted = false;
};

// Plays with the shell's own window or headless, as a plain start would.
using PlayFunction = std::function<int(PlayerOptions, const WindowTarget&)>;

int RunSaver(int argc, char** argv, const saver::SaverInvocation& how, const PlayFunction& play);

}  // namespace kv
