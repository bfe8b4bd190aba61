// Drags that leave the player: an object's content carried to other programs
// (or back onto the stage) and the stage window's frame moved by the window
// system, both started from the run's threads and run on the GUI thread.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "inserts/stage_host.h"

namespace kv {

class QtDragHost : public DragHost {
 public:
  // `onGui` runs work on the GUI thread without waiting.
  explicit QtDragHost(std::function<void(std::function<void()>)> onGui) : onGui_(std::move(onGui)) {}
  // The drawing window drags start from (GUI thread).
  void Attach(QWidget* source) { source_ = source; }

  void StartContentDrag(const ContentDrag& drag) override;
  void StartFrameDrag() override;

 private:
  std::function<void(std::function<void()>)> onGui_;
  QPointer<QWidget> source_;
};

}  // namespace kv
