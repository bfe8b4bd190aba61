// The arithmetic of printing the stage: where on the page the picture goes,
// the integer factor the print stage is enlarged by, and how an object's
// rectangle maps into the print stage. Qt-free; the print job and its tests
// share it.
#pragma once

#include <cstdint>

#include "platform/geometry.h"

namespace kv {

// Page margins in thousandths of an inch.
struct PageMargins {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// What the chosen printer reports about its page.
struct PrinterPage {
  int dpiX = 300;
  int dpiY = 300;
  int horzRes = 0;  // printable pixels across
  int vertRes = 0;  // and down
};

// The part of the page the picture fills, in printer pixels. The height
// follows the source's proportions; the bottom margin is not used.
Rect PrintableArea(const PrinterPage& page, const PageMargins& margins, const PageMargins& minimum, int sourceWidth,
                   int sourceHeight);

// The integer factor the print stage is stretched by on the page: 1 with
// high-quality rendering, otherwise printable width / source width, and 1
// where a source wider than the printable area would make it 0.
int PrintFactor(bool highQuality, int printableWidth, int sourceWidth);

// An object's rectangle in the print stage: each corner scaled by (sx, sy)
// and shifted by the scaled source origin, every product truncated toward
// zero.
Rect ScalePrintRect(const Rect& r, double sx, double sy, int sourceX, int sourceY);

}  // namespace kv
