#include "shell/qt_message_box.h"

#include <QMessageBox>
#include <QThread>

#include "platform/text.h"

namespace kv {

namespace {

QMessageBox::StandardButtons ButtonsOf(MsgButtons b) {
  switch (b) {
    case MsgButtons::Ok: return QMessageBox::Ok;
    case MsgButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case MsgButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case MsgButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case MsgButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
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
    default:
      // Closed without a button: the box's cancelling answer.
      return offered == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Cancel;
  }
}

}  // namespace

MsgAnswer QtMessageBox::Show(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) {
  struct Busy {
    std::atomic<bool>& mark;
    explicit Busy(std::atomic<bool>& m) : mark(m) {
      bool expected = false;
      while (!mark.compare_exchange_weak(expected, true)) {
        expected = false;
        QThread::msleep(10);
      }
    }
    ~Busy() { mark = false; }
  } busy(busy_);
  int answer = 0;
  auto ask = [&] {
    QMessageBox box(IconOf(icon), QString::fromStdString(Cp1252ToUtf8(title)),
                    QString::fromStdString(Cp1252ToUtf8(text)), ButtonsOf(buttons));
    answer = box.exec();
  };
  if (QThread::currentThread() == gui_->thread())
    ask();
  else
    QMetaObject::invokeMethod(gui_, ask, Qt::BlockingQueuedConnection);
  return AnswerOf(answer, buttons);
}

}  // namespace kv
