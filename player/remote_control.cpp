#include "player/remote_control.h"

#include <array>
#include <utility>

#include "engine/commands.h"
#include "engine/request.h"
#include "engine/runner.h"
#include "ext/orlan_builtins.h"
#include "inserts/menu.h"
#include "inserts/stage_host.h"
#include "platform/text.h"

namespace kv {

std::optional<RemoteMessage> RemoteMessageNamed(std::string_view name) {
  static constexpr std::array<std::pair<std::string_view, RemoteMessage>, 9> kNames{{
      {"KV_PAUSE", RemoteMessage::kPause},
      {"KV_RESUME", RemoteMessage::kResume},
      {"KV_STOP", RemoteMessage::kStop},
      {"KV_CLOSE", RemoteMessage::kClose},
      {"KV_KILLMENU", RemoteMessage::kKillMenu},
      {"KV_SHOWNEWFILE", RemoteMessage::kShowNewFile},
      {"BUTTONSON", RemoteMessage::kButtonsOn},
      {"RUNSCRIPT", RemoteMessage::kRunScript},
      {"STAGEACTION", RemoteMessage::kStageAction},
  }};
  for (const auto& [text, message] : kNames)
    if (text == name) return message;
  return std::nullopt;
}

bool RemoteActionAllowed(int32_t code) {
  switch (code) {
    case command::kResumePausedObject:
    case command::kRemoveObject:
    case command::kHideObject:
    case command::kShowHiddenObject:
    case command::kDisableObject:
    case command::kEnableObject:
    case command::kPlayObject:
    case command::kPauseObject:
    case command::kInitializeObject:
    case command::kStopObject:
      return true;
    default:
      return false;
  }
}

namespace {

RemoteOutcome Refused(const char* error, std::string text) { return {std::string("org.korvel.Player.Error.") + error, std::move(text)}; }

}  // namespace

RemoteOutcome DeliverRemote(Runner& runner, Stage* stage, RemoteMessage message, const std::string& object,
                            int32_t code) {
  if (!runner.playerRunning || runner.shuttingDown) return Refused("NotPlaying", "no project is playing");
  // Messages without an object act on the stage.
  switch (message) {
    case RemoteMessage::kShowNewFile:
      if (stage) stage->compositor().RepaintBackground(true);
      return {};
    case RemoteMessage::kButtonsOn:
      if (stage) stage->ResetMouse();
      return {};
    case RemoteMessage::kRunScript:
      if (stage) {
        stage->justCreated = false;
        stage->SetWindow(stage->Window());
      }
      return {};
    default:
      break;
  }
  if (object.empty()) return Refused("NoObject", "an object name is needed");
  // Names travel as UTF-8; the project stores Windows-1252.
  const std::string name = Utf8ToCp1252(object);
  InsertPtr target = runner.FindObject(name, true, true);
  if (!target) return Refused("NoSuchObject", "no object is named \"" + object + "\"");
  uint16_t request = 0;
  switch (message) {
    case RemoteMessage::kPause: request = command::kPauseObject; break;
    case RemoteMessage::kResume: request = command::kResumePausedObject; break;
    // The player keeps no device open beyond an object's play: closing it
    // is stopping it.
    case RemoteMessage::kStop:
    case RemoteMessage::kClose: request = command::kStopObject; break;
    case RemoteMessage::kKillMenu: {
      if (!dynamic_cast<CMenuObj*>(target.get())) return Refused("NotAMenu", "\"" + object + "\" is not a menu object");
      // Its own thread takes the menu down, as the menu bar's holder is.
      ScriptThreadContext* owner = runner.ThreadOf(*target);
      auto kill = std::make_unique<Request>();
      kill->code = command::kRemoveThisObject;
      kill->source = target;
      if (!runner.PostRequest(owner ? owner : runner.MainThread(), std::move(kill), false))
        return Refused("NotDelivered", "the request could not be delivered");
      return {};
    }
    case RemoteMessage::kStageAction:
      if (!RemoteActionAllowed(code))
        return Refused("CommandRefused", "command " + std::to_string(code) + " is not taken from outside");
      request = static_cast<uint16_t>(code);
      break;
    default:
      return Refused("Unknown", "unknown message");
  }
  if (!PostForObject(runner, request, target, 0.0, &name))
    return Refused("NotDelivered", "the request could not be delivered");
  return {};
}

}  // namespace kv
