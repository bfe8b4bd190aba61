// CVisibleInsert: what every on-stage insert adds to the common record (show
// and hide effects, stretch, draw mode, motion path, transparency, palette
// mode, object cursor, perspective scaling, when-done action, attached sound).
// Every visual kind derives from it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "engine/insert.h"
#include "inserts/cursor_choice.h"
#include "inserts/motion_path.h"
#include "stage/sprite.h"

namespace kv {

namespace draw_mode {
inline constexpr uint16_t kCopy = 0;
inline constexpr uint16_t kAnd = 1;
inline constexpr uint16_t kOr = 2;
inline constexpr uint16_t kXor = 3;
inline constexpr uint16_t kInvertedCopy = 4;
inline constexpr uint16_t kMergePaint = 5;
inline constexpr uint16_t kNor = 6;
inline constexpr uint16_t kSourceErase = 7;
}  // namespace draw_mode

inline constexpr uint16_t kCursorFromFile = 0xFFFF;
inline constexpr uint16_t kCursorHidden = 0xFFFE;

class Stage;

class CVisibleInsert : public CInsert, public SpriteOwner {
  KV_DECLARE_CLASS(CVisibleInsert)
 public:
  static constexpr uint16_t kNewestVisibleVersion = 4;

  CVisibleInsert();
  ~CVisibleInsert() override;

  uint16_t visibleVersion = 0;
  uint16_t showEffect = 0;
  uint16_t hideEffect = 0;
  int32_t showSpeed = 9;
  int32_t hideSpeed = 9;
  uint16_t showParam1 = 4, showParam2 = 8;
  uint16_t hideParam1 = 4, hideParam2 = 8;
  uint8_t stretchPicture = 1;
  uint16_t drawMode = draw_mode::kCopy;
  uint8_t auxOption1 = 1;
  uint8_t hasPath = 0;
  std::unique_ptr<MotionPath> path;
  uint8_t whenDone = 1;
  uint32_t displayTime = 0;
  uint8_t paletteMode = 0;
  uint8_t transparent = 0;
  uint32_t transparentColor = kDefaultKeyColor.value;
  uint8_t colorTolerance = 0;
  std::string cursorFile;
  uint16_t cursorId = kCursorFromFile;
  uint16_t auxWord1 = 0;
  int32_t scaleEnabled = 0;
  int32_t scaleMode = scale_mode::kByPosition;
  int32_t scaleAtLeft = 100, scaleAtRight = 100;
  int32_t scaleAtTop = 100, scaleAtBottom = 100;
  int32_t scaleAtFront = 100, scaleAtBack = 100;
  uint8_t auxOption3 = 0;
  uint8_t auxOption4 = 1;
  uint16_t auxWord2 = 0;
  uint16_t auxWord3 = 0, auxWord4 = 0;
  // A CFileAudio; held through the base so this layer needs no sound code.
  std::shared_ptr<CInsert> attachedSound;
  // Read by the thread that launched this copy while the copy's thread runs.
  std::atomic<int32_t> shownSignal{1};
  int32_t holdPending = 0;
  int32_t waitingForScene = 0;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  void KeepNewEditorFlags() override;

  void SetTransparent(uint8_t v) { transparent = v; }
  uint8_t GetTransparent() const { return transparent; }
  void SetColorTolerance(uint8_t v) { colorTolerance = v; }
  uint8_t GetColorTolerance() const { return colorTolerance; }
  void SetHasPath(uint8_t v) { hasPath = v; }
  uint8_t GetHasPath() const { return hasPath; }
  // Ownership of the block passes to the insert.
  void SetPath(std::unique_ptr<MotionPath> block) { path = std::move(block); }
  const MotionPath* GetPath() const { return path.get(); }
  void SetStretchPicture(uint8_t v) { stretchPicture = v; }
  virtual uint8_t GetStretchPicture() const { return stretchPicture; }
  void SetPaletteMode(uint8_t v) { paletteMode = v; }
  uint8_t GetPaletteMode() const { return paletteMode; }
  // Every visible kind keeps a transparent colour.
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;
  int32_t GetShownSignal() const override { return shownSignal; }
  void SetShownSignal(int32_t v) override { shownSignal = v; }
  // Raises `shownSignal`; the first raise after a clear wakes the clock, whose
  // waits re-check it (a launching thread waits for it with no deadline).
  void RaiseShownSignal(Runner& runner);
  bool HasContent() const override { return true; }
  void ListEvents(std::vector<uint32_t>& events) const override;

  // --- on the stage
  // The insert knows no stage of its own: behaviour finds the run's in
  // `ctx.stage`, and its sprite knows the compositor it belongs to.
  // The stage is going while the insert stays (the document is still open):
  // what ran on the run's clock stops. The run may be gone already.
  virtual void StageGone() {}
  // The lock of the compositor the sprite belongs to, which guards what its
  // drawing reads (the default compositor's while there is no sprite or it
  // belongs to none).
  std::recursive_mutex& StageLock() const;

  int Run(Runner& runner, int32_t mode) override;
  bool TryStagePlay(PlayContext& ctx) override;
  bool WantsOwnThread(PlayContext& ctx) const override;
  void Stop(PlayContext& ctx) override;
  void Pause(PlayContext& ctx) override;
  void Resume(PlayContext& ctx) override;
  void Hide(PlayContext& ctx) override;
  void Prepare(PlayContext& ctx) override;
  void OnEnable(PlayContext& ctx) override;
  void OnDisable(PlayContext& ctx) override;
  void SimulateClick(PlayContext& ctx) override;
  void HandleStageEvent(PlayContext& ctx, uint32_t eventCode) override { HandleStageEventAt(ctx, eventCode, {-1, -1}); }
  // A mouse event at a stage point (the point travels with the event).
  virtual void HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at);
  void TakeOffStage(PlayContext& ctx) override;
  void ShowOnStage(PlayContext& ctx) override;
  void HideOnStage(PlayContext& ctx) override;
  bool IsShown() const override;
  bool IsPlaying() const override;
  void MoveTo(PlayContext& ctx, int32_t left, int32_t top, int32_t right, int32_t bottom, bool redraw) override;
  // The sprite's rectangle once there is a sprite: a motion path or a drag
  // moves the sprite without touching the stored rectangle.
  Rect GetStageRect() const override;
  bool Invalidate(PlayContext& ctx) override;
  StageSprite* GetSprite() override;
  // The sprite, made for the run's stage when there is none yet; null
  // without a stage or when the kind has nothing to show.
  StageSprite* EnsureSprite(PlayContext& ctx);
  bool GetNaturalSize(int32_t& width, int32_t& height) override;
  bool HasHideEffect() const { return hideEffect != 0; }
  virtual void PutOnStage(PlayContext& ctx);
  virtual void PlayOnStage(PlayContext& ctx);
  // The raster operation `drawMode` names (copy for an unknown mode).
  uint32_t RasterOp() const;

  // What the stage's path player asks of the sprite's owner, with the run's
  // context the stage holds.
  bool Stopping(PlayContext& ctx) const;
  void RaiseNodeEvent(PlayContext& ctx, uint32_t code);
  void PathMoved(PlayContext& ctx, size_t node, const Rect& to);

 protected:
  // Makes the kind's sprite with its picture or drawing; null when the kind
  // has none to show (errors are reported by the kind). Kinds override it.
  virtual std::unique_ptr<StageSprite> MakeSprite(Stage& stage);
  // Gives a new sprite the owner, the stage and the scaling of this insert.
  void AdoptSprite(Stage& stage, std::unique_ptr<StageSprite> sprite);
  // Takes the sprite off the compositor and destroys it.
  void DestroySprite();
  // The picture kinds' Hide: off the stage, then the sprite goes.
  void TakeOffAndDropSprite(PlayContext& ctx);
  // The picture kinds' Prepare: the sprite is made again ahead of showing,
  // so decoding stays out of the moment it appears (not in run mode 4).
  void PreloadSprite(PlayContext& ctx);
  // Shows the sprite through the show effect; `deferred` holds it for the
  // scene-ready reveal.
  void ShowWithEffect(PlayContext& ctx, StageSprite& sprite, bool deferred);
  // Pumps the calling thread's messages while `holding` answers true; false
  // when the exit key, a stop or the insert's end cut the wait short.
  bool WaitWhile(Runner& runner, const std::function<bool()>& holding);
  bool IsOwnPrimary();
  // Redraws the insert's area on `stage`; false without a sprite.
  bool RedrawOn(Stage& stage);
  // False on a thread other than the engine's while the player runs, and
  // while a held copy waits: then the object plays where it is asked to.
  bool MayTakeOwnThread(PlayContext& ctx) const;

  // The object's own cursor for the stage, or none; a cursor file that cannot
  // be found is reported once per name.
  std::optional<CursorChoice> ObjectCursor(Runner& runner);

 private:
  void ResetVisibleFields();
  std::string cursorLookedUp_;  // the substituted cursor name last looked up
  std::string cursorHost_;      // and its host file, empty when not found
  // Shared only so that a query on another thread keeps the sprite (and so
  // the lock it names) alive while it reads it; the insert is its one owner.
  std::atomic<std::shared_ptr<StageSprite>> sprite_;
  std::atomic<bool> displayWait_{false};
};

}  // namespace kv
