// The display switch of a window run. stageMode 1 shows the stage full
// screen, scaled to fill it with its aspect kept (black bars where the
// shapes differ); stageMode 2 does the same and presents through the
// page-flip thread, whole frames paced by rwPageFlipDelay. The display's
// own mode is left alone: a full-screen window is what the user sees.
#pragma once

#include <QObject>
#include <atomic>
#include <memory>

#include "platform/message_box.h"
#include "shell/saver_shell.h"
#include "shell/stage_window.h"
#include "stage/page_flip.h"

class QWindow;

namespace kv {

class Stage;

// How the stage is scaled in its window for a display mode and a target.
StageScale PresentationScale(const StageScale& asked, uint8_t stageMode, const WindowTarget& target);

// The page-flip thread of a stageMode 2 run, started once the stage and its
// window exist and stopped when the run ends; also told when a message box
// shows over the stage and when the window was exposed again.
class ExclusivePresentation : public QObject {
 public:
  explicit ExclusivePresentation(Stage& stage);
  ~ExclusivePresentation() override;
  // Watches `window` for re-exposure (its contents were lost).
  void Watch(QWindow* window);
  void Start();
  void Stop();
  PageFlipThread& flipper() { return flipper_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  PageFlipThread flipper_;
};

// Passes message boxes on, telling the page-flip thread while one shows.
class FlipAwareMessages : public MessageBoxService {
 public:
  explicit FlipAwareMessages(MessageBoxService& inner) : inner_(inner) {}
  void SetFlipper(PageFlipThread* flipper) { flipper_ = flipper; }
  MsgAnswer Show(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override;
  int Choose(const std::string& text, const std::string& title, const std::vector<std::string>& choices) override;

 private:
  template <typename F>
  auto Showing(F show);
  MessageBoxService& inner_;
  std::atomic<PageFlipThread*> flipper_{nullptr};
};

}  // namespace kv
