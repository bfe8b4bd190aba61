#include "stage/sprite.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "stage/compositor.h"
#include "stage/locks.h"
#include "stage/stretch_map.h"

namespace kv {

namespace {

std::atomic<int> gSpriteCount{0};

// Guards the registry; taken after a stage lock, never before one.
std::mutex& RegistryLock() {
  static auto* lock = new std::mutex;
  return *lock;
}

// Guarded by RegistryLock().
std::vector<StageSprite*>& Registry() {
  // Never destroyed: sprites owned by documents that live until exit (the
  // current project) leave the registry after static destructors have run.
  static auto* registry = new std::vector<StageSprite*>;
  return *registry;
}

uint8_t ClampChannel(int v) { return uint8_t(std::clamp(v, 0, 255)); }

bool InRanges(const loops::KeyRanges& k, ColorRef c) {
  return c.Red() >= k.redMin && c.Red() <= k.redMax && c.Green() >= k.greenMin && c.Green() <= k.greenMax &&
         c.Blue() >= k.blueMin && c.Blue() <= k.blueMax;
}

loops::KeyRanges RangesAround(ColorRef c, int t) {
  return {ClampChannel(c.Red() - t), ClampChannel(c.Red() + t), ClampChannel(c.Green() - t),
          ClampChannel(c.Green() + t), ClampChannel(c.Blue() - t), ClampChannel(c.Blue() + t)};
}

std::runtime_error Missing(const char* what) {
  return std::runtime_error(std::string("stage: ") + what + " is not installed in this build");
}

}  // namespace

int SpriteCount() { return gSpriteCount.load(); }

void ForEachRegisteredSprite(const std::function<void(StageSprite&)>& fn) {
  // Held throughout: a sprite of another stage may be going away meanwhile.
  std::lock_guard lock(RegistryLock());
  for (StageSprite* s : Registry()) fn(*s);
}

StageSprite::StageSprite(PixelFormat displayFormat) : format(displayFormat) {
  for (int i = 0; i < 256; ++i) colorMap[i] = uint8_t(i);
  std::lock_guard lock(RegistryLock());
  Registry().push_back(this);
  ++gSpriteCount;
}

StageSprite::~StageSprite() {
  // A sprite on no compositor is no one else's; the default compositor may
  // be gone already when documents that live until exit let theirs go.
  std::unique_lock<std::recursive_mutex> lock;
  if (compositor) lock = std::unique_lock(compositor->Lock());
  if (compositor && onStage) {
    const Rect d = DisplayedRect();
    compositor->Remove(*this, false);
    compositor->MarkDirty(d, false);
  }
  if (compositor) compositor->Environment().SpriteGone(*this);
  if (window && savedWndProc) window->ForwardMouseToStage(false);
  std::lock_guard registry(RegistryLock());
  auto& reg = Registry();
  reg.erase(std::remove(reg.begin(), reg.end(), this), reg.end());
  --gSpriteCount;
}

Compositor& StageSprite::Target() { return compositor ? *compositor : StageCompositor(); }

std::recursive_mutex& StageSprite::Lock() { return Target().Lock(); }

// ---------------------------------------------------------------- transparency

void StageSprite::Setup(const Rect& destination, const Rect& source, uint16_t newLayer, bool keyOn, ColorRef key,
                        uint8_t tol, uint16_t abortKey) {
  rect = destination;
  SetSourceRect(source);
  layer = newLayer;
  effectAbortKey = abortKey;
  keyed = keyOn;
  keyColor = key;
  tolerance = tol;
  ComputeKey();
}

void StageSprite::ComputeKey() {
  if (!keyed) {
    keyColor = ColorRef();
    tolerance = 0;
    redMin = redMax = greenMin = greenMax = blueMin = blueMax = 0;
    transparentIndex_.fill(0);
    return;
  }
  // key16 is kept for every display: 16-bit pictures compare against it.
  key16 = ToRgb565(keyColor);
  loops::KeyRanges k;
  if (format == PixelFormat::kRgb565) {
    tolerance = std::max<uint8_t>(tolerance, 8);
    k = RangesAround(FromRgb565(key16), tolerance);
  } else {
    k = RangesAround(keyColor, tolerance);
  }
  redMin = k.redMin, redMax = k.redMax, greenMin = k.greenMin, greenMax = k.greenMax;
  blueMin = k.blueMin, blueMax = k.blueMax;
  if (sourceBits_ == 8) {
    // No palette display: the picture's own table stands in for the system palette.
    int best = 0, bestDistance = 1 << 30;
    for (int i = 0; i < 256; ++i) {
      const ColorRef c = colorTable_[i];
      const int dr = c.Red() - keyColor.Red(), dg = c.Green() - keyColor.Green(), db = c.Blue() - keyColor.Blue();
      const int distance = dr * dr + dg * dg + db * db;
      if (distance < bestDistance) best = i, bestDistance = distance;
    }
    keyIndex = uint8_t(best);
  }
  for (int i = 0; i < 256; ++i)
    transparentIndex_[i] = tolerance == 0 ? i == keyIndex : InRanges(k, colorTable_[i]);
}

void StageSprite::SetDefaultKey() {
  keyed = 1;
  keyColor = kDefaultKeyColor;
  tolerance = 0;
  redMin = redMax = 248;
  greenMin = greenMax = 248;
  blueMin = blueMax = 240;
  keyIndex = kDefaultKeyIndex;
  key16 = kDefaultKey16;
  for (int i = 0; i < 256; ++i) transparentIndex_[i] = i == keyIndex;
}

loops::KeyRanges StageSprite::Ranges() const {
  // A 16-bit picture without tolerance is keyed on key16, whatever the display.
  if (tolerance == 0 && sourceBits_ == 16) return RangesAround(FromRgb565(key16), 0);
  return {redMin, redMax, greenMin, greenMax, blueMin, blueMax};
}

bool StageSprite::IsTransparentAtSource(int px, int py) {
  if (!keyed || picture_.IsNull()) return false;
  if (sourceBits_ == 8 && !indices_.empty()) return transparentIndex_[indices_[size_t(py) * picture_.Width() + px]];
  if (format == PixelFormat::kRgb565 && tolerance == 0) {
    uint16_t p;
    std::memcpy(&p, picture_.At(px, py), 2);
    return p == key16;
  }
  return InRanges(Ranges(), picture_.GetPixel(px, py));
}

// ---------------------------------------------------------------- pictures

int StageSprite::SetPicture(const PictureView& pic) {
  const int bpp = pic.bitsPerPixel;
  if (pic.width <= 0 || pic.height <= 0 || !pic.bits || (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
    return kErrNoPicture;
  PixelBuffer converted(pic.width, pic.height, format);
  if (converted.IsNull()) return kErrNoPicture;
  uint8_t* d = converted.Data();
  const ptrdiff_t ds = converted.Stride();
  const bool to32 = format == PixelFormat::kXrgb32;
  const int w = pic.width, h = pic.height;
  std::array<ColorRef, 256> table{};
  std::vector<uint8_t> index;
  if (bpp == 8) {
    std::copy_n(pic.colorTable.begin(), std::min<size_t>(256, pic.colorTable.size()), table.begin());
    std::array<uint32_t, 256> p32;
    std::array<uint16_t, 256> p16;
    for (int i = 0; i < 256; ++i) p32[i] = ToXrgb32(table[i]), p16[i] = ToRgb565(table[i]);
    if (to32)
      loops::ConvertIndexedTo32(d, ds, pic.bits, pic.stride, w, h, p32.data());
    else
      loops::ConvertIndexedTo16(d, ds, pic.bits, pic.stride, w, h, p16.data());
    index.resize(size_t(w) * h);
    for (int y = 0; y < h; ++y) std::memcpy(&index[size_t(y) * w], pic.bits + pic.stride * y, size_t(w));
  } else if (bpp == 16) {
    if (pic.layout16 == Layout16::k565)
      to32 ? loops::Convert565To32(d, ds, pic.bits, pic.stride, w, h)
           : loops::CopyRows(d, ds, pic.bits, pic.stride, w * 2, h);
    else
      to32 ? loops::Convert555To32(d, ds, pic.bits, pic.stride, w, h)
           : loops::Convert555To16(d, ds, pic.bits, pic.stride, w, h);
  } else if (bpp == 24) {
    to32 ? loops::Convert24To32(d, ds, pic.bits, pic.stride, w, h)
         : loops::Convert24To16(d, ds, pic.bits, pic.stride, w, h);
  } else {
    to32 ? loops::Convert32To32(d, ds, pic.bits, pic.stride, w, h)
         : loops::Convert32To16(d, ds, pic.bits, pic.stride, w, h);
  }
  std::lock_guard lock(Lock());
  picture_ = std::move(converted);
  otherFormat_ = PixelBuffer();
  loadedFrom.clear();
  indices_ = std::move(index);
  colorTable_ = table;
  sourceBits_ = bpp;
  remapPending = 1;
  if (keyed) ComputeKey();
  return 0;
}

int StageSprite::LoadPicture(PictureLoader& loader, const std::string& path, const Rect& destination,
                             uint16_t newLayer, bool keyOn, ColorRef key, uint8_t tol) {
  DecodedPicture pic;
  {
    std::lock_guard lock(PictureLock());
    if (const int error = loader.LoadSized(path, destination.Width(), destination.Height(), pic); error != 0)
      return error;
  }
  // A name the loader reads nothing for (no extension it knows) is a success
  // that leaves the sprite without a picture.
  if (pic.width == 0 && pic.height == 0 && pic.bits.empty()) {
    Setup(destination, Rect{}, newLayer, keyOn, key, tol, effectAbortKey);
    return 0;
  }
  if (SetPicture(pic.View()) != 0) return kErrNoPicture;
  Setup(destination, Rect{0, 0, pic.width, pic.height}, newLayer, keyOn, key, tol, effectAbortKey);
  Fit();
  loadedFrom = path;
  return 0;
}

void StageSprite::CreateSurface(const Rect& destination, uint16_t newLayer) {
  PixelBuffer blank(destination.Width(), destination.Height(), format);
  std::lock_guard lock(Lock());
  picture_ = std::move(blank);
  otherFormat_ = PixelBuffer();
  loadedFrom.clear();
  indices_.clear();
  sourceBits_ = format == PixelFormat::kXrgb32 ? 32 : 16;
  rect = destination;
  srcRect = {0, 0, destination.Width(), destination.Height()};
  layer = newLayer;
}

void StageSprite::Fill(ColorRef c) {
  std::lock_guard lock(Lock());
  picture_.Fill(c);
  otherFormat_ = PixelBuffer();
  loadedFrom.clear();
}

void StageSprite::PictureChanged() {
  otherFormat_ = PixelBuffer();
  loadedFrom.clear();
}

const PixelBuffer& StageSprite::PictureFor(PixelFormat f) {
  if (f == picture_.Format() || picture_.IsNull()) return picture_;
  if (otherFormat_.IsNull()) {
    otherFormat_ = PixelBuffer(picture_.Width(), picture_.Height(), f);
    CopyRect(otherFormat_, picture_, picture_.Bounds());
  }
  return otherFormat_;
}

void StageSprite::Clear() {
  std::lock_guard lock(Lock());
  if (compositor && onStage) compositor->Remove(*this, true);
  picture_ = PixelBuffer();
  otherFormat_ = PixelBuffer();
  indices_.clear();
  sourceBits_ = 0;
  if (window && savedWndProc) window->ForwardMouseToStage(false);
  savedWndProc = false;
}

void StageSprite::SetSourceRect(const Rect& r) {
  Rect s = r;
  s.left = std::max(s.left, 0);
  s.top = std::max(s.top, 0);
  if (!picture_.IsNull()) {
    s.right = std::min(s.right, picture_.Width());
    s.bottom = std::min(s.bottom, picture_.Height());
  }
  if (s.right < s.left) s.right = s.left;
  if (s.bottom < s.top) s.bottom = s.top;
  srcRect = s;
}

void StageSprite::Fit() {
  if (picture_.IsNull()) return;
  if (stretch) {
    srcRect = picture_.Bounds();
    return;
  }
  SetSourceRect(srcRect);
  const int w = std::min(rect.Width(), srcRect.Width());
  const int h = std::min(rect.Height(), srcRect.Height());
  rect.right = rect.left + w;
  rect.bottom = rect.top + h;
  srcRect.right = srcRect.left + w;
  srcRect.bottom = srcRect.top + h;
}

// ---------------------------------------------------------------- geometry

Rect ScaleRect(const Rect& r, int w, int h) {
  const int64_t nw = w * r.Width64() / 100, nh = h * r.Height64() / 100;
  const int64_t left = r.left + (r.Width64() - nw) / 2, top = r.top + (r.Height64() - nh) / 2;
  return {ClampToInt(left), ClampToInt(top), ClampToInt(left + nw), ClampToInt(top + nh)};
}

namespace {
// Percentages come from project files: the arithmetic is 64-bit and the
// result is kept between 0 and 100 times the size.
constexpr int64_t kMaxPercent = 10000;

int ClampPercent(int64_t v) { return int(std::clamp<int64_t>(v, 0, kMaxPercent)); }

int Lerp(int a, int b, int p) {
  const int64_t d = std::abs(int64_t(a) - b);
  return ClampPercent(b < a ? b + (100 - p) * d / 100 : a + p * d / 100);
}
}  // namespace

void PerspectivePercent(const PerspectiveScaling& s, const Rect& r, uint16_t layerValue, bool windowSprite,
                        int clientWidth, int clientHeight, int* w, int* h) {
  *w = *h = 100;
  if (s.mode == scale_mode::kByLayer) {
    const int64_t k = windowSprite ? 1 : 101, t = int64_t(layerValue) * 100 / 99, f = s.atBack, n = s.atFront;
    const int64_t d = std::abs(n - f);
    *w = *h = ClampPercent(f < n ? f + d * (k - t + 101) / 100 : n + d * (t - k - 1) / 100);
    return;
  }
  if (clientWidth <= 0 || clientHeight <= 0) return;
  const int px = int(std::clamp<int64_t>((int64_t(r.left) + r.right) / 2 * 100 / clientWidth, 0, 100));
  const int py = int(std::clamp<int64_t>((int64_t(r.top) + r.bottom) / 2 * 100 / clientHeight, 0, 100));
  const int sx = Lerp(s.atLeft, s.atRight, px), sy = Lerp(s.atTop, s.atBottom, py);
  if (s.mode == scale_mode::kByPosition) *w = sx, *h = sy;
  else if (s.mode == scale_mode::kByVertical) *w = *h = sy;
  else if (s.mode == scale_mode::kByHorizontal) *w = *h = sx;
}

Rect StageSprite::DisplayedRect() const {
  if (!scaling.enabled) return rect;
  const Compositor& c = compositor ? *compositor : StageCompositor();
  if (c.Environment().ModalDialogOpen()) return rect;
  const Rect client = c.ClientRect();
  int w, h;
  PerspectivePercent(scaling, rect, layer, kind == kWindowSprite, client.Width(), client.Height(), &w, &h);
  return ScaleRect(rect, w, h);
}

bool StageSprite::PaintsEveryPixel() const {
  return kind == kDrawnSprite && !picture_.IsNull() && !keyed && !srcRect.IsEmpty();
}

bool StageSprite::IsOpaque() const { return displayState == kStatePlaceholder || PaintsEveryPixel(); }

// ---------------------------------------------------------------- drawing

void StageSprite::Draw(DrawTarget& target, const Rect& clip) {
  if (kind == kWindowSprite || picture_.IsNull()) return;
  const Rect d = DisplayedRect();
  if (owner && owner->ShowsMetafile() && !moving && (d.Width() != srcRect.Width() || d.Height() != srcRect.Height()))
    owner->RenderMetafile(*this, d.Width(), d.Height());
  DrawPicture(target, srcRect, d, clip);
}

void StageSprite::DrawTo(DrawTarget& target, const Rect& src, const Rect& dst, const Rect& clip) {
  if (kind == kWindowSprite || picture_.IsNull()) return;
  DrawPicture(target, src, dst, clip);
}

void StageSprite::DrawStretchedTo(PixelBuffer& target) {
  DrawTarget t{target, {0, 0}};
  DrawTo(t, srcRect, target.Bounds(), target.Bounds());
}

void StageSprite::DrawPicture(DrawTarget& target, const Rect& srcIn, const Rect& dst, const Rect& clip) {
  PixelBuffer& out = target.buffer;
  const PixelBuffer& pic = PictureFor(out.Format());
  const Rect src = srcIn.Intersect(pic.Bounds());
  if (src.IsEmpty() || dst.IsEmpty()) return;
  const Rect c = clip.Intersect(dst).Intersect(out.Bounds().Offset(target.origin.x, target.origin.y));
  if (c.IsEmpty()) return;
  uint8_t* d = out.At(c.left - target.origin.x, c.top - target.origin.y);
  const ptrdiff_t ds = out.Stride(), ss = pic.Stride();
  const int w = c.Width(), h = c.Height();
  const bool to32 = out.Format() == PixelFormat::kXrgb32;
  const bool indexed = keyed && sourceBits_ == 8 && !indices_.empty();
  const bool exact16 = keyed && !to32 && format == PixelFormat::kRgb565 && tolerance == 0;
  const loops::KeyRanges k = Ranges();
  const uint8_t* lut = transparentIndex_.data();
  const ptrdiff_t is = pic.Width();

  if (dst.Width64() == src.Width64() && dst.Height64() == src.Height64()) {
    const int sx = src.left + (c.left - dst.left), sy = src.top + (c.top - dst.top);
    const uint8_t* s = pic.At(sx, sy);
    if (!keyed) {
      loops::CopyRows(d, ds, s, ss, w * out.BytesPerPixel(), h);
    } else if (indexed) {
      const uint8_t* i = &indices_[size_t(sy) * is + sx];
      to32 ? loops::KeyedCopyIndexed32(d, ds, s, ss, i, is, w, h, lut)
           : loops::KeyedCopyIndexed16(d, ds, s, ss, i, is, w, h, lut);
    } else if (to32) {
      loops::KeyedCopy32(d, ds, s, ss, w, h, k);
    } else if (exact16) {
      loops::KeyedCopyExact16(d, ds, s, ss, w, h, key16);
    } else {
      loops::KeyedCopy16(d, ds, s, ss, w, h, k);
    }
    return;
  }

  // Per-thread scratch: drawing runs under the stage lock, but effects may
  // draw into their own targets from other threads.
  thread_local std::vector<int32_t> cols, rows;
  cols.resize(size_t(w));
  rows.resize(size_t(h));
  BuildStretchMap(src.left, src.Width64(), dst.Width64(), int64_t(c.left) - dst.left, w, cols.data());
  BuildStretchMap(src.top, src.Height64(), dst.Height64(), int64_t(c.top) - dst.top, h, rows.data());
  const uint8_t* s = pic.Data();
  if (!keyed) {
    to32 ? loops::Stretch32(d, ds, s, ss, cols.data(), w, rows.data(), h)
         : loops::Stretch16(d, ds, s, ss, cols.data(), w, rows.data(), h);
  } else if (indexed) {
    to32 ? loops::StretchKeyedIndexed32(d, ds, s, ss, indices_.data(), is, cols.data(), w, rows.data(), h, lut)
         : loops::StretchKeyedIndexed16(d, ds, s, ss, indices_.data(), is, cols.data(), w, rows.data(), h, lut);
  } else if (to32) {
    loops::StretchKeyed32(d, ds, s, ss, cols.data(), w, rows.data(), h, k);
  } else if (exact16) {
    loops::StretchKeyedExact16(d, ds, s, ss, cols.data(), w, rows.data(), h, key16);
  } else {
    loops::StretchKeyed16(d, ds, s, ss, cols.data(), w, rows.data(), h, k);
  }
}

// ---------------------------------------------------------------- queries

ColorRef StageSprite::PixelAt(int x, int y) {
  if (kind == kWindowSprite && window) return window->PixelAt(x, y);
  if (picture_.IsNull() || srcRect.IsEmpty()) return ColorRef();
  int px, py;
  if (!SourcePoint(x, y, &px, &py)) return ColorRef();
  if (sourceBits_ == 8 && !indices_.empty()) return colorTable_[indices_[size_t(py) * picture_.Width() + px]];
  return picture_.GetPixel(px, py);
}

// Maps from the displayed rectangle, the one drawing and hit testing use, with
// the stretch's own column and row choice, clamped to the picture.
bool StageSprite::SourcePoint(int x, int y, int* px, int* py) const {
  const Rect d = DisplayedRect();
  if (d.IsEmpty() || srcRect.IsEmpty()) return false;
  const Rect s = srcRect;
  *px = std::clamp(s.left + StretchSource(int64_t(x) - d.left, s.Width64(), d.Width64()), 0, picture_.Width() - 1);
  *py = std::clamp(s.top + StretchSource(int64_t(y) - d.top, s.Height64(), d.Height64()), 0, picture_.Height() - 1);
  return true;
}

bool StageSprite::HitTest(int x, int y) {
  if (displayState == kStateHidden || displayState == kStateDisabled || displayState == kStateDeferred) return false;
  if (!owner && Target().Environment().PlayerRunning()) return false;
  if (!DisplayedRect().Contains(x, y)) return false;
  // A sprite with nothing to show catches no clicks unless it draws itself
  // or is a window.
  if (picture_.IsNull()) return selfDrawn != 0 || kind == kWindowSprite;
  if (!keyed) return true;
  int px, py;
  if (!SourcePoint(x, y, &px, &py)) return true;
  // The same test the drawing makes, so clicks pass exactly where nothing was drawn.
  return !IsTransparentAtSource(px, py);
}

// ---------------------------------------------------------------- list operations

void StageSprite::SetLayer(uint16_t newLayer, bool resort) {
  std::lock_guard lock(Lock());
  layer = newLayer;
  if (!compositor || !onStage) return;
  if (kind == kWindowSprite) {
    compositor->Resort(*this);
    compositor->RestackWindows();
  } else if (resort) {
    compositor->Resort(*this);
    compositor->Update(DisplayedRect());
  }
}

void StageSprite::MoveTo(const Rect& destination, uint16_t newLayer, bool batch) {
  MoveImpl(destination, nullptr, newLayer, batch, false);
}

void StageSprite::MoveWithSource(const Rect& destination, const Rect& source, uint16_t newLayer) {
  MoveImpl(destination, &source, newLayer, false, false);
}

void StageSprite::MoveToUnion(const Rect& destination, uint16_t newLayer, bool batch) {
  MoveImpl(destination, nullptr, newLayer, batch, true);
}

void StageSprite::MoveImpl(const Rect& destination, const Rect* source, uint16_t newLayer, bool batch,
                           bool unionForm) {
  Compositor* c = nullptr;
  bool hidden;
  {
    std::lock_guard lock(Lock());
    if (onStage) c = compositor;
    hidden = displayState == kStateHidden;
    const Rect old = DisplayedRect();
    if (c && !hidden && !unionForm) c->MarkDirty(old, false);
    rect = destination;
    if (source)
      SetSourceRect(*source);
    else
      Fit();
    if (layer != newLayer) SetLayer(newLayer, false);
    const Rect now = DisplayedRect();
    if (c) c->MarkDirty(unionForm && !hidden ? old.Union(now) : now, false);
  }
  if (c && !batch && !hidden) c->Flush(false);
}

void StageSprite::PlayPath(const MotionPath& path) {
  Compositor& c = Target();
  if (!c.Paths()) throw Missing("the motion path player");
  struct Moving {
    StageSprite& s;
    explicit Moving(StageSprite& sprite) : s(sprite) { Set(1); }
    ~Moving() { Set(0); }
    void Set(int32_t on) {
      std::lock_guard lock(s.Lock());
      s.moving = s.busy = on;
    }
  } guard(*this);
  c.Paths()->Play(*this, path);
  c.Update(DisplayedRect());
}

void StageSprite::BecomeWindowSprite(ChildWindow& child) {
  std::lock_guard lock(Lock());
  kind = kWindowSprite;
  window = &child;
  child.ForwardMouseToStage(true);
  savedWndProc = true;
}

bool StageSprite::PlaceWindow() {
  if (kind != kWindowSprite || !window) return false;
  const Rect d = DisplayedRect();
  if (window->Geometry() == d) return false;
  // No pause after the move: the child window applies it asynchronously.
  window->Move(d);
  return true;
}

void StageSprite::ShowWindow(bool visible) {
  if (kind == kWindowSprite && window) window->SetVisible(visible);
}

void StageSprite::SetWindowPos(const Rect& r) {
  if (kind == kWindowSprite && window) window->Move(r);
}

void StageSprite::SetDisplayState(uint8_t state) {
  if (kind == kWindowSprite) return SetDisplayStateRedraw(state, true);
  std::lock_guard lock(Lock());
  displayState = state;
}

void StageSprite::SetDisplayStateRedraw(uint8_t state, bool redraw) {
  std::lock_guard lock(Lock());
  displayState = state;
  if (kind == kWindowSprite) {
    if (window) {
      window->SetVisible(state != kStateHidden);
      window->Repaint();
    }
    return;
  }
  if (redraw && compositor && onStage) compositor->Update(DisplayedRect());
}

// ---------------------------------------------------------------- show and hide

void StageSprite::Show(uint32_t rop, uint32_t effect, uint32_t param1, uint32_t param2, uint32_t speed,
                       const MotionPath* path, int32_t, int32_t, uint32_t stretchOption, uint8_t mode) {
  Compositor& c = Target();
  {
    std::lock_guard lock(Lock());
    pending = {rop, effect, param1, param2, speed, stretchOption};
    pendingPath = path;
    displayState = mode == kStateDeferred ? kStateDeferred : kStateShown;
    if (picture_.IsNull() && !keyed && !selfDrawn) SetDefaultKey();
  }
  if (owner) owner->ProcessPicture(*this);
  if (mode == kStateDeferred) {
    {
      std::lock_guard lock(Lock());
      arrival = c.NextArrival();
    }
    c.Add(*this, true);
    return;
  }
  c.RevealDeferred();
  if (c.Environment().StopRequested()) return;
  // Without an effect the sprite goes on at once; the compositor applies its
  // raster operation on every draw.
  if (effect == 0 || kind == kWindowSprite || mode == kStateHidden) {
    c.Add(*this, true);
    if (path)
      PlayPath(*path);
    else
      c.Update(DisplayedRect());
    return;
  }
  if (!c.Effects()) throw Missing("the transition effect engine");
  {
    std::lock_guard lock(Lock());
    stretch = stretchOption == 1;
    Fit();
    displayState = kStateAppearing;
  }
  c.Effects()->RunShow(*this, pending);
  SetDisplayState(mode);
}

bool StageSprite::Hide(bool redrawNow, uint32_t effect, uint32_t param1, uint32_t param2, uint32_t speed) {
  Compositor* c = compositor;
  if (!c || !onStage) return false;
  if (effect != 0 && kind == kDrawnSprite) {
    if (!c->Effects()) throw Missing("the transition effect engine");
    c->Flush(false);
    SetDisplayState(kStateDisappearing);
    c->Effects()->RunHide(*this, {ShowParams::kSrcCopy, effect, param1, param2, speed, 0});
    SetDisplayState(kStateShown);
    return true;
  }
  const Rect d = DisplayedRect();
  c->Remove(*this, false);
  if (redrawNow)
    c->Update(d);
  else
    c->MarkDirty(d, false);
  return true;
}

}  // namespace kv
