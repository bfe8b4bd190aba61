// Drags that leave the player: an object's content carried to other programs
// (or back onto the stage) and the stage window's frame moved by the window
// system, both started from the run's threads and run on the GUI thread.
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>

#include "inserts/stage_host.h"

namespace kv {

class PictureLoader;

class QtDragHost : public DragHost {
 public:
  // `onGui` runs work on the GUI thread without waiting; `pictures` decodes
  // metafiles offered as pictures.
  QtDragHost(std::function<void(std::function<void()>)> onGui, PictureLoader* pictures)
      : onGui_(std::move(onGui)), pictures_(pictures) {}
  void SetPictures(PictureLoader* pictures) { pictures_ = pictures; }
  // The drawing window drags start from (GUI thread).
  void Attach(QWidget* source) { source_ = source; }

  void StartContentDrag(const ContentDrag& drag) override;
  void StartFrameDrag() override;

 private:
  std::function<void(std::function<void()>)> onGui_;
  PictureLoader* pictures_;
  QPointer<QWidget> source_;
};

}  // namespace kv
