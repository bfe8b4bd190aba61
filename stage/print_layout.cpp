#include "stage/print_layout.h"

#include <cmath>

namespace kv {

namespace {

int Trunc(double v) { return ClampToInt(static_cast<int64_t>(std::trunc(v))); }

// Printer pixels of a margin beyond the printer's own, never negative.
int MarginPixels(int dpi, int32_t margin, int32_t minimum) {
  const int64_t px = int64_t(dpi) * (int64_t(margin) - minimum) / 1000;
  return px > 0 ? ClampToInt(px) : 0;
}

}  // namespace

Rect PrintableArea(const PrinterPage& page, const PageMargins& margins, const PageMargins& minimum, int sourceWidth,
                   int sourceHeight) {
  const int left = MarginPixels(page.dpiX, margins.left, minimum.left);
  const int right = MarginPixels(page.dpiX, margins.right, minimum.right);
  const int top = MarginPixels(page.dpiY, margins.top, minimum.top);
  const int width = page.horzRes - left - right;
  if (width <= 0 || sourceWidth <= 0 || sourceHeight <= 0 || page.dpiX <= 0) return {left, top, left, top};
  const int64_t height = int64_t(width) * page.dpiY * sourceHeight / (int64_t(page.dpiX) * sourceWidth);
  return {left, top, left + width, ClampToInt(top + height)};
}

int PrintFactor(bool highQuality, int printableWidth, int sourceWidth) {
  if (highQuality || sourceWidth <= 0) return 1;
  const int f = printableWidth / sourceWidth;
  return f > 0 ? f : 1;
}

Rect ScalePrintRect(const Rect& r, double sx, double sy, int sourceX, int sourceY) {
  const int ox = Trunc(sx * sourceX);
  const int oy = Trunc(sy * sourceY);
  return {Trunc(r.left * sx - ox), Trunc(r.top * sy - oy), Trunc(r.right * sx - ox), Trunc(r.bottom * sy - oy)};
}

}  // namespace kv
