// A self-drawn sprite painting with QPainter straight into the compositor's
// buffer, at both formats, clipped to the rectangle being drawn.
#include "stage/qt_painter.h"

#include <gtest/gtest.h>

#include "stage/compositor.h"
#include "tests/stage/stage_test_util.h"

namespace kv {
namespace {

using namespace kv::test;

class PaintedSprite : public StageSprite {
 public:
  PaintedSprite() { selfDrawn = 1; }
  void Draw(DrawTarget& target, const Rect& clip) override {
    TargetPainter p(target, clip);
    p.painter().fillRect(QRect(rect.left, rect.top, rect.Width(), rect.Height()), QColor(0xF8, 0, 0));
  }
};

TEST(StageQtPainter, PaintsIntoTheSharedBufferWithinTheClip) {
  for (PixelFormat f : {PixelFormat::kXrgb32, PixelFormat::kRgb565}) {
    Compositor c(CompositorRole::kStage);
    ASSERT_EQ(c.Initialise({0, 0, 32, 16}, kBack, f, nullptr), 0);
    PaintedSprite s;
    s.Setup({4, 4, 20, 12}, {}, 5, false, {}, 0, 0);
    c.Add(s, true);
    c.Update({0, 0, 10, 16});  // only the left part of the sprite is inside
    EXPECT_EQ(c.Offscreen().GetPixel(5, 5), kRed);
    EXPECT_EQ(c.Offscreen().GetPixel(12, 5), ColorRef());  // outside the clip: still blank
    EXPECT_EQ(c.Offscreen().GetPixel(2, 2), f == PixelFormat::kRgb565 ? FromRgb565(ToRgb565(kBack)) : kBack);
    c.Remove(s, false);
  }
}

}  // namespace
}  // namespace kv
