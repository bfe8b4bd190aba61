#include "stage/transitions.h"

#include <cstring>
#include <memory>
#include <mutex>

#include "stage/effect_routines.h"
#include "stage/effects.h"
#include "stage/locks.h"

namespace kv {

namespace {

constexpr uint32_t kRandomRectangles = 36;

// An image of the object's size held as an unkeyed picture sprite, so that
// pieces draw through the sprite's own copy and stretch.
std::unique_ptr<StageSprite> ImageSprite(PixelBuffer pixels, const Rect& object) {
  auto s = std::make_unique<StageSprite>();
  s->format = pixels.Format();
  s->CreateSurface(object, 0);
  s->MutablePicture() = std::move(pixels);
  return s;
}

// Stands in the object's place while an effect runs and draws its frames.
class EffectSprite : public StageSprite {
 public:
  EffectSprite(const Rect& object, uint16_t objectLayer, bool hide, PixelFormat format)
      : StageSprite(format), object_(object), hide_(hide) {
    selfDrawn = 1;
    rect = object;
    srcRect = {0, 0, object.Width(), object.Height()};
    layer = objectLayer;
  }

  void SetImages(PixelBuffer oldImage, PixelBuffer newImage, bool maskRoutine) {
    old_ = ImageSprite(std::move(oldImage), object_);
    new_ = ImageSprite(std::move(newImage), object_);
    maskRoutine_ = maskRoutine;
  }
  EffectFrame& Frame() { return frame_; }

  void Draw(DrawTarget& target, const Rect& clip) override {
    if (!old_) return;
    const Rect whole{0, 0, object_.Width(), object_.Height()};
    // Hiding starts from the object as it was; showing from the stage itself.
    if (hide_) DrawPlain(*old_, whole, whole, whole, target, clip);
    if (maskRoutine_) {
      if (!hide_) DrawPlain(*new_, whole, whole, whole, target, clip);
      return;
    }
    for (const EffectPiece& p : frame_.pieces) {
      switch (p.source) {
        case EffectPiece::kNew:
        case EffectPiece::kOld:
          DrawPlain(p.source == EffectPiece::kNew ? *new_ : *old_, p.src, p.dst, p.clip.IsEmpty() ? p.dst : p.clip,
                    target, clip);
          break;
        case EffectPiece::kNewCoarse:
        case EffectPiece::kOldCoarse:
          DrawCoarse(p, target, clip);
          break;
      }
    }
  }

 private:
  void DrawPlain(StageSprite& image, const Rect& src, const Rect& dst, const Rect& pieceClip, DrawTarget& target,
                 const Rect& clip) {
    const Rect c = pieceClip.Intersect({0, 0, object_.Width(), object_.Height()})
                       .Offset(object_.left, object_.top)
                       .Intersect(clip);
    if (!c.IsEmpty()) image.DrawTo(target, src, dst.Offset(object_.left, object_.top), c);
  }

  // Tiles of `cell` pixels from `origin`, each the colour of its centre pixel:
  // a reduced picture, built once per tile size, stretched back up.
  void DrawCoarse(const EffectPiece& p, DrawTarget& target, const Rect& clip) {
    const bool fromNew = p.source == EffectPiece::kNewCoarse;
    Coarse& cache = coarse_[fromNew];
    const int W = object_.Width(), H = object_.Height(), cell = std::max(p.cell, 1);
    const int cols = (W - p.origin.x + cell - 1) / cell, rows = (H - p.origin.y + cell - 1) / cell;
    if (!cache.sprite || cache.cell != cell || !(cache.origin == p.origin)) {
      const PixelBuffer& from = (fromNew ? new_ : old_)->Picture();
      PixelBuffer reduced(cols, rows, from.Format());
      const int bpp = from.BytesPerPixel();
      for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
          const int x = std::clamp(p.origin.x + i * cell + cell / 2, 0, W - 1);
          const int y = std::clamp(p.origin.y + j * cell + cell / 2, 0, H - 1);
          std::memcpy(reduced.At(i, j), from.At(x, y), size_t(bpp));
        }
      cache.sprite = ImageSprite(std::move(reduced), {0, 0, cols, rows});
      cache.cell = cell;
      cache.origin = p.origin;
    }
    const Rect dst{p.origin.x, p.origin.y, p.origin.x + cols * cell, p.origin.y + rows * cell};
    const Rect pieceClip = p.clip.IsEmpty() ? Rect{0, 0, W, H} : p.clip;
    DrawPlain(*cache.sprite, {0, 0, cols, rows}, dst, pieceClip, target, clip);
  }

  struct Coarse {
    std::unique_ptr<StageSprite> sprite;
    int cell = 0;
    Point origin{};
  };

  Rect object_;
  bool hide_;
  bool maskRoutine_ = false;
  std::unique_ptr<StageSprite> old_, new_;
  Coarse coarse_[2];
  EffectFrame frame_;
};

}  // namespace

TransitionEngine::TransitionEngine(Compositor& compositor, EffectClock& clock, Pacing pacing, AbortCheck abort)
    : compositor_(compositor), clock_(clock), pacing_(pacing), abort_(std::move(abort)) {}

void TransitionEngine::RunShow(StageSprite& sprite, const ShowParams& params) { Run(sprite, params, false); }

void TransitionEngine::RunHide(StageSprite& sprite, const ShowParams& params) { Run(sprite, params, true); }

void TransitionEngine::Run(StageSprite& sprite, const ShowParams& params, bool hide) {
  Compositor& c = compositor_;
  Rect object;
  {
    std::lock_guard lock(c.Lock());
    if (sprite.busy) return;
    sprite.busy = 1;
    object = sprite.DisplayedRect();
  }
  lastSteps_ = 0;
  lastInterrupted_ = false;
  sprite.effectSteps = 0;
  sprite.effectInterrupted = false;
  std::unique_ptr<EffectSprite> working;
  RevealMask mask;

  // The object ends shown or hidden whatever happened on the way.
  auto finish = [&] {
    std::lock_guard lock(c.Lock());
    const bool listed = working && c.Contains(*working);
    if (working) {
      working->reveal = nullptr;
      if (listed) c.Remove(*working, false);
    }
    if (hide) {
      if (!listed) c.Remove(sprite, false);
    } else {
      c.Add(sprite, true);
    }
    sprite.busy = 0;
    c.Update(object.Union(sprite.DisplayedRect()));
  };

  try {
    uint32_t effect = params.effect, param1 = params.param1, param2 = params.param2, speed = params.speed;
    // No palette display is emulated, so palette fades take their stand-in.
    if (InfoOf(effect).family == EffectFamily::kPaletteFade)
      effect = kRandomRectangles, param1 = 2, param2 = 2, speed = 0;
    const EffectParams p = ResolveEffectParams(effect, param1, param2, speed, object.Width(), object.Height());
    // Only the part on the stage is drawn step by step.
    const Rect area = object.Intersect({0, 0, c.Width(), c.Height()});
    const uint32_t seed = uint32_t(clock_.NowMs() / 1000);
    auto routine = MakeEffectRoutine({effect, p.param1, p.param2, area.Width(), area.Height(), seed});
    if (!routine || routine->Steps() == 0) return finish();

    working = std::make_unique<EffectSprite>(area, sprite.layer, hide, c.Format());
    PixelBuffer beneath, withObject;
    {
      std::lock_guard lock(c.Lock());
      if (hide) {
        beneath = c.StageBeneath(sprite, area);
        c.Replace(sprite, *working);
      } else {
        c.Add(*working, false);
        beneath = c.StageBeneath(*working, area);
      }
      withObject = beneath.Clone();
      DrawTarget t{withObject, {area.left, area.top}};
      sprite.Draw(t, area);
      if (routine->UsesMask()) {
        mask.Reset(area, 0);
        mask.on = hide ? 0 : 1;
        working->reveal = &mask;
      }
      working->Frame().width = area.Width();
      working->Frame().height = area.Height();
      if (hide)
        working->SetImages(std::move(withObject), std::move(beneath), routine->UsesMask());
      else
        working->SetImages(std::move(beneath), std::move(withObject), routine->UsesMask());
    }

    StageEnvironment& env = c.Environment();
    const uint16_t abortKey = sprite.effectAbortKey;
    StepClock clock(clock_, p.durationMs, pacing_, [&] {
      return (abort_ && abort_(abortKey)) || env.StopRequested() || env.ShuttingDown();
    });
    clock.Start(routine->ClockSteps());
    EffectFrame& frame = working->Frame();
    const int steps = routine->Steps();
    for (int i = 0; i < steps; ++i) {
      Rect changed;
      {
        std::lock_guard lock(c.Lock());
        frame.mask.swap(mask.bits);
        changed = routine->Step(i, frame);
        frame.mask.swap(mask.bits);
      }
      if (frame.parts.empty())
        c.Update(changed.Offset(area.left, area.top));
      else
        for (const Rect& part : frame.parts) c.Update(part.Offset(area.left, area.top));
      lastSteps_ = i + 1;
      sprite.effectSteps = i + 1;
      if (observer_) observer_(i, steps);
      if (!clock.Wait()) {
        lastInterrupted_ = true;
        sprite.effectInterrupted = true;
        break;
      }
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

}  // namespace kv
