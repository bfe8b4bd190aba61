// Builders shared by the compositor tests: solid and patterned pictures, a
// self-drawn sprite that counts its draws, a run-state double, and a stage
// whose frames are recorded.
#pragma once

#include <atomic>
#include <functional>

#include <gtest/gtest.h>

#include "stage/compositor.h"
#include "stage/picture.h"
#include "stage/sprite.h"
#include "tests/stage/test_presenter.h"

namespace kv::test {

// Colours exact in both stage formats (channels multiples of 8, green of 4).
inline constexpr ColorRef kRed = ColorRef::FromRgb(0xF8, 0, 0);
inline constexpr ColorRef kGreen = ColorRef::FromRgb(0, 0xFC, 0);
inline constexpr ColorRef kBlue = ColorRef::FromRgb(0, 0, 0xF8);
inline constexpr ColorRef kBlack = ColorRef::FromRgb(0, 0, 0);
inline constexpr ColorRef kGrey = ColorRef::FromRgb(0xC0, 0xC0, 0xC0);
inline constexpr ColorRef kBack = ColorRef::FromRgb(0x40, 0x80, 0x20);

// A 24-bit picture whose pixel (x, y) is fn(x, y).
inline DecodedPicture Picture24(int w, int h, const std::function<ColorRef(int, int)>& fn) {
  DecodedPicture p;
  p.width = w;
  p.height = h;
  p.bitsPerPixel = 24;
  p.stride = (w * 3 + 3) / 4 * 4;
  p.bits.assign(size_t(p.stride) * h, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const ColorRef c = fn(x, y);
      uint8_t* px = &p.bits[size_t(y) * p.stride + 3 * x];
      px[0] = c.Blue(), px[1] = c.Green(), px[2] = c.Red();
    }
  return p;
}

inline DecodedPicture Solid24(int w, int h, ColorRef c) {
  return Picture24(w, h, [c](int, int) { return c; });
}

// A picture sprite at `r` (picture the size of `r` unless given).
inline void Place(StageSprite& s, const DecodedPicture& pic, const Rect& r, uint16_t layer, bool keyed = false,
                  ColorRef key = ColorRef(), uint8_t tolerance = 0) {
  s.SetPicture(pic.View());
  s.Setup(r, {0, 0, pic.width, pic.height}, layer, keyed, key, tolerance, 0);
  s.Fit();
}

// Self-drawn: fills its clip with `color` and counts the calls.
class CountingSprite : public StageSprite {
 public:
  explicit CountingSprite(ColorRef color, bool fills = false) : color_(color), fills_(fills) { selfDrawn = 1; }
  void Draw(DrawTarget& target, const Rect& clip) override {
    ++draws;
    target.buffer.Fill(clip.Offset(-target.origin.x, -target.origin.y), color_);
    if (onDraw) onDraw();
  }
  bool PaintsEveryPixel() const override { return fills_; }
  std::atomic<int> draws{0};
  std::function<void()> onDraw;

 private:
  ColorRef color_;
  bool fills_;
};

struct FakeEnvironment : StageEnvironment {
  bool PlayerRunning() const override { return running; }
  bool QuitRequested() const override { return quit; }
  bool StopRequested() const override { return stop; }
  bool ModalDialogOpen() const override { return modal; }
  void ReportInternalError(const std::string& what) override { errors.push_back(what); }
  bool running = false, quit = false, stop = false, modal = false;
  std::vector<std::string> errors;
};

struct FakeOwner : SpriteOwner {};

// A 200 x 100 stage compositor on the fake environment, whose frames a
// recording presenter takes; the presenter starts empty.
class RecordedStage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(c.Initialise({0, 0, 200, 100}, kBack, PixelFormat::kXrgb32, &presenter), 0);
    c.SetEnvironment(&env);
    presenter.Reset();
  }
  FakeEnvironment env;
  RecordingPresenter presenter;
  Compositor c{CompositorRole::kStage};
};

}  // namespace kv::test
