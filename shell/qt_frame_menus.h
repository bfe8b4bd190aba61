// The frame's system menus in the window: a QMenuBar attached to the stage
// frame and a QMenu opened at the pointer. Widget work runs on the GUI
// thread; choices reach the run on its main thread.
#pragma once

#include <QPointer>
#include <functional>

#include "stage/frame_menus.h"

class QMenu;
class QMenuBar;

namespace kv {

class StageWindow;

class QtFrameMenus : public FrameMenus {
 public:
  using Post = std::function<void(std::function<void()>)>;
  // `gui` runs work on the GUI thread; `run` on the run's main thread.
  QtFrameMenus(Post gui, Post run);
  // On the GUI thread, once the frame exists.
  void AttachWindow(StageWindow* frame);

  void ShowBar(std::vector<FrameMenuEntry> entries, std::function<void(uint16_t)> chosen) override;
  void RemoveBar() override;
  void OpenPopup(std::vector<FrameMenuEntry> entries, Point at, std::function<void(uint16_t)> ended) override;
  void CancelPopup() override;

 private:
  Post gui_, run_;
  QPointer<StageWindow> frame_;  // GUI thread only
  QPointer<QMenu> popup_;        // GUI thread only
};

}  // namespace kv
