// Windows of the screen saver: the picture window (a project's preview
// picture scaled to the window on black) used by the configuration dialog
// and the preview mode, and placing a widget inside a window of another
// program (the daemon's saver window, a preview area).
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>

namespace kv {

class SaverPictureWindow : public QWidget {
 public:
  SaverPictureWindow(QWidget* parent, QString picturePath);

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  QString path_;
  QImage picture_;
  bool tried_ = false;
};

// The size of an X window of any program; none when `id` names no window
// (or there is no X display).
std::optional<QSize> ForeignWindowSize(uint64_t id);

// Makes `widget` a frameless child of the foreign window `id`, covering it,
// and shows it. False (with nothing changed) when `id` names no window.
bool ShowInsideForeignWindow(QWidget& widget, uint64_t id);

}  // namespace kv
