#include "stage/qt_painter.h"

namespace kv {

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
