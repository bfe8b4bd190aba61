// The message box of a run without windows: answers from the --answers
// list in order, takes the box's default button when the list runs out or
// an answer is not one the box offers, and traces every box it showed.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_dialog.h"
#include "platform/message_box.h"

namespace kv {

class TraceSink;

class HarnessMessageBox : public MessageBoxService {
 public:
  // Unknown answer words fill `error`.
  static bool ParseAnswers(const std::vector<std::string>& words, std::deque<std::string>& out, std::string& error);

  HarnessMessageBox(std::deque<std::string> answers, TraceSink* trace, bool echo);
  MsgAnswer Show(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override;
  MsgAnswer ShowWithId(uint32_t textId, const std::string& text, const std::string& title, MsgButtons buttons,
                       MsgIcon icon) override;
  // "choice:N" answers the N-th choice (from 1); any other answer, or none,
  // the first.
  int Choose(const std::string& text, const std::string& title, const std::vector<std::string>& choices) override;
  // The next answer for a box that asks for text: the VALUE of "text:VALUE",
  // else `def` (the list ran out or the answer is of another kind).
  std::optional<std::string> TakeText(const std::optional<std::string>& def);
  // A real box that answers once the scripted answers have run out (a run
  // in a window); the answer is traced all the same.
  void SetInteractive(MessageBoxService* box) { interactive_ = box; }

 private:
  MessageBoxService* interactive_ = nullptr;
  std::atomic<bool> showing_{false};  // a real box is up
  std::mutex mutex_;
  std::deque<std::string> answers_;
  TraceSink* trace_;
  bool echo_;
};

const char* AnswerWord(MsgAnswer answer);

// The file dialog of a run without windows answers from the same list:
// "text:PATH" chooses PATH; otherwise it takes its initial file, or cancels
// when it has none.
class HarnessFileDialog : public FileDialog {
 public:
  explicit HarnessFileDialog(HarnessMessageBox& answers) : answers_(answers) {}
  std::optional<std::string> OpenFile(const FileDialogRequest& request) override;

 private:
  HarnessMessageBox& answers_;
};

}  // namespace kv
