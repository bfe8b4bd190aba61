// The stage sprite: one rectangle on the stage with a picture (converted once
// to the stage format) or a child window, and the rules for drawing it. Owned
// by its visible insert; drawn, ordered and hit-tested by a Compositor.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/geometry.h"
#include "stage/hooks.h"
#include "stage/picture.h"
#include "stage/pixel_buffer.h"
#include "stage/pixel_loops.h"
#include "stage/reveal_mask.h"

namespace kv {

class Compositor;

enum DisplayState : uint8_t {
  kStateShown = 0,
  kStateHidden = 1,
  kStateDisabled = 2,
  kStateAppearing = 3,
  kStatePlaceholder = 4,
  kStateTransitional = 5,
  kStateDeferred = 6,
  kStateDisappearing = 7,
};

enum SpriteKind : uint8_t { kDrawnSprite = 0, kWindowSprite = 1 };

enum SpriteMark : uint8_t { kMarkInside = 1, kMarkPressed = 2 };

inline constexpr uint16_t kStampLayer = 255;
inline constexpr uint16_t kBackgroundLayer = 1000;
inline constexpr ColorRef kDefaultKeyColor{0x00F0F8F8};
inline constexpr uint8_t kDefaultKeyIndex = 246;
inline constexpr uint16_t kDefaultKey16 = 0xFFDE;
// Error answers of picture and compositor set-up.
inline constexpr int kErrNoOffscreen = 1002;
inline constexpr int kErrNoPicture = 8;

// The state of a drag or path motion.
struct MotionState {
  int32_t first = 1;
  std::atomic<bool> stopMotion{false};  // set when the sprite leaves the stage
};

// How perspective scaling reads the sprite's place (stored values).
namespace scale_mode {
inline constexpr int32_t kByPosition = 1283;
inline constexpr int32_t kByVertical = 1284;
inline constexpr int32_t kByHorizontal = 1285;
inline constexpr int32_t kByLayer = 1417;
}  // namespace scale_mode

// The owner's perspective scaling: enabled, mode, six percentages (left,
// right, top, bottom, front, back) and the rectangle when they were set.
struct PerspectiveScaling {
  bool enabled = false;
  int32_t mode = scale_mode::kByPosition;
  int32_t atLeft = 100, atRight = 100, atTop = 100, atBottom = 100, atFront = 100, atBack = 100;
  Rect setRect;
};

// Where a sprite draws: `buffer` pixel (0,0) is the stage point `origin`.
struct DrawTarget {
  PixelBuffer& buffer;
  Point origin{};
};

class StageSprite {
 public:
  // `format` is the display format of the stage the sprite is made for (the
  // emulated display depth), in which its picture is kept.
  explicit StageSprite(PixelFormat format = PixelFormat::kXrgb32);
  virtual ~StageSprite();
  StageSprite(const StageSprite&) = delete;
  StageSprite& operator=(const StageSprite&) = delete;

  // --- virtual operations ---
  virtual void Show(uint32_t rop, uint32_t effect, uint32_t param1, uint32_t param2, uint32_t speed,
                    const MotionPath* path, int32_t motion1, int32_t motion2, uint32_t stretchOption,
                    uint8_t mode);
  virtual bool Hide(bool redrawNow, uint32_t effect, uint32_t param1, uint32_t param2, uint32_t speed);
  virtual void SetLayer(uint16_t newLayer, bool resort);
  virtual bool HitTest(int x, int y);
  virtual ColorRef PixelAt(int x, int y);
  // Draws into `target`, limited to `clip` (stage coordinates). Self-drawn
  // kinds override it and must stay inside `clip`.
  virtual void Draw(DrawTarget& target, const Rect& clip);
  // The same with explicit source and destination rectangles (effects).
  virtual void DrawTo(DrawTarget& target, const Rect& src, const Rect& dst, const Rect& clip);
  // The picture stretched over all of `target`, with the sprite's transparency.
  virtual void DrawStretchedTo(PixelBuffer& target);
  virtual bool PlaceWindow();
  // Loads a picture file through `loader` and sets rectangles, layer and
  // transparency; 0, or the loader's error code. A loader that answers 0
  // with nothing read leaves the sprite without a picture.
  virtual int LoadPicture(PictureLoader& loader, const std::string& path, const Rect& destination,
                          uint16_t newLayer, bool keyOn, ColorRef key, uint8_t tol);
  virtual void ShowWindow(bool visible);
  virtual void SetWindowPos(const Rect& r);
  virtual void SetDisplayState(uint8_t state);
  virtual void SetDisplayStateRedraw(uint8_t state, bool redraw);
  // Whether the sprite paints every pixel of its displayed rectangle (the
  // covering test). Picture sprites answer from their transparency;
  // self-drawn kinds that fill their rectangle override it.
  virtual bool PaintsEveryPixel() const;

  // --- non-virtual operations ---
  void Setup(const Rect& destination, const Rect& source, uint16_t newLayer, bool keyOn, ColorRef key,
             uint8_t tol, uint16_t abortKey);
  // Converts the picture to the display format once; 0 or kErrNoPicture.
  int SetPicture(const PictureView& picture);
  void CreateSurface(const Rect& destination, uint16_t newLayer);
  void Fill(ColorRef c);
  void Clear();
  void MoveTo(const Rect& destination, uint16_t newLayer, bool batch);
  // Moves marking the union of the old and new rectangles in one entry.
  void MoveToUnion(const Rect& destination, uint16_t newLayer, bool batch);
  // A path position: destination and source set as given, no fitting.
  void MoveWithSource(const Rect& destination, const Rect& source, uint16_t newLayer);
  void PlayPath(const MotionPath& path);
  void BecomeWindowSprite(ChildWindow& child);
  // Clamps to the picture and drops negative origins.
  void SetSourceRect(const Rect& r);
  void Fit();
  void SetDefaultKey();
  // Recomputes the transparent ranges and index table from keyColor and tolerance.
  void ComputeKey();
  Rect DisplayedRect() const;
  bool HasPicture() const { return !picture_.IsNull(); }
  bool IsOpaque() const;
  // The picture in `format`, converting (once) when it differs from its own.
  const PixelBuffer& PictureFor(PixelFormat format);
  const PixelBuffer& Picture() const { return picture_; }
  PixelBuffer& MutablePicture() {
    loadedFrom.clear();
    return picture_;
  }
  // Drops conversions cached from the picture after its pixels were changed.
  void PictureChanged();
  int SourceBits() const { return sourceBits_; }
  const std::array<ColorRef, 256>& ColorTable() const { return colorTable_; }
  // 8-bit pictures: the index plane, one byte a pixel, rows of the width.
  const std::vector<uint8_t>& Indices() const { return indices_; }
  // Whether the pixel at picture position (px, py) is transparent.
  bool IsTransparentAtSource(int px, int py);

  // --- the record; list state is guarded by the stage lock ---
  // What every composition reads of every listed sprite comes first, so
  // indexing a long list touches one cache line per sprite.
  Rect rect;
  uint8_t displayState = kStateShown;
  uint8_t kind = kDrawnSprite;
  uint16_t layer = 0;
  PerspectiveScaling scaling;
  int32_t onStage = 0;
  ChildWindow* window = nullptr;
  bool savedWndProc = false;  // mouse forwarding installed on `window`
  ShowParams pending;
  const MotionPath* pendingPath = nullptr;
  int32_t arrival = -1;
  MotionState motion;
  int32_t selfDrawn = 0;
  int32_t moving = 0;
  int32_t ownsBitmap = 1;
  int32_t ownsHeader = 1;
  Rect srcRect;
  int32_t keyed = 0;
  ColorRef keyColor = kDefaultKeyColor;
  uint8_t tolerance = 0;
  uint8_t redMin = 0, redMax = 0, greenMin = 0, greenMax = 0, blueMin = 0, blueMax = 0;
  uint8_t keyIndex = kDefaultKeyIndex;
  uint16_t key16 = kDefaultKey16;
  uint16_t effectAbortKey = 0;
  int32_t stretch = 1;
  SpriteOwner* owner = nullptr;
  Compositor* compositor = nullptr;
  uint8_t marks = 0;
  int32_t busy = 0;
  int32_t changed = 0;
  // While an effect runs: only the pixels the mask marks are drawn.
  const RevealMask* reveal = nullptr;
  // Of the last transition effect on this sprite: steps drawn, cut short.
  int effectSteps = 0;
  bool effectInterrupted = false;
  bool fromMetafile = false;  // the loader marked the picture as a metafile
  int metafileHeightAt100 = 0;  // a metafile's height at a width of 100: its aspect ratio
  // The host file LoadPicture read the picture from; empty once the pixels
  // are set or changed otherwise, so the file no longer shows what is drawn.
  std::string loadedFrom;
  PixelFormat format;         // the display format the picture is kept in
  int32_t remapPending = 1;
  int32_t remapActive = 0;
  std::array<uint8_t, 256> colorMap{};

  // The stage lock of the compositor the sprite belongs to (the default
  // compositor's while it belongs to none).
  std::recursive_mutex& Lock();

 protected:
  // The compositor this sprite uses when it is not on one (the stage's).
  Compositor& Target();

 private:
  loops::KeyRanges Ranges() const;
  bool SourcePoint(int x, int y, int* px, int* py) const;
  void DrawPicture(DrawTarget& target, const Rect& src, const Rect& dst, const Rect& clip);
  void MoveImpl(const Rect& destination, const Rect* source, uint16_t newLayer, bool batch, bool unionForm);

  PixelBuffer picture_;
  PixelBuffer otherFormat_;             // picture_ converted for a target of the other format
  std::vector<uint8_t> indices_;        // 8-bit pictures: the index plane, stride = width
  std::array<ColorRef, 256> colorTable_{};
  std::array<uint8_t, 256> transparentIndex_{};
  int sourceBits_ = 0;
};

// The process-wide registry of existing sprites (walked when a stage or a
// compositor goes) and their count.
int SpriteCount();
// Calls `fn` for every registered sprite under the registry's lock; `fn`
// takes no stage lock.
void ForEachRegisteredSprite(const std::function<void(StageSprite&)>& fn);

// w% x h% of `r` about its centre.
Rect ScaleRect(const Rect& r, int w, int h);
// The percentages of perspective scaling for a sprite at `r`.
void PerspectivePercent(const PerspectiveScaling& s, const Rect& r, uint16_t layer, bool windowSprite,
                        int clientWidth, int clientHeight, int* w, int* h);

}  // namespace kv
