// The registered window messages another process may send a running player
// (the shell carries them over the session bus): each becomes the run
// window's own event, handled on the run's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

class Runner;
class Stage;

enum class RemoteMessage {
  kPause,        // "KV_PAUSE": pause the named object's playback
  kResume,       // "KV_RESUME"
  kStop,         // "KV_STOP"
  kClose,        // "KV_CLOSE": close the named object's player
  kKillMenu,     // "KV_KILLMENU": take the named menu object's menu down
  kShowNewFile,  // "KV_SHOWNEWFILE": the stage shows what changed
  kButtonsOn,    // "BUTTONSON": objects under the pointer are found anew
  kRunScript,    // "RUNSCRIPT": the stage is arranged again
  kStageAction,  // "STAGEACTION": a request with a command code and an object
};

// The message of a registered name ("KV_PAUSE", ...); none for another.
std::optional<RemoteMessage> RemoteMessageNamed(std::string_view name);

struct RemoteOutcome {
  // Empty on success; else a D-Bus error name under org.korvel.Player.Error.
  std::string error;
  std::string text;
};

// The commands a STAGEACTION from outside may carry: those that act on one
// object. Starting programs, opening addresses and writing files stay with
// the project's own scripts.
bool RemoteActionAllowed(int32_t code);

// Delivers one message on the run's thread. `object` names the object the
// media and menu messages and STAGEACTION act on; `code` is STAGEACTION's
// command.
RemoteOutcome DeliverRemote(Runner& runner, Stage* stage, RemoteMessage message, const std::string& object,
                            int32_t code);

}  // namespace kv
