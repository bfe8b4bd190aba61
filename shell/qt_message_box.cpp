#include "shell/qt_message_box.h"

#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include "platform/text.h"
#include "shell/gui_thread.h"

namespace kv {

namespace {

QMessageBox::StandardButtons ButtonsOf(MsgButtons b) {
  switch (b) {
    case MsgButtons::Ok: return QMessageBox::Ok;
    case MsgButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    case MsgButtons::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
  }
  return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(MsgIcon i) {
  switch (i) {
    case MsgIcon::Error: return QMessageBox::Critical;
    case MsgIcon::Exclamation: return QMessageBox::Warning;
    case MsgIcon::Question: return QMessageBox::Question;
    case MsgIcon::Information: return QMessageBox::Information;
    case MsgIcon::None: return QMessageBox::NoIcon;
  }
  return QMessageBox::NoIcon;
}

MsgAnswer AnswerOf(int button, MsgButtons offered) {
  switch (button) {
    case QMessageBox::Ok: return MsgAnswer::Ok;
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    case QMessageBox::Retry: return MsgAnswer::Retry;
    case QMessageBox::Abort: return MsgAnswer::Abort;
    case QMessageBox::Ignore: return MsgAnswer::Ignore;
    default:
      // Closed without a button: the box's cancelling answer.
      if (offered == MsgButtons::AbortRetryIgnore) return MsgAnswer::Ignore;
      return offered == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Cancel;
  }
}

}  // namespace

namespace {

// Waits for the one box at a time; the mark is released on every path.
struct BusyMark {
  std::atomic<bool>& mark;
  explicit BusyMark(std::atomic<bool>& m) : mark(m) {
    bool expected = false;
    while (!mark.compare_exchange_weak(expected, true)) {
      expected = false;
      QThread::msleep(10);
    }
  }
  ~BusyMark() { mark = false; }
};

}  // namespace

MsgAnswer QtMessageBox::Show(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) {
  // A box asked for while another shows is not shown: it answers at once
  // as its first button would (1).
  bool expected = false;
  if (!busy_.compare_exchange_strong(expected, true)) return MsgAnswer::Ok;
  struct Release {
    std::atomic<bool>& mark;
    ~Release() { mark = false; }
  } release{busy_};
  int answer = 0;
  RunOnGuiThread(gui_, [&] {
    QMessageBox box(IconOf(icon), QString::fromStdString(Cp1252ToUtf8(title)),
                    QString::fromStdString(Cp1252ToUtf8(text)), ButtonsOf(buttons));
    answer = box.exec();
  });
  return AnswerOf(answer, buttons);
}

int QtMessageBox::Choose(const std::string& text, const std::string& title, const std::vector<std::string>& choices) {
  BusyMark busy(busy_);
  int chosen = 0;
  RunOnGuiThread(gui_, [&] {
    QMessageBox box(QMessageBox::Question, QString::fromStdString(Cp1252ToUtf8(title)),
                    QString::fromStdString(Cp1252ToUtf8(text)));
    std::vector<QPushButton*> buttons;
    for (const std::string& c : choices)
      buttons.push_back(box.addButton(QString::fromStdString(Cp1252ToUtf8(c)), QMessageBox::ActionRole));
    if (!buttons.empty()) box.setDefaultButton(buttons.front());
    box.exec();
    for (size_t i = 0; i < buttons.size(); ++i)
      if (box.clickedButton() == buttons[i]) chosen = static_cast<int>(i);
  });
  return chosen;
}

}  // namespace kv
