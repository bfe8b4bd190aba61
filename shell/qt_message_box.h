// The real message box: a modal QMessageBox on the GUI thread, asked for
// from any engine thread.
#pragma once

#include <QObject>
#include <atomic>

#include "platform/message_box.h"

namespace kv {

class QtMessageBox : public MessageBoxService {
 public:
  explicit QtMessageBox(QObject* guiObject) : gui_(guiObject) {}
  MsgAnswer Show(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override;
  int Choose(const std::string& text, const std::string& title, const std::vector<std::string>& choices) override;

 private:
  QObject* gui_;
  // One box at a time; the mark is taken and released on every path.
  std::atomic<bool> busy_{false};
};

}  // namespace kv
