#include "stage/compositor.h"

#include <cstdint>

#include <algorithm>
#include <exception>
#include <mutex>

#include "platform/log.h"
#include "stage/locks.h"
#include "stage/pixel_loops.h"
#include "stage/png.h"

namespace kv {

std::mutex& PictureLock() {
  static std::mutex lock;
  return lock;
}

void StageEnvironment::ReportInternalError(const std::string& what) { Log("Internal error: %s", what.c_str()); }

namespace {

StageEnvironment& DefaultEnvironment() {
  static StageEnvironment env;
  return env;
}

int SortKey(const StageSprite& s) { return s.kind == kWindowSprite ? s.layer : s.layer + 255; }

bool Hidden(const StageSprite& s) { return s.displayState == kStateHidden || s.displayState == kStateDeferred; }

// States in which a sprite in front may hide the ones behind it.
bool MayCover(const StageSprite& s) {
  switch (s.displayState) {
    case kStateShown:
    case kStateDisabled:
    case kStatePlaceholder:
      return true;
    default:
      return false;
  }
}

// Whether a sprite in front hides everything of its displayed rectangle: a
// mask or a raster operation lets what lies beneath through.
bool Hides(const StageSprite& f) {
  if (!MayCover(f) || f.reveal) return false;
  if (f.kind == kDrawnSprite && f.pending.rop != ShowParams::kSrcCopy && IsRasterOp(f.pending.rop)) return false;
  return f.IsOpaque();
}

// A sprite whose drawing is a plain copy of its picture, so drawing it in
// pieces costs no more than at once.
bool DrawsInPieces(const StageSprite& s) {
  return s.kind == kDrawnSprite && !s.selfDrawn && !s.reveal && s.displayState != kStatePlaceholder &&
         (s.pending.rop == ShowParams::kSrcCopy || !IsRasterOp(s.pending.rop)) && s.HasPicture();
}

// The pieces of `pieces` outside `hole`, replacing them; false when more
// than `limit` would result.
template <size_t N>
bool Subtract(std::array<Rect, N>& pieces, int& count, const Rect& hole, int limit) {
  std::array<Rect, N> out;
  int n = 0;
  for (int i = 0; i < count; ++i) {
    const Rect& a = pieces[size_t(i)];
    const Rect in = a.Intersect(hole);
    if (in.IsEmpty()) {
      if (n >= limit) return false;
      out[size_t(n++)] = a;
      continue;
    }
    const Rect parts[4] = {{a.left, a.top, a.right, in.top},
                           {a.left, in.bottom, a.right, a.bottom},
                           {a.left, in.top, in.left, in.bottom},
                           {in.right, in.top, a.right, in.bottom}};
    for (const Rect& p : parts) {
      if (p.IsEmpty()) continue;
      if (n >= limit) return false;
      out[size_t(n++)] = p;
    }
  }
  pieces = out;
  count = n;
  return true;
}

// Marks the calling thread as the one composing, for the re-entry check.
struct PaintingScope {
  std::thread::id& id;
  explicit PaintingScope(std::thread::id& slot) : id(slot) { id = std::this_thread::get_id(); }
  ~PaintingScope() { id = std::thread::id(); }
};

}  // namespace

Compositor& StageCompositor() {
  static Compositor stage(CompositorRole::kStage);
  return stage;
}

void BufferPresenter::Present(const PixelBuffer& frame, const Rect& rect) { CopyRect(target_, frame, rect); }

Compositor::Compositor(CompositorRole role) : role_(role), env_(&DefaultEnvironment()) {
  background_.layer = kBackgroundLayer;
}

Compositor::~Compositor() {
  std::lock_guard lock(lock_);
  Release();
  ForEachRegisteredSprite([this](StageSprite& s) {
    if (s.compositor == this) s.compositor = nullptr, s.onStage = 0;
  });
}

void Compositor::SetEnvironment(StageEnvironment* env) { env_ = env ? env : &DefaultEnvironment(); }

int Compositor::Initialise(const Rect& area, ColorRef backColor, PixelFormat format, Presenter* presenter) {
  std::lock_guard lock(lock_);
  Release();
  if (area.IsEmpty()) return kErrNoOffscreen;
  PixelBuffer offscreen = PixelBuffer::HalfPageOffset(area.Width(), area.Height(), format);
  if (offscreen.IsNull()) return kErrNoPicture;
  offscreen_ = std::move(offscreen);
  width_ = area.Width();
  height_ = area.Height();
  backColor_ = backColor;
  presenter_ = presenter;
  area_ = area;
  viewport_ = area;
  background_.format = format;
  RepaintBackground(false);
  return 0;
}

int Compositor::InitialiseOver(PixelBuffer& target, const Rect& viewport, ColorRef backColor) {
  std::lock_guard lock(lock_);
  auto presenter = std::make_unique<BufferPresenter>(target);
  const int result = Initialise(target.Bounds(), backColor, target.Format(), presenter.get());
  if (result != 0) return result;
  ownedPresenter_ = std::move(presenter);
  viewport_ = viewport.Intersect(target.Bounds());
  return 0;
}

void Compositor::Release() {
  std::lock_guard lock(lock_);
  Clear();
  background_.Clear();
  offscreen_ = PixelBuffer();
  presenter_ = nullptr;
  ownedPresenter_.reset();
  std::lock_guard dirty(dirtyLock_);
  lastDirty_ = -1;
}

// ---------------------------------------------------------------- raster operations

bool IsRasterOp(uint32_t rop) {
  switch (rop) {
    case 0x00CC0020: case 0x008800C6: case 0x00EE0086: case 0x00660046:
    case 0x00330008: case 0x00BB0226: case 0x001100A6: case 0x00440328:
      return true;
    default:
      return false;
  }
}

uint32_t ApplyRasterOp(uint32_t rop, uint32_t s, uint32_t d) {
  switch (rop) {
    case 0x008800C6: return s & d;        // SRCAND
    case 0x00EE0086: return s | d;        // SRCPAINT
    case 0x00660046: return s ^ d;        // SRCINVERT
    case 0x00330008: return ~s;           // NOTSRCCOPY
    case 0x00BB0226: return ~s | d;       // MERGEPAINT
    case 0x001100A6: return ~(s | d);     // NOTSRCERASE
    case 0x00440328: return s & ~d;       // SRCERASE
    default: return s;                    // SRCCOPY and anything unknown
  }
}

// ---------------------------------------------------------------- the list

void Compositor::Insert(StageSprite& sprite) {
  // Back to front; the background stays at the back whatever the layers.
  if (&sprite == &background_) {
    sprites_.insert(sprites_.begin(), &sprite);
    ++listVersion_;
    return;
  }
  const int key = SortKey(sprite);
  size_t at = 0;
  for (size_t i = sprites_.size(); i-- > 0;) {
    if (sprites_[i] == &background_ || SortKey(*sprites_[i]) >= key) {
      at = i + 1;
      break;
    }
  }
  sprites_.insert(sprites_.begin() + ptrdiff_t(at), &sprite);
  ++listVersion_;
  if (sprite.kind == kWindowSprite) ++windowSprites_;
}

bool Compositor::Unlist(StageSprite& sprite) {
  auto it = std::find(sprites_.begin(), sprites_.end(), &sprite);
  if (it == sprites_.end()) return false;
  sprites_.erase(it);
  ++listVersion_;
  if (sprite.kind == kWindowSprite) --windowSprites_;
  sprite.onStage = 0;
  return true;
}

bool Compositor::Contains(const StageSprite& sprite) const {
  std::lock_guard lock(lock_);
  return std::find(sprites_.begin(), sprites_.end(), &sprite) != sprites_.end();
}

void Compositor::Add(StageSprite& sprite, bool redraw) {
  std::lock_guard lock(lock_);
  if (redraw) {
    // Without a palette display the translation is always the identity.
    for (int i = 0; i < 256; ++i) sprite.colorMap[i] = uint8_t(i);
    sprite.remapActive = 0;
    sprite.remapPending = 0;
  }
  sprite.marks = 0;
  if (!Contains(sprite)) Insert(sprite);
  sprite.compositor = this;
  sprite.onStage = 1;
  sprite.motion.stopMotion = false;
  if (sprite.kind == kWindowSprite && sprite.window) {
    sprite.window->AttachToStage();
    if (sprite.displayState != kStateDeferred) {
      sprite.window->SetVisible(true);
      RestackWindows();
    }
  }
}

void Compositor::Remove(StageSprite& sprite, bool redraw) {
  std::lock_guard lock(lock_);
  const bool listed = Unlist(sprite);
  sprite.motion.stopMotion = true;
  if (sprite.kind == kWindowSprite) {
    if (sprite.window) sprite.window->SetVisible(false);
  } else if (redraw && listed) {
    Update(sprite.DisplayedRect());
  }
}

void Compositor::Replace(StageSprite& sprite, StageSprite& other) {
  std::lock_guard lock(lock_);
  auto it = std::find(sprites_.begin(), sprites_.end(), &sprite);
  if (it == sprites_.end()) return;
  *it = &other;
  ++listVersion_;
  windowSprites_ += (other.kind == kWindowSprite) - (sprite.kind == kWindowSprite);
  sprite.onStage = 0;
  other.onStage = 1;
  other.compositor = this;
  if (sprite.kind == kWindowSprite && sprite.window) sprite.window->SetVisible(false);
  if (other.kind == kWindowSprite && other.window) {
    other.window->AttachToStage();
    other.window->SetVisible(true);
  }
}

void Compositor::Clear() {
  std::lock_guard lock(lock_);
  const bool hadBackground = Contains(background_);
  for (StageSprite* s : sprites_) {
    if (s == &background_) continue;
    if (s->kind == kWindowSprite && s->window) s->window->SetVisible(false);
    s->onStage = 0;
  }
  sprites_.clear();
  ++listVersion_;
  windowSprites_ = 0;
  // The background is no object: clearing the stage leaves it (and what
  // was stamped into it) in place, or nothing would paint the stage again.
  if (hadBackground) Insert(background_);
}

void Compositor::Resort(StageSprite& sprite) {
  std::lock_guard lock(lock_);
  if (!Unlist(sprite)) return;
  Insert(sprite);
  sprite.onStage = 1;
}

void Compositor::RestackWindows() {
  std::lock_guard lock(lock_);
  ChildWindow* above = nullptr;
  for (size_t i = sprites_.size(); i-- > 0;) {
    StageSprite& s = *sprites_[i];
    if (s.kind != kWindowSprite || !s.window || Hidden(s)) continue;
    s.window->StackBehind(above);
    s.window->SetVisible(true);
    s.window->Move(s.DisplayedRect());
    s.window->Repaint();
    above = s.window;
  }
}

std::vector<StageSprite*> Compositor::Sprites() const {
  std::lock_guard lock(lock_);
  return sprites_;
}

int Compositor::WindowSpriteCount() const {
  std::lock_guard lock(lock_);
  return windowSprites_;
}

bool Compositor::Suspended() const {
  std::lock_guard lock(lock_);
  return suspended_;
}

int32_t Compositor::NextArrival() {
  std::lock_guard lock(lock_);
  deferredSinceReveal_ = true;
  return arrivals_++;
}

StageSprite* Compositor::FindMarked(uint8_t mark) {
  std::lock_guard lock(lock_);
  for (size_t i = sprites_.size(); i-- > 0;)
    if (sprites_[i]->marks & mark) return sprites_[i];
  return nullptr;
}

StageSprite* Compositor::HitTest(int x, int y) {
  std::lock_guard lock(lock_);
  for (size_t i = sprites_.size(); i-- > 0;)
    if (sprites_[i]->HitTest(x, y)) return sprites_[i];
  return nullptr;
}

// ---------------------------------------------------------------- updating

Rect Compositor::ClientRect() const {
  const Rect r = env_->ClientRect();
  return r.IsEmpty() ? Rect{0, 0, width_, height_} : r;
}

void Compositor::Update(const Rect& rect) {
  // The stage lock comes first, so an update from another thread waits for
  // the one in progress instead of being dropped.
  std::lock_guard lock(lock_);
  if (offscreen_.IsNull()) return;
  if (env_->StopRequested()) {
    MarkDirty(rect, true);  // kept for the next flush, not lost
    return;
  }
  if (role_ == CompositorRole::kStage && env_->PlayerRunning() &&
      (env_->QuitRequested() || !rect.Overlaps(ClientRect())))
    return;
  Rect paint = rect.Intersect({0, 0, width_, height_});
  if (paint.IsEmpty() || suspended_) return;
  if (paintingThread_ == std::this_thread::get_id()) {
    MarkDirty(paint, true);  // a sprite's drawing asked again: kept for the next flush
    return;
  }
  if (role_ != CompositorRole::kStage) {
    paint = paint.Intersect(viewport_);
    if (paint.IsEmpty()) return;
  }
  PaintingScope painting(paintingThread_);
  ComposeRect(paint);
  if (pageFlip_)
    MarkDirty(paint, true);
  else if (presenter_)
    presenter_->Present(offscreen_, paint);
}

void Compositor::ComposeRect(const Rect& paint) {
  // Child windows paint themselves; they only need to be in place.
  if (windowSprites_ > 0) {
    bool moved = false;
    for (StageSprite* s : sprites_)
      if (s->kind == kWindowSprite && !Hidden(*s) && s->DisplayedRect().Overlaps(paint)) moved |= s->PlaceWindow();
    if (moved)
      for (StageSprite* s : sprites_)
        if (s->kind == kWindowSprite && s->window && !Hidden(*s) && s->DisplayedRect().Overlaps(paint))
          s->window->Repaint();
  }

  // The scratch lists leave their members while in use, so a nested
  // composition (a sprite's drawing asking for a snapshot) gets its own.
  std::vector<uint32_t> hits = std::move(hits_);
  SpriteIndex single = std::move(updateIndex_);
  if (flushIndexVersion_ == listVersion_ + 1 && InFlush(paint)) {
    flushIndex_.Query(paint, hits);
    Compose(paint, flushIndex_, hits);
  } else {
    IndexSprites(single, &paint, 1, false);
    hits.resize(size_t(single.Size()));
    for (uint32_t i = 0; i < hits.size(); ++i) hits[i] = i;
    Compose(paint, single, hits);
  }
  hits_ = std::move(hits);
  updateIndex_ = std::move(single);
}

namespace {
constexpr size_t kPrefetchAhead = 8;
}

bool Compositor::InFlush(const Rect& paint) const {
  for (int i = 0; i < flushCount_; ++i)
    if (flushRects_[size_t(i)].Contains(paint)) return true;
  return false;
}

void Compositor::IndexSprites(SpriteIndex& index, const Rect* within, int count, bool bucket) const {
  index.Reset(width_, height_);
  // Sprites that meet none of the rectangles can neither draw nor cover in
  // them: leaving them out keeps the index as small as the change, however
  // many sprites the stage holds.
  Rect bounds;
  for (int i = 0; i < count; ++i) bounds = bounds.Union(within[i]);
  const size_t n = sprites_.size();
  for (size_t k = 0; k < n; ++k) {
    // The list is walked for its sprites' first cache line alone: asking for
    // the lines ahead keeps several misses in flight instead of one.
    if (k + kPrefetchAhead < n) __builtin_prefetch(sprites_[k + kPrefetchAhead]);
    StageSprite* s = sprites_[k];
    // Hidden sprites neither draw nor cover; window sprites only cover.
    if (Hidden(*s)) continue;
    const Rect r = s->scaling.enabled ? s->DisplayedRect() : s->rect;
    if (!r.Overlaps(bounds)) continue;
    bool meets = count == 1;
    for (int i = 0; i < count && !meets; ++i) meets = r.Overlaps(within[i]);
    if (meets) index.Add(s, r, s->kind != kWindowSprite || s->displayState == kStatePlaceholder);
  }
  if (bucket) index.Finish();
}

// Draws the candidates back to front. Until the first sprite is drawn, a
// sprite whose part lies inside an opaque one in front of it is skipped.
void Compositor::Compose(const Rect& paint, const SpriteIndex& index, const std::vector<uint32_t>& hits) {
  DrawTarget target{offscreen_, {0, 0}};
  bool testCovering = role_ == CompositorRole::kStage;
  const size_t n = hits.size();
  for (size_t i = 0; i < n; ++i) {
    const SpriteIndex::Entry& e = index[hits[i]];
    if (!e.drawn) continue;
    const Rect part = e.rect.Intersect(paint);
    if (part.IsEmpty()) continue;
    if (testCovering) {
      bool covered = false;
      for (size_t j = i + 1; j < n && !covered; ++j) {
        const SpriteIndex::Entry& f = index[hits[j]];
        covered = f.rect.Contains(part) && Hides(*f.sprite);
      }
      if (covered) continue;
      testCovering = false;
      // The back-most drawn sprite (the background, mostly) is drawn only
      // where no opaque sprite in front hides it: the rest is overdrawn anyway.
      if (DrawsInPieces(*e.sprite)) {
        DrawUncovered(*e.sprite, target, part, index, hits, i + 1);
        e.sprite->changed = 0;
        continue;
      }
    }
    DrawSprite(*e.sprite, target, part);
    e.sprite->changed = 0;
  }
}

void Compositor::DrawUncovered(StageSprite& s, DrawTarget& target, const Rect& part, const SpriteIndex& index,
                               const std::vector<uint32_t>& hits, size_t front) {
  constexpr int kMaxPieces = 16;
  std::array<Rect, 4 * kMaxPieces> pieces;
  pieces[0] = part;
  int count = 1;
  for (size_t j = front; j < hits.size() && count > 0; ++j) {
    const SpriteIndex::Entry& f = index[hits[j]];
    if (!f.rect.Overlaps(part) || !Hides(*f.sprite)) continue;
    if (!Subtract(pieces, count, f.rect, kMaxPieces)) {
      // Too fragmented to pay: drawn whole, as the sprites in front overdraw it.
      pieces[0] = part;
      count = 1;
      break;
    }
  }
  for (int k = 0; k < count; ++k) DrawSprite(s, target, pieces[size_t(k)]);
}

void Compositor::DrawSprite(StageSprite& s, DrawTarget& target, const Rect& part) {
  try {
    if (&s == &background_ && backgroundPlain_ && DrawsInPieces(s) && s.rect == Rect{0, 0, width_, height_} &&
        target.buffer.Format() == s.Picture().Format())
      target.buffer.Fill(part.Offset(-target.origin.x, -target.origin.y), backColor_);
    else if (s.displayState == kStatePlaceholder)
      target.buffer.Fill(part.Offset(-target.origin.x, -target.origin.y), kPlaceholderColor);
    else if (s.reveal)
      DrawRevealed(s, target, part);
    else if (s.pending.rop != ShowParams::kSrcCopy && s.kind == kDrawnSprite && IsRasterOp(s.pending.rop))
      DrawWithRasterOp(s, target, part);
    else
      s.Draw(target, part);
  } catch (const std::exception& e) {
    env_->ReportInternalError(std::string("drawing a sprite: ") + e.what());
  }
}

void Compositor::DrawWithRasterOp(StageSprite& s, DrawTarget& target, const Rect& part) {
  // The sprite draws twice, over the stage and over its inverse: where both
  // copies agree the sprite painted (a keyed pixel shows what lay beneath),
  // and only those pixels combine with the stage by the operation.
  const PixelFormat format = target.buffer.Format();
  const int w = part.Width(), h = part.Height();
  PixelBuffer over(w, h, format), inverse(w, h, format);
  const int bpp = target.buffer.BytesPerPixel();
  uint8_t* under = target.buffer.At(part.left - target.origin.x, part.top - target.origin.y);
  loops::CopyRows(over.Data(), over.Stride(), under, target.buffer.Stride(), w * bpp, h);
  loops::CopyRows(inverse.Data(), inverse.Stride(), under, target.buffer.Stride(), w * bpp, h);
  const uint32_t colourBits = format == PixelFormat::kXrgb32 ? 0x00FFFFFFu : 0xFFFFu;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (bpp == 4) {
        auto* p = reinterpret_cast<uint32_t*>(inverse.At(x, y));
        *p ^= colourBits;
      } else {
        auto* p = reinterpret_cast<uint16_t*>(inverse.At(x, y));
        *p = uint16_t(*p ^ colourBits);
      }
    }
  DrawTarget a{over, {part.left, part.top}}, b{inverse, {part.left, part.top}};
  s.Draw(a, part);
  s.Draw(b, part);
  const uint32_t rop = s.pending.rop;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = under + y * target.buffer.Stride();
    for (int x = 0; x < w; ++x) {
      uint32_t sa, sb, d;
      if (bpp == 4) {
        sa = *reinterpret_cast<const uint32_t*>(over.At(x, y));
        sb = *reinterpret_cast<const uint32_t*>(inverse.At(x, y));
        d = reinterpret_cast<uint32_t*>(row)[x];
      } else {
        sa = *reinterpret_cast<const uint16_t*>(over.At(x, y));
        sb = *reinterpret_cast<const uint16_t*>(inverse.At(x, y));
        d = reinterpret_cast<uint16_t*>(row)[x];
      }
      if ((sa & colourBits) != (sb & colourBits)) continue;  // not painted by the sprite
      const uint32_t out = ApplyRasterOp(rop, sa, d) & colourBits;
      if (bpp == 4)
        reinterpret_cast<uint32_t*>(row)[x] = 0xFF000000u | out;
      else
        reinterpret_cast<uint16_t*>(row)[x] = uint16_t(out);
    }
  }
}

void Compositor::DrawRevealed(StageSprite& s, DrawTarget& target, const Rect& part) {
  const RevealMask& mask = *s.reveal;
  const Rect r = part.Intersect(mask.area);
  if (r.IsEmpty()) return;
  // The sprite draws over a copy of what lies beneath, and the mask picks
  // from that copy, so keyed and self-drawn sprites keep their own rules.
  // The copy is sized for the whole mask at once: growing it with each
  // step's rectangle cost a fresh buffer (page faults and clearing) per step.
  PixelBuffer& scratch = revealScratch_;
  if (scratch.IsNull() || scratch.Format() != target.buffer.Format() || scratch.Width() < r.Width() ||
      scratch.Height() < r.Height())
    scratch = PixelBuffer(std::max(mask.area.Width(), scratch.Width()), std::max(mask.area.Height(), scratch.Height()),
                          target.buffer.Format());
  const int bpp = target.buffer.BytesPerPixel();
  uint8_t* under = target.buffer.At(r.left - target.origin.x, r.top - target.origin.y);
  loops::CopyRows(scratch.Data(), scratch.Stride(), under, target.buffer.Stride(), r.Width() * bpp, r.Height());
  DrawTarget drawn{scratch, {r.left, r.top}};
  s.Draw(drawn, r);
  const uint8_t* m = mask.At(r.left, r.top);
  if (bpp == 4)
    loops::MaskedCopy32(under, target.buffer.Stride(), scratch.Data(), scratch.Stride(), m, mask.Stride(), r.Width(),
                        r.Height(), mask.on);
  else
    loops::MaskedCopy16(under, target.buffer.Stride(), scratch.Data(), scratch.Stride(), m, mask.Stride(), r.Width(),
                        r.Height(), mask.on);
}

PixelBuffer Compositor::StageBeneath(const StageSprite& sprite, const Rect& r) {
  std::lock_guard lock(lock_);
  const Rect area = r.Intersect({0, 0, width_, height_});
  PixelBuffer out(std::max(area.Width(), 1), std::max(area.Height(), 1), offscreen_.Format());
  if (area.IsEmpty() || offscreen_.IsNull()) return out;
  DrawTarget target{out, {area.left, area.top}};
  const auto end = std::find(sprites_.begin(), sprites_.end(), &sprite);
  for (auto it = sprites_.begin(); it != end; ++it) {
    StageSprite& s = **it;
    if (Hidden(s) || (s.kind == kWindowSprite && s.displayState != kStatePlaceholder)) continue;
    const Rect part = s.DisplayedRect().Intersect(area);
    if (!part.IsEmpty()) DrawSprite(s, target, part);
  }
  return out;
}

// ---------------------------------------------------------------- dirty list

void Compositor::MarkDirty(const Rect& rect, bool merge) {
  std::lock_guard lock(dirtyLock_);
  MarkDirtyLocked(rect, merge);
}

void Compositor::MarkDirtyLocked(const Rect& rect, bool merge) {
  if (rect.IsEmpty()) return;
  if (lastDirty_ < 0) {
    dirty_[0] = rect;
    lastDirty_ = 0;
    return;
  }
  if (merge) {
    for (int i = 0; i <= lastDirty_; ++i) {
      if (dirty_[i].Touches(rect)) {
        dirty_[i] = dirty_[i].Union(rect);
        return;
      }
    }
  }
  if (lastDirty_ + 1 >= kMaxDirty) {
    // The list is full: the rectangle joins the entry it grows least, so
    // scattered changes do not become one stage-wide recomposition. When
    // that would recompose more than both apart, joining entries that
    // overlap (a moved sprite's old and new places) may free one first.
    for (int pass = 0;; ++pass) {
      int best = lastDirty_;
      int64_t bestGrowth = INT64_MAX;
      for (int i = 0; i <= lastDirty_; ++i) {
        const Rect u = dirty_[i].Union(rect);
        const int64_t growth = u.Width64() * u.Height64() - dirty_[i].Width64() * dirty_[i].Height64();
        if (growth < bestGrowth) best = i, bestGrowth = growth;
      }
      if (pass == 1 || bestGrowth <= rect.Width64() * rect.Height64() || !CompactDirty()) {
        dirty_[best] = dirty_[best].Union(rect);
        return;
      }
      if (lastDirty_ + 1 < kMaxDirty) break;
    }
  }
  dirty_[++lastDirty_] = rect;
}

// Joins the entries whose union is no larger than the two apart (a moved
// sprite's old and new places), keeping the order of the first of each pair:
// recomposing the union costs no more than recomposing both, and the freed
// entries spare a distant rectangle from joining a far one.
bool Compositor::CompactDirty() {
  const int before = lastDirty_;
  auto area = [](const Rect& r) { return r.Width64() * r.Height64(); };
  for (int i = 0; i <= lastDirty_; ++i)
    for (int j = i + 1; j <= lastDirty_;) {
      const Rect u = dirty_[i].Union(dirty_[j]);
      if (area(u) > area(dirty_[i]) + area(dirty_[j])) {
        ++j;
        continue;
      }
      dirty_[i] = u;
      std::copy(dirty_.begin() + j + 1, dirty_.begin() + lastDirty_ + 1, dirty_.begin() + j);
      --lastDirty_;
      j = i + 1;  // the grown entry may now absorb one it passed
    }
  return lastDirty_ < before;
}

std::vector<Rect> Compositor::DirtyRects() const {
  std::lock_guard lock(dirtyLock_);
  return std::vector<Rect>(dirty_.begin(), dirty_.begin() + (lastDirty_ + 1));
}

void Compositor::Flush(bool collectChanged) {
  std::lock_guard lock(lock_);
  std::array<Rect, kMaxDirty> work;
  int count;
  {
    std::lock_guard dirty(dirtyLock_);
    if (collectChanged) {
      for (StageSprite* s : sprites_) {
        if (!s->changed) continue;
        MarkDirtyLocked(s->DisplayedRect(), true);
        s->changed = 0;
      }
    }
    for (int i = lastDirty_; i >= 1; --i) {
      if (!dirty_[i].Overlaps(dirty_[i - 1])) continue;
      dirty_[i - 1] = dirty_[i - 1].Union(dirty_[i]);
      std::copy(dirty_.begin() + i + 1, dirty_.begin() + lastDirty_ + 1, dirty_.begin() + i);
      --lastDirty_;
    }
    count = lastDirty_ + 1;
    std::copy(dirty_.begin(), dirty_.begin() + count, work.begin());
    lastDirty_ = -1;
  }
  // A flush asked for by a sprite's drawing only marks its rectangles dirty again.
  if (count == 0 || paintingThread_ == std::this_thread::get_id()) {
    for (int i = count; i-- > 0;) Update(work[i]);
    return;
  }
  // One index serves every rectangle of the flush; a change of the list
  // while it runs (a sprite's drawing adding another) invalidates it.
  IndexSprites(flushIndex_, work.data(), count, true);
  flushRects_ = work;
  flushCount_ = count;
  flushIndexVersion_ = listVersion_ + 1;
  struct Expire {
    uint64_t& version;
    ~Expire() { version = 0; }
  } expire{flushIndexVersion_};
  for (int i = count; i-- > 0;) Update(work[i]);
}

void Compositor::SetPageFlipCollecting(bool on) {
  std::lock_guard lock(lock_);
  pageFlip_ = on;
}

bool Compositor::PageFlipCollecting() const {
  std::lock_guard lock(lock_);
  return pageFlip_;
}

void Compositor::FlipFlush(bool wholeFrame) {
  std::lock_guard lock(lock_);
  std::array<Rect, kMaxDirty> work;
  int count;
  {
    std::lock_guard dirty(dirtyLock_);
    if (lastDirty_ < 0) return;
    if (!wholeFrame) {
      // Only the tail is merged: the first pair that does not touch ends it.
      while (lastDirty_ > 0 && dirty_[lastDirty_].Touches(dirty_[lastDirty_ - 1])) {
        dirty_[lastDirty_ - 1] = dirty_[lastDirty_ - 1].Union(dirty_[lastDirty_]);
        --lastDirty_;
      }
    }
    count = lastDirty_ + 1;
    std::copy(dirty_.begin(), dirty_.begin() + count, work.begin());
    lastDirty_ = -1;
  }
  if (!presenter_) return;
  if (wholeFrame) {
    presenter_->PresentFrame(offscreen_);
    return;
  }
  for (int i = 0; i < count; ++i) presenter_->Present(offscreen_, work[i]);
}

// ---------------------------------------------------------------- background

void Compositor::RepaintBackground(bool invalidate) {
  std::lock_guard lock(lock_);
  if (offscreen_.IsNull()) return;
  const Rect whole{0, 0, width_, height_};
  if (background_.Picture().IsNull() || background_.rect != whole) {
    background_.format = offscreen_.Format();
    background_.CreateSurface(whole, kBackgroundLayer);
  }
  // A fill one pixel past the right and bottom edges would lie outside the
  // surface, so filling the surface covers the whole background.
  background_.Fill(backColor_);
  backgroundPlain_ = true;
  background_.compositor = this;
  if (!Contains(background_)) Insert(background_);
  background_.onStage = 1;
  if (invalidate) {
    // Reset before redrawing, so that a page-flip collection keeps the redraw.
    {
      std::lock_guard dirty(dirtyLock_);
      lastDirty_ = -1;
    }
    Update(whole);
  }
}

bool Compositor::SetPalette(const std::array<ColorRef, 256>*) { return false; }

void Compositor::Stamp(StageSprite& sprite) {
  std::lock_guard lock(lock_);
  if (offscreen_.IsNull()) return;
  const bool listed = Unlist(sprite);
  if (background_.Picture().IsNull()) RepaintBackground(false);
  backgroundPlain_ = false;
  DrawTarget target{background_.MutablePicture(), {background_.rect.left, background_.rect.top}};
  const Rect d = sprite.DisplayedRect();
  try {
    if (sprite.kind == kWindowSprite) {
      if (sprite.window) sprite.window->RenderInto(target.buffer, target.origin);
    } else {
      sprite.Draw(target, d);
    }
  } catch (const std::exception& e) {
    env_->ReportInternalError(std::string("stamping a sprite: ") + e.what());
  }
  background_.PictureChanged();
  if (!listed || sprite.layer < kStampLayer) Update(d);
}

void Compositor::SuspendDrawing(bool suspend) {
  std::lock_guard lock(lock_);
  suspended_ = suspend;
  if (!suspend && presenter_) presenter_->Invalidate(background_.rect);
}

// ---------------------------------------------------------------- deferred sprites

void Compositor::RevealDeferred() {
  std::vector<StageSprite*> remaining;
  {
    std::lock_guard lock(lock_);
    if (!deferredSinceReveal_) {
      Flush(false);
      return;
    }
    deferredSinceReveal_ = false;
    try {
      const std::vector<StageSprite*> listed = sprites_;
      for (StageSprite* s : listed) {
        if (s->kind != kDrawnSprite || s->displayState != kStateDeferred || s->pending.effect != 0) continue;
        s->displayState = kStateShown;
        if (!s->pendingPath) s->arrival = -1;
        // A deferred sprite was never drawn, so a stamped one needs its area
        // redrawn too, or it would stay invisible until something else moves.
        if (s->layer == kStampLayer) Stamp(*s);
        MarkDirty(s->DisplayedRect(), false);
      }
      Flush(false);
      for (StageSprite* s : listed) {
        if (s->kind != kWindowSprite || s->displayState != kStateDeferred || s->pending.effect != 0) continue;
        if (s->window) s->window->SetVisible(true);
        if (s->layer == kStampLayer) Stamp(*s);
        s->displayState = kStateShown;
      }
      for (StageSprite* s : listed)
        if (s->arrival >= 0 && (s->displayState == kStateDeferred || s->pendingPath)) remaining.push_back(s);
    } catch (const std::exception& e) {
      env_->ReportInternalError(std::string("revealing deferred objects: ") + e.what());
      return;
    }
  }
  std::stable_sort(remaining.begin(), remaining.end(),
                   [](const StageSprite* a, const StageSprite* b) { return a->arrival < b->arrival; });
  // Effects and paths pace themselves with waits, so they run outside the lock.
  auto setState = [this](StageSprite& s, uint8_t state) {
    std::lock_guard lock(lock_);
    s.displayState = state;
  };
  for (StageSprite* s : remaining) {
    try {
      if (s->kind == kWindowSprite) {
        if (s->window) s->window->SetVisible(true);
        setState(*s, kStateShown);
      } else if (s->displayState == kStateDeferred && s->pending.effect != 0) {
        if (!effects_) throw std::runtime_error("stage: the transition effect engine is not installed in this build");
        Remove(*s, false);
        setState(*s, kStateAppearing);
        const uint16_t effect = s->pending.effect;
        env_->RevealEffect(*s, effect, "start", 0);
        effects_->RunShow(*s, s->pending);
        env_->RevealEffect(*s, effect, s->effectInterrupted ? "abort" : "end", s->effectSteps);
        setState(*s, kStateShown);
        if (env_->StopRequested()) break;
      } else {
        setState(*s, kStateShown);
      }
      const MotionPath* path = nullptr;
      {
        std::lock_guard lock(lock_);
        std::swap(path, s->pendingPath);
      }
      if (path) s->PlayPath(*path);
      std::lock_guard lock(lock_);
      s->arrival = -1;
    } catch (const std::exception& e) {
      env_->ReportInternalError(std::string("revealing deferred objects: ") + e.what());
    }
  }
}

// ---------------------------------------------------------------- snapshots

PixelBuffer Compositor::Snapshot() {
  std::lock_guard lock(lock_);
  if (offscreen_.IsNull()) return PixelBuffer();
  PaintingScope painting(paintingThread_);
  ComposeRect({0, 0, width_, height_});
  PixelBuffer frame = offscreen_.Clone();
  // Child windows paint over the drawing window, above every drawn sprite,
  // stacked in list order; the frame shows them as the window does.
  for (StageSprite* s : sprites_)
    if (s->kind == kWindowSprite && s->window && !Hidden(*s) && s->displayState != kStatePlaceholder) try {
        s->window->RenderInto(frame, {0, 0});
      } catch (const std::exception& e) {
        env_->ReportInternalError(std::string("drawing a child window: ") + e.what());
      }
  return frame;
}

bool Compositor::WriteSnapshot(const std::string& pngPath, std::string* error) {
  const PixelBuffer frame = Snapshot();
  if (frame.IsNull()) {
    if (error) *error = "the compositor has no picture";
    return false;
  }
  return WritePng(frame, pngPath, error);
}

}  // namespace kv
