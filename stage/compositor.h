// The compositor: owns the ordered sprite list of a drawing area, recomposes
// the rectangles that changed into its off-screen picture, back to front, and
// hands them to its presenter. One process-wide instance serves the stage;
// others render over any target buffer (printing, effect snapshots).
#pragma once

#include <array>
#include <mutex>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "platform/geometry.h"
#include "stage/hooks.h"
#include "stage/pixel_buffer.h"
#include "stage/sprite.h"
#include "stage/sprite_index.h"

namespace kv {

enum class CompositorRole : uint8_t { kStage, kPicture };

class Compositor {
 public:
  static constexpr int kMaxDirty = 20;
  static constexpr ColorRef kPlaceholderColor{0x00C0C0C0};  // the light-grey stock brush

  explicit Compositor(CompositorRole role = CompositorRole::kPicture);
  ~Compositor();
  Compositor(const Compositor&) = delete;
  Compositor& operator=(const Compositor&) = delete;

  // The stage form: composes `area` in `format`, presenting through
  // `presenter` (may be null). 0, kErrNoOffscreen or kErrNoPicture.
  int Initialise(const Rect& area, ColorRef backColor, PixelFormat format, Presenter* presenter);
  // A compositor over `target` (borrowed): composes in the target's format and
  // copies changed rectangles into it, limited to `viewport`.
  int InitialiseOver(PixelBuffer& target, const Rect& viewport, ColorRef backColor = ColorRef(0x00FFFFFF));
  void Release();
  // The format the compositor composes in (the stage's display depth).
  PixelFormat Format() const { return background_.format; }
  // The stage lock: guards this compositor's sprite list, its sprites' list
  // state and every update. Recursive; one per stage, so stages in one
  // process never wait for each other.
  std::recursive_mutex& Lock() const { return lock_; }

  void Add(StageSprite& sprite, bool redraw);
  void Remove(StageSprite& sprite, bool redraw);
  void Replace(StageSprite& sprite, StageSprite& other);
  void Clear();
  void Update(const Rect& rect);
  void MarkDirty(const Rect& rect, bool merge);
  void Flush(bool collectChanged);
  void RepaintBackground(bool invalidate);
  // Palette displays are not emulated: there is never an off-screen colour table.
  bool SetPalette(const std::array<ColorRef, 256>* palette);
  void Stamp(StageSprite& sprite);
  void RevealDeferred();
  StageSprite* HitTest(int x, int y);
  bool Contains(const StageSprite& sprite) const;
  int32_t NextArrival();
  void SuspendDrawing(bool suspend);
  StageSprite* FindMarked(uint8_t mark);
  // Restacks the child windows of the listed window sprites in list order.
  void RestackWindows();
  // Re-inserts a listed sprite by its current layer.
  void Resort(StageSprite& sprite);

  // Page-flip collection: while on, Update only adds its rectangle to the
  // dirty list, and the page-flip thread presents with FlipFlush.
  void SetPageFlipCollecting(bool on);
  bool PageFlipCollecting() const;
  // One presentation step: with `wholeFrame` the frame goes out at once (a
  // back buffer); otherwise merged dirty rectangles go out one by one.
  void FlipFlush(bool wholeFrame);

  // The stage behind `sprite` over `r` (every listed sprite behind it, or all
  // of them when it is not listed), as effects need the image they reveal.
  PixelBuffer StageBeneath(const StageSprite& sprite, const Rect& r);

  // Recomposes the whole area and returns a copy of it / writes it as PNG.
  PixelBuffer Snapshot();
  bool WriteSnapshot(const std::string& pngPath, std::string* error = nullptr);

  void SetEnvironment(StageEnvironment* env);
  StageEnvironment& Environment() const { return *env_; }
  void SetEffectEngine(EffectEngine* engine) { effects_ = engine; }
  EffectEngine* Effects() const { return effects_; }
  void SetPathPlayer(PathPlayer* player) { paths_ = player; }
  PathPlayer* Paths() const { return paths_; }
  void SetPresenter(Presenter* presenter) { presenter_ = presenter; }

  CompositorRole Role() const { return role_; }
  const Rect& Area() const { return area_; }
  const Rect& Viewport() const { return viewport_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  ColorRef BackColor() const { return backColor_; }
  // The background sprite; its picture may be changed through it, so it is
  // no longer known to be one colour.
  StageSprite& Background() {
    backgroundPlain_ = false;
    return background_;
  }
  const PixelBuffer& Offscreen() const { return offscreen_; }
  // Copies taken under the locks.
  std::vector<StageSprite*> Sprites() const;
  std::vector<Rect> DirtyRects() const;
  int WindowSpriteCount() const;
  bool Suspended() const;

 private:
  void Insert(StageSprite& sprite);
  bool Unlist(StageSprite& sprite);
  void ComposeRect(const Rect& paint);
  // Indexes every listed sprite that draws or may cover and meets one of the
  // `count` rectangles at `within`; `bucket` readies it for queries (a
  // single update takes every entry instead).
  void IndexSprites(SpriteIndex& index, const Rect* within, int count, bool bucket) const;
  // Whether `paint` lies inside one of the flush's rectangles, which its index covers.
  bool InFlush(const Rect& paint) const;
  void Compose(const Rect& paint, const SpriteIndex& index, const std::vector<uint32_t>& hits);
  // Draws `part` of `s` less what the sprites from hits[front] on hide.
  void DrawUncovered(StageSprite& s, DrawTarget& target, const Rect& part, const SpriteIndex& index,
                     const std::vector<uint32_t>& hits, size_t front);
  void DrawSprite(StageSprite& s, DrawTarget& target, const Rect& part);
  void DrawRevealed(StageSprite& s, DrawTarget& target, const Rect& part);
  void DrawWithRasterOp(StageSprite& s, DrawTarget& target, const Rect& part);
  void MarkDirtyLocked(const Rect& rect, bool merge);
  bool CompactDirty();  // true when entries were joined
  Rect ClientRect() const;

  mutable std::recursive_mutex lock_;
  // Guards the dirty-rectangle list; taken after the stage lock when both are needed.
  mutable std::mutex dirtyLock_;
  CompositorRole role_;
  Rect area_;
  Rect viewport_;
  int width_ = 0;
  int height_ = 0;
  StageSprite background_;
  // The background's picture is all backColor_ (filled, nothing stamped), so
  // drawing it is a fill: half the memory traffic of a copy.
  bool backgroundPlain_ = false;
  ColorRef backColor_{0x00FFFFFF};
  std::vector<StageSprite*> sprites_;  // back to front
  uint64_t listVersion_ = 0;           // changes whenever sprites_ does
  // The index of the flush in progress, valid while flushIndexVersion_ is
  // listVersion_ + 1, over the sprites that meet the flush's rectangles.
  SpriteIndex flushIndex_;
  uint64_t flushIndexVersion_ = 0;
  std::array<Rect, kMaxDirty> flushRects_{};
  int flushCount_ = 0;
  SpriteIndex updateIndex_;        // a single update's candidates
  std::vector<uint32_t> hits_;     // the candidates of the rectangle being composed
  int windowSprites_ = 0;
  PixelBuffer offscreen_;
  PixelBuffer revealScratch_;  // what a masked sprite drew, before the mask; under the stage lock
  std::array<Rect, kMaxDirty> dirty_{};
  int lastDirty_ = -1;
  std::thread::id paintingThread_;  // the thread inside Update, under the stage lock
  bool suspended_ = false;
  bool pageFlip_ = false;
  int32_t arrivals_ = 0;
  bool deferredSinceReveal_ = false;
  Presenter* presenter_ = nullptr;
  std::unique_ptr<Presenter> ownedPresenter_;
  StageEnvironment* env_;
  EffectEngine* effects_ = nullptr;
  PathPlayer* paths_ = nullptr;

  friend class StageSprite;
};

// The eight raster operations a visible insert draws with (SRCCOPY and the
// seven others); ApplyRasterOp combines a source and a destination pixel.
bool IsRasterOp(uint32_t rop);
uint32_t ApplyRasterOp(uint32_t rop, uint32_t source, uint32_t destination);

// The process-wide stage compositor, created on first use.
Compositor& StageCompositor();

// Copies presented rectangles into a target buffer (the second compositor).
class BufferPresenter : public Presenter {
 public:
  explicit BufferPresenter(PixelBuffer& target) : target_(target) {}
  void Present(const PixelBuffer& frame, const Rect& rect) override;

 private:
  PixelBuffer& target_;
};

}  // namespace kv
