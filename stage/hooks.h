// The interfaces through which the compositor reaches what lies outside it:
// the presenter (the window copy), child windows of window sprites, a sprite's
// owning insert, the transition engine and path player, and the run state.
// Later subsystems implement them; tests use doubles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/geometry.h"
#include "stage/picture.h"
#include "stage/pixel_buffer.h"

namespace kv {

class StageSprite;
struct MotionPath;  // the node block of a motion path, defined by the path code

// Receives the rectangles that changed. Called under the stage lock: an
// implementation copies what it needs under its own frame lock and returns.
class Presenter {
 public:
  virtual ~Presenter() = default;
  virtual void Present(const PixelBuffer& frame, const Rect& rect) = 0;
  // The whole frame in one step (the back-buffer flip of full-screen mode).
  virtual void PresentFrame(const PixelBuffer& frame) { Present(frame, frame.Bounds()); }
  // Asks the window to repaint `rect` later; its paint calls Update.
  virtual void Invalidate(const Rect&) {}
};

// The child window behind a window sprite (a control, a movie window). Calls
// arrive under the stage lock, so an implementation must not wait for another
// thread (post to the GUI thread instead).
class ChildWindow {
 public:
  virtual ~ChildWindow() = default;
  virtual Rect Geometry() const = 0;  // in drawing-window coordinates
  virtual void Move(const Rect& r) = 0;
  virtual void SetVisible(bool visible) = 0;
  virtual void Repaint() = 0;
  // Places this window directly behind `above`; nullptr puts it on top.
  virtual void StackBehind(ChildWindow* above) = 0;
  virtual void AttachToStage() = 0;
  // Mouse messages on the window also go to the drawing window, with the
  // point mapped to its coordinates, so stage event routing sees them.
  virtual void ForwardMouseToStage(bool on) = 0;
  virtual ColorRef PixelAt(int x, int y) const = 0;
  // Draws the window's current image into `target` (whose pixel (0,0) is the
  // stage point `origin`), for stamping; false when the window cannot.
  virtual bool RenderInto(PixelBuffer& /*target*/, Point /*origin*/) { return false; }
};

// Turns a picture file into pixels for StageSprite::LoadPicture. The formats
// live above the stage, in the picture library and the display kind.
class PictureLoader {
 public:
  virtual ~PictureLoader() = default;
  // 0 with `out` filled, or a loader error code (kErrNoPicture and others).
  virtual int Load(const std::string& hostPath, DecodedPicture& out) = 0;
  // The same at `width` × `height` where the format can draw at any size
  // (metafiles); raster pictures keep their own size.
  virtual int LoadSized(const std::string& hostPath, int /*width*/, int /*height*/, DecodedPicture& out) {
    return Load(hostPath, out);
  }
};

// The visible insert that owns a sprite, asked about its picture. What the
// owner does as part of a run (its motion's events) goes through the
// compositor's StageEnvironment, which knows the run.
class SpriteOwner {
 public:
  virtual ~SpriteOwner() = default;
  virtual bool ShowsMetafile() const { return false; }
  // Re-renders a metafile picture at the displayed size.
  virtual void RenderMetafile(StageSprite&, int /*width*/, int /*height*/) {}
  // The per-picture image processing applied before a show.
  virtual void ProcessPicture(StageSprite&) {}
};

struct ShowParams {
  static constexpr uint32_t kSrcCopy = 0x00CC0020;
  uint32_t rop = kSrcCopy;
  uint32_t effect = 0;
  uint32_t param1 = 0;
  uint32_t param2 = 0;
  uint32_t speed = 0;
  uint32_t option = 0;
};

// The transition engine. RunShow puts the sprite on the stage through the
// effect; RunHide takes it off.
class EffectEngine {
 public:
  virtual ~EffectEngine() = default;
  virtual void RunShow(StageSprite& sprite, const ShowParams& params) = 0;
  virtual void RunHide(StageSprite& sprite, const ShowParams& params) = 0;
};

// Walks a path, calling MoveTo on the sprite per step and pacing with its
// step clock, and ends early when the sprite's stop-motion flag is set.
class PathPlayer {
 public:
  virtual ~PathPlayer() = default;
  virtual void Play(StageSprite& sprite, const MotionPath& path) = 0;
};

// What the compositor needs to know of the running player. The defaults
// describe a player that is not running (tools, tests, printing).
class StageEnvironment {
 public:
  virtual ~StageEnvironment() = default;
  virtual bool PlayerRunning() const { return false; }
  virtual bool QuitRequested() const { return false; }
  virtual bool ShuttingDown() const { return false; }
  // A stop has been requested for the calling thread.
  virtual bool StopRequested() const { return false; }
  virtual bool ModalDialogOpen() const { return false; }
  // The drawing window's client size; empty: the compositor's own size.
  virtual Rect ClientRect() const { return {}; }
  virtual void ReportInternalError(const std::string& what);
  // A deferred sprite's show effect starts ("start") or ends ("end", or
  // "abort" when cut short) as the scene-ready reveal plays it.
  virtual void RevealEffect(StageSprite& /*sprite*/, uint16_t /*effect*/, const char* /*op*/, int /*steps*/) {}
  // A sprite of the compositor is being destroyed (under the stage lock):
  // whatever still points at it lets go.
  virtual void SpriteGone(const StageSprite& /*sprite*/) {}
  // A sprite with an owner moves along a motion path: whether the owner has
  // stopped playing, a node's event code reached, the sprite moved to `rect`
  // (`node` is the node last passed).
  virtual bool OwnerStopping(const StageSprite& /*sprite*/) { return false; }
  virtual void NodeReached(StageSprite& /*sprite*/, uint32_t /*code*/) {}
  virtual void MovedOnPath(StageSprite& /*sprite*/, size_t /*node*/, const Rect& /*rect*/) {}
};

}  // namespace kv
