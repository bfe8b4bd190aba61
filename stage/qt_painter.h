// Lets a self-drawn sprite paint with QPainter straight into the compositor's
// target buffer: a QImage over the same memory (no copy), the painter
// translated to stage coordinates and clipped to the rectangle being drawn.
#pragma once

#include <QImage>
#include <QPainter>

#include "stage/sprite.h"

namespace kv {

// A QImage sharing `buffer`'s memory (Format_RGB32 or Format_RGB16).
QImage WrapForPainting(PixelBuffer& buffer);

// Makes sure a QGuiApplication exists, which Qt needs before any font is
// used. A player without a window gets one on the offscreen platform (fonts
// need no display). Call it once on the main thread before painting from
// other threads.
void EnsureGuiApplication();

class TargetPainter {
 public:
  // Paints into `target` in stage coordinates, limited to `clip`; antialiasing off.
  TargetPainter(DrawTarget& target, const Rect& clip);
  QPainter& painter() { return painter_; }

 private:
  QImage image_;
  QPainter painter_;
};

}  // namespace kv
