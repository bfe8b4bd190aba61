#include "stage/qt_painter.h"

#include <QGuiApplication>
#include <mutex>

namespace kv {

void EnsureGuiApplication() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (QCoreApplication::instance()) return;
    // Lives as long as the process: fonts and painters may be used until exit.
    static int argc = 3;
    static char name[] = "korvel", option[] = "-platform", platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    new QGuiApplication(argc, argv);
  });
}

QImage WrapForPainting(PixelBuffer& buffer) {
  const QImage::Format format =
      buffer.Format() == PixelFormat::kXrgb32 ? QImage::Format_RGB32 : QImage::Format_RGB16;
  return QImage(buffer.Data(), buffer.Width(), buffer.Height(), qsizetype(buffer.Stride()), format);
}

TargetPainter::TargetPainter(DrawTarget& target, const Rect& clip) : image_(WrapForPainting(target.buffer)) {
  painter_.begin(&image_);
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setRenderHint(QPainter::TextAntialiasing, false);
  painter_.translate(-target.origin.x, -target.origin.y);
  painter_.setClipRect(QRect(clip.left, clip.top, clip.Width(), clip.Height()));
}

}  // namespace kv
