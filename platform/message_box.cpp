#include "platform/message_box.h"

namespace kv {
namespace {
MessageBoxService* g_service = nullptr;
}

MsgAnswer ScriptedMessageBox::Show(const std::string& text, const std::string& title, MsgButtons buttons,
                                   MsgIcon icon) {
  MsgAnswer answer = MsgAnswer::Ok;
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else {
    switch (buttons) {
      case MsgButtons::Ok:
      case MsgButtons::OkCancel: answer = MsgAnswer::Ok; break;
      case MsgButtons::YesNo:
      case MsgButtons::YesNoCancel: answer = MsgAnswer::Yes; break;
      case MsgButtons::RetryCancel: answer = MsgAnswer::Retry; break;
      case MsgButtons::AbortRetryIgnore: answer = MsgAnswer::Abort; break;
    }
  }
  shown_.push_back({text, title, buttons, icon, answer});
  return answer;
}

MessageBoxService& MessageBoxes() {
  static ScriptedMessageBox fallback;
  return g_service ? *g_service : fallback;
}

void SetMessageBoxes(MessageBoxService* service) { g_service = service; }

}  // namespace kv
