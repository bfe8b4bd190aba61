#include "shell/saver_window.h"

#include <QPainter>
#include <QWindow>
#include <cstdlib>
#include <memory>

#include <xcb/xcb.h>

namespace kv {

SaverPictureWindow::SaverPictureWindow(QWidget* parent, QString picturePath)
    : QWidget(parent), path_(std::move(picturePath)) {
  setWindowTitle("Image Preview");
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void SaverPictureWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  // Read once, on the first paint; a picture that cannot be read leaves the
  // window black.
  if (!tried_ && !path_.isEmpty()) {
    tried_ = true;
    picture_.load(path_);
  }
  if (!picture_.isNull()) painter.drawImage(rect(), picture_);
}

std::optional<QSize> ForeignWindowSize(uint64_t id) {
  if (id == 0 || id > UINT32_MAX) return std::nullopt;
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return std::nullopt;
  std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> c(xcb_connect(nullptr, nullptr), xcb_disconnect);
  if (!c || xcb_connection_has_error(c.get())) return std::nullopt;
  xcb_generic_error_t* error = nullptr;
  std::unique_ptr<xcb_get_geometry_reply_t, void (*)(void*)> geometry(
      xcb_get_geometry_reply(c.get(), xcb_get_geometry(c.get(), static_cast<xcb_drawable_t>(id)), &error), std::free);
  std::free(error);
  if (!geometry) return std::nullopt;
  // A pixmap answers the geometry request too; only a window has attributes.
  std::unique_ptr<xcb_get_window_attributes_reply_t, void (*)(void*)> attributes(
      xcb_get_window_attributes_reply(c.get(), xcb_get_window_attributes(c.get(), static_cast<xcb_window_t>(id)), &error),
      std::free);
  std::free(error);
  if (!attributes) return std::nullopt;
  return QSize(geometry->width, geometry->height);
}

bool ShowInsideForeignWindow(QWidget& widget, uint64_t id) {
  const auto size = ForeignWindowSize(id);
  if (!size) return false;
  QWindow* foreign = QWindow::fromWinId(static_cast<WId>(id));
  if (!foreign) return false;
  widget.setWindowFlag(Qt::FramelessWindowHint);
  widget.winId();  // makes the native window to re-parent
  widget.windowHandle()->setParent(foreign);
  widget.setGeometry(0, 0, size->width(), size->height());
  widget.show();
  return true;
}

}  // namespace kv
