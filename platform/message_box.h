// The program's message box service as an interface: the shell supplies the
// real box; headless runs and tests answer from a script and log every box.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace kv {

enum class MsgIcon { None, Error, Exclamation, Question, Information };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class MsgAnswer { Ok, Cancel, Yes, No, Retry, Abort, Ignore };

class MessageBoxService {
 public:
  virtual ~MessageBoxService() = default;
  virtual MsgAnswer Show(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) = 0;
  // The same with the string id of the main text (0 when it has none), for
  // services that record what they showed.
  virtual MsgAnswer ShowWithId(uint32_t /*textId*/, const std::string& text, const std::string& title,
                               MsgButtons buttons, MsgIcon icon) {
    return Show(text, title, buttons, icon);
  }
  // A box with the caller's own choices, the first being the default;
  // answers the index chosen. A service without such boxes takes the default.
  virtual int Choose(const std::string& /*text*/, const std::string& /*title*/,
                     const std::vector<std::string>& /*choices*/) {
    return 0;
  }
};

// Answers from a list ("yes", "no", ...); when the list runs out, the default
// button (the first) answers. Every box shown is recorded.
class ScriptedMessageBox : public MessageBoxService {
 public:
  struct Shown {
    std::string text;
    std::string title;
    MsgButtons buttons;
    MsgIcon icon;
    MsgAnswer answer;
  };
  explicit ScriptedMessageBox(std::deque<MsgAnswer> answers = {}) : answers_(std::move(answers)) {}
  MsgAnswer Show(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override;
  const std::vector<Shown>& shown() const { return shown_; }

 private:
  std::deque<MsgAnswer> answers_;
  std::vector<Shown> shown_;
};

// The process-wide service; a ScriptedMessageBox with no answers by default,
// so nothing ever blocks before the shell installs the real one.
MessageBoxService& MessageBoxes();
void SetMessageBoxes(MessageBoxService* service);

inline MsgAnswer ShowMessage(const std::string& text, const std::string& title,
                             MsgButtons buttons = MsgButtons::Ok, MsgIcon icon = MsgIcon::None) {
  return MessageBoxes().Show(text, title, buttons, icon);
}

}  // namespace kv
