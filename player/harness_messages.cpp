#include "player/harness_messages.h"

#include <cstdio>
#include <cstdlib>

#include "engine/trace.h"
#include "platform/log.h"
#include "platform/text.h"

namespace kv {

namespace {

std::vector<MsgAnswer> Offered(MsgButtons b) {
  switch (b) {
    case MsgButtons::Ok: return {MsgAnswer::Ok};
    case MsgButtons::OkCancel: return {MsgAnswer::Ok, MsgAnswer::Cancel};
    case MsgButtons::YesNo: return {MsgAnswer::Yes, MsgAnswer::No};
    case MsgButtons::YesNoCancel: return {MsgAnswer::Yes, MsgAnswer::No, MsgAnswer::Cancel};
    case MsgButtons::RetryCancel: return {MsgAnswer::Retry, MsgAnswer::Cancel};
    case MsgButtons::AbortRetryIgnore: return {MsgAnswer::Abort, MsgAnswer::Retry, MsgAnswer::Ignore};
  }
  return {MsgAnswer::Ok};
}

}  // namespace

const char* AnswerWord(MsgAnswer a) {
  switch (a) {
    case MsgAnswer::Ok: return "ok";
    case MsgAnswer::Cancel: return "cancel";
    case MsgAnswer::Yes: return "yes";
    case MsgAnswer::No: return "no";
    case MsgAnswer::Retry: return "retry";
    case MsgAnswer::Abort: return "abort";
    case MsgAnswer::Ignore: return "ignore";
  }
  return "ok";
}

bool HarnessMessageBox::ParseAnswers(const std::vector<std::string>& words, std::deque<std::string>& out,
                                     std::string& error) {
  static const char* const kWords[] = {"yes", "no", "ok", "cancel", "retry", "ignore", "abort"};
  for (const std::string& w : words) {
    bool known = w.rfind("text:", 0) == 0 || (w.rfind("choice:", 0) == 0 && w.size() > 7 &&
                                               w.find_first_not_of("0123456789", 7) == std::string::npos);
    for (const char* k : kWords) known = known || w == k;
    if (!known) {
      error = "unknown answer \"" + w + "\" (yes, no, ok, cancel, retry, ignore, abort, text:VALUE or choice:N)";
      return false;
    }
    out.push_back(w);
  }
  return true;
}

HarnessMessageBox::HarnessMessageBox(std::deque<std::string> answers, TraceSink* trace, bool echo)
    : answers_(std::move(answers)), trace_(trace), echo_(echo) {}

MsgAnswer HarnessMessageBox::Show(const std::string& text, const std::string& title, MsgButtons buttons,
                                  MsgIcon icon) {
  return ShowWithId(0, text, title, buttons, icon);
}

MsgAnswer HarnessMessageBox::ShowWithId(uint32_t textId, const std::string& text, const std::string& title,
                                        MsgButtons buttons, MsgIcon icon) {
  const std::vector<MsgAnswer> offered = Offered(buttons);
  MsgAnswer answer = offered.front();
  bool scripted = false;
  {
    std::lock_guard lock(mutex_);
    if (!answers_.empty()) {
      scripted = true;
      std::string word = answers_.front();
      answers_.pop_front();
      for (MsgAnswer a : offered)
        if (word == AnswerWord(a)) answer = a;
    }
  }
  if (!scripted && interactive_) {
    // One box at a time: a box asked for while another shows is not shown
    // and answers at once as its first button would (1).
    bool expected = false;
    if (!showing_.compare_exchange_strong(expected, true)) return MsgAnswer::Ok;
    struct Release {
      std::atomic<bool>& flag;
      ~Release() { flag = false; }
    } release{showing_};
    answer = interactive_->ShowWithId(textId, text, title, buttons, icon);
  }
  Log("Message \"%s\": %s -> %s", title.c_str(), text.c_str(), AnswerWord(answer));
  if (echo_)
    std::fprintf(stderr, "korvel: message \"%s\": %s [%s]\n", Cp1252ToUtf8(title).c_str(),
                 Cp1252ToUtf8(text).c_str(), AnswerWord(answer));
  if (trace_) trace_->MessageShown(textId, title, text, AnswerWord(answer));
  return answer;
}

int HarnessMessageBox::Choose(const std::string& text, const std::string& title,
                              const std::vector<std::string>& choices) {
  int chosen = 0;
  bool scripted = false;
  {
    std::lock_guard lock(mutex_);
    if (!answers_.empty()) {
      scripted = true;
      const std::string word = answers_.front();
      answers_.pop_front();
      if (word.rfind("choice:", 0) == 0) {
        const long n = std::strtol(word.c_str() + 7, nullptr, 10);
        if (n >= 1 && n <= static_cast<long>(choices.size())) chosen = static_cast<int>(n - 1);
      }
    }
  }
  if (!scripted && interactive_) chosen = interactive_->Choose(text, title, choices);
  if (chosen < 0 || chosen >= static_cast<int>(choices.size())) chosen = 0;
  const std::string answer = "choice:" + std::to_string(chosen + 1);
  Log("Message \"%s\": %s -> %s", title.c_str(), text.c_str(), answer.c_str());
  if (echo_)
    std::fprintf(stderr, "korvel: message \"%s\": %s [%s]\n", Cp1252ToUtf8(title).c_str(), Cp1252ToUtf8(text).c_str(),
                 answer.c_str());
  if (trace_) trace_->MessageShown(0, title, text, answer.c_str());
  return chosen;
}

std::optional<std::string> HarnessMessageBox::TakeText(const std::optional<std::string>& def) {
  std::lock_guard lock(mutex_);
  if (answers_.empty()) return def;
  std::string word = answers_.front();
  answers_.pop_front();
  if (word.rfind("text:", 0) == 0) return Utf8ToCp1252(word.substr(5));
  return def;
}

std::optional<std::string> HarnessFileDialog::OpenFile(const FileDialogRequest& request) {
  std::optional<std::string> def;
  if (!request.initialFile.empty()) def = request.initialFile;
  return answers_.TakeText(def);
}

}  // namespace kv
