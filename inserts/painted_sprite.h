// The sprite of a kind the player draws itself (shapes, texts, buttons, hot
// spots): the compositor asks it to draw and to hit-test, and it passes both
// to its owner. Also loads the pictures such kinds paint from.
#pragma once

#include <memory>
#include <string>

#include "stage/sprite.h"

namespace kv {

class CVisibleInsert;
class Stage;
struct PlayContext;

// What a self-drawn kind gives its sprite. Calls arrive under the stage lock.
class SelfPainting {
 public:
  virtual ~SelfPainting() = default;
  // Draws `sprite` into `target`, staying inside `clip` (stage coordinates).
  // `ctx` is the run of the stage the sprite was made for; null for a sprite
  // made for no stage's run (the frame's own menus, benchmarks).
  virtual void PaintSprite(PlayContext* ctx, StageSprite& sprite, DrawTarget& target, const Rect& clip) = 0;
  // Whether (x, y), already inside the displayed rectangle, hits the object.
  virtual bool HitsAt(const StageSprite& /*sprite*/, int /*x*/, int /*y*/) const { return true; }
  // Whether the last paint covered every pixel of the displayed rectangle.
  virtual bool PaintsAll(const StageSprite& /*sprite*/) const { return false; }
};

class PaintedSprite : public StageSprite {
 public:
  PaintedSprite(SelfPainting& painter, PixelFormat format, PlayContext* run = nullptr);
  void Draw(DrawTarget& target, const Rect& clip) override;
  bool HitTest(int x, int y) override;
  bool PaintsEveryPixel() const override;

 private:
  SelfPainting& painter_;
  PlayContext* run_;
};

// Redraws `sprite`'s area at once when it is on the stage.
void RedrawNow(StageSprite* sprite);

// A painted sprite set up as the kinds' sprites are: `insert`'s rectangle as
// destination and source, its layer and transparency, the stage's exit key.
std::unique_ptr<PaintedSprite> MakePaintedSprite(SelfPainting& painter, const CVisibleInsert& insert, Stage& stage);

// A control's sprite: `w`×`h` at the object's place and layer, black; the
// control draws one pixel inside it, as inside its window's frame.
void SetUpControlSprite(StageSprite& sprite, const CVisibleInsert& insert, Stage& stage, int w, int h);

// Loads `file` (names already substituted) through the stage's picture
// loader into a picture sprite keyed as `insert` is; 0, 2 when no such file
// exists, or the loader's error.
int LoadPictureSprite(Stage& stage, const CVisibleInsert& insert, const std::string& file, StageSprite& into);

}  // namespace kv
