// The stage of a run, without its window: the compositor of the drawing area,
// the routing of mouse and keys to the objects under the pointer, the
// scene-ready work and the cursor choice. The window (or the headless player)
// feeds it input on the main thread; visible inserts reach the compositor
// through it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/stage_link.h"
#include "inserts/cursor_choice.h"
#include "platform/geometry.h"
#include "platform/picture_bound.h"
#include "stage/compositor.h"
#include "stage/frame_menus.h"
#include "stage/hooks.h"
#include "stage/path_stepper.h"
#include "stage/step_clock.h"
#include "stage/transitions.h"
#include "stage/widget_window.h"

namespace kv {

class CMenuObj;
class CVisibleInsert;
class CWindowInsert;
class Runner;
struct PlayContext;
class TraceSink;

inline constexpr uint32_t kDefaultExitKey = 0x1B;

struct StageSettings {
  int32_t clientWidth = 640;
  int32_t clientHeight = 480;
  ColorRef clientColor{0};
  ColorRef frameColor{0};
  uint32_t exitKey = kDefaultExitKey;  // 0 in a document means Escape
  std::string caption;
  bool showCaption = true;
  // Where the frame goes: 1265 the stored position, 1266 centred on the
  // screen, 1267 maximised with the stage centred in it.
  int32_t placement = 1266;
  int32_t placementX = 0, placementY = 0;
  // The frame's background picture (a host file; empty for none), tiled
  // from the top left or stretched over the frame's client area.
  std::string backImageHost;
  bool tileBackImage = true;
  // The project lets text and files be dropped on the stage.
  bool acceptsDrops = false;
  // The most pixels the stage may have (StagePixelBound of the display).
  int64_t maxPixels = kMaxPicturePixels;
  // The display switch of a window run: 0 none, 1 full screen at the
  // stage's size, 2 exclusive full screen presenting whole frames; and
  // whether the compositor's own memory surface was asked for.
  uint8_t stageMode = 0;
  uint8_t presentationOption = 0;
};

// The stage window's frame as scripts see it: its place on the screen and
// whether it was maximised or minimised. A headless run has no window to
// move, so the requests are recorded here and answered from here; a windowed
// front end applies them.
struct StageWindowState {
  Rect frame;
  bool maximized = false;
  bool minimized = false;
};

// An object's content dragged out of the stage: its file (a local path),
// offered as a picture too when it is a metafile, else its text.
struct ContentDrag {
  std::string object;
  std::string file;
  std::string text;  // what a drop receives: the file's path or the text
  bool picture = false;
};

// The window that runs drags with the desktop. Without one the stage keeps
// the drag itself: the next left button release drops it where it happens.
class DragHost {
 public:
  virtual ~DragHost() = default;
  // Both are called on the thread that runs the command; the host moves to
  // its own.
  virtual void StartContentDrag(const ContentDrag& drag) = 0;
  virtual void StartFrameDrag() = 0;
};

class Stage : public StageLink, public StageEnvironment {
 public:
  Stage(Runner& runner, const StageSettings& settings, PixelFormat format, PictureLoader& pictures);
  ~Stage() override;
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;

  Compositor& compositor() { return compositor_; }
  Runner& runner() { return runner_; }
  // The run this stage serves: what it hands the inserts it calls (input,
  // motion paths, the scene-ready work), so no insert keeps a stage.
  PlayContext& context() { return context_; }
  TraceSink* trace();
  PictureLoader& pictures() { return pictures_; }
  const StageSettings& settings() const { return settings_; }

  // StageLink
  void SceneReady() override;
  bool QuitRequested() const override { return quitRequested_.load(); }
  void ClearStage() override;
  void MoveToCursor(CInsert& insert) override;
  void StartDrag(CInsert& insert) override;
  void StartFrameDrag() override;
  bool StartContentDrag(CInsert& insert) override;
  // Lent by a windowed front end before the run; null: headless drags.
  void SetDragHost(DragHost* host) { dragHost_ = host; }
  // The content drag the stage itself holds (headless), if any.
  std::optional<ContentDrag> PendingContentDrag();
  bool ProcessPicture(CInsert& insert, int type, int value, int value2, int left, int top, int right,
                      int bottom) override;

  // StageEnvironment
  bool PlayerRunning() const override;
  bool ShuttingDown() const override;
  bool StopRequested() const override;
  Rect ClientRect() const override { return {0, 0, settings_.clientWidth, settings_.clientHeight}; }
  void RevealEffect(StageSprite& sprite, uint16_t effect, const char* op, int steps) override;
  void SpriteGone(const StageSprite& sprite) override;
  bool OwnerStopping(const StageSprite& sprite) override;
  void NodeReached(StageSprite& sprite, uint32_t code) override;
  void MovedOnPath(StageSprite& sprite, size_t node, const Rect& rect) override;

  // Input on the main thread, in stage pixels. `leftDown` tells whether the
  // left button is held during a move.
  void MouseMove(int x, int y, bool leftDown);
  // Minimising the stage window or suspending the machine pauses the player:
  // every thread's playing object is paused, and mouse moves and double
  // clicks are not delivered. Restoring resumes what minimising paused;
  // resuming from suspend does so unless the player was paused before.
  enum class PauseCause { kMinimized, kSuspended };
  void PausePlayer(PauseCause cause);
  void ResumePlayer(PauseCause cause);
  bool Paused() const { return paused_.load(); }
  void ButtonDown(int button, int x, int y);
  void ButtonUp(int button, int x, int y);
  void DoubleClick(int x, int y);
  // Text (or a file's path) dropped at (x, y): it becomes rwDragDropName,
  // and the object there hears 9044 as it would a left button going down.
  // Ignored unless the project accepts drops. False when ignored.
  bool Drop(int x, int y, const std::string& text);
  // A key pressed on the stage. Answers true for the exit key, which sets
  // the quit request and posts the key to the project thread.
  bool KeyDown(uint32_t key);
  // A key pressed (phase 1) or released (phase 3) with modifiers: the first
  // object on the stage that has it as a hotkey takes it. True when taken.
  bool Hotkey(uint32_t key, uint32_t modifiers, int phase);
  // The hover timer: ends the hover state once the pointer has left.
  void HoverTick();
  static constexpr int64_t kHoverTickMs = 400;
  // The timer runs while an object is under the pointer; the hover is stale
  // when the pointer is no longer over that object (it moved or went), which
  // the next tick ends.
  bool Hovering();
  bool HoverStale();
  // Re-evaluates the hover object at the last pointer position.
  void ResetMouse();
  // The scene-ready work at a flush point (deferred objects revealed).
  void FlushSceneReady() { SceneReady(); }

  StageWindowState Window() const;
  void SetWindow(const StageWindowState& state);
  // Bumped on every window request so a front end can poll cheaply.
  std::atomic<uint32_t> windowSerial{0};

  // Set after creation, cleared by the first arrangement: suppresses right,
  // middle and double-click events.
  std::atomic<bool> justCreated{false};

  // Cursors: the object cursor (entering an object) and the stage cursor (a
  // stage cursor object); the window asks CurrentCursor on each change.
  // `by` names the object that sets it, for the trace.
  void SetObjectCursor(const CursorChoice* cursor, const std::string& by = {});
  void SetStageCursor(const CursorChoice* cursor, bool override, const std::string& by = {});
  // Clears the stage cursor when the object named `by` set it.
  void ClearStageCursorOf(const std::string& by);
  CursorChoice CurrentCursor() const;
  // Bumped on every cursor change so a window can poll cheaply.
  std::atomic<uint32_t> cursorSerial{0};

  // Window objects: the factory of their native widgets (lent by the host
  // before the run; none makes a window kind raise), their Tab order (the
  // order they came on the stage) and the keyboard focus.
  void SetWindowFactory(ChildWindowFactory* factory) { windowFactory_ = factory; }
  ChildWindowFactory* WindowFactory() const { return windowFactory_; }
  void AddWindowObject(CWindowInsert& insert);
  void RemoveWindowObject(CWindowInsert& insert);
  // Moves the keyboard focus to `insert` (null: to no object), tracing it.
  void SetFocusObject(CWindowInsert* insert);
  std::shared_ptr<CWindowInsert> FocusObject() const;
  // Moves the focus from the focused window object to the next (previous)
  // in Tab order; nothing when no window object has it.
  void MoveFocus(bool backwards);
  // Keyboard input, focus first: Tab and Shift+Tab (and the keys the focused
  // kind adds) move the focus between window objects; anything else is offered to the focused object's
  // widget unless `offerWidget` is false (the widget has declined it
  // already). True when taken; otherwise it goes on to hotkeys and the stage.
  bool OfferKey(const KeyStroke& stroke, bool offerWidget = true);

  // The frame's system menus, lent by the host (none: a window menu raises).
  void SetFrameMenus(FrameMenus* menus) { frameMenus_ = menus; }
  FrameMenus* GetFrameMenus() const { return frameMenus_; }
  // The menu whose bar or pop-up the frame shows, the menu recorded as the
  // holder of the frame's bar, and whether the frame has a bar.
  std::shared_ptr<CMenuObj> CurrentMenu() const;
  void SetCurrentMenu(const std::shared_ptr<CMenuObj>& menu);
  // Clears the current menu and the bar holder where they are `menu` (also
  // one that is going away).
  void ForgetMenu(const CMenuObj* menu);
  std::shared_ptr<CMenuObj> BarHolder() const;
  void SetBarHolder(const std::shared_ptr<CMenuObj>& menu);
  bool HasMenuBar() const;
  void SetHasMenuBar(bool has);
  // A command of the frame's menus: an id of a menu item goes to the
  // current menu. On the run's main thread.
  void MenuCommand(uint16_t id);
  // At the end of a run: the menus the frame shows are taken down and the
  // frame's menus are let go.
  void ReleaseFrameMenus();
  // The last pointer position on the stage (-1, -1 before any).
  Point Pointer() const { return pointer_; }

 private:
  std::recursive_mutex& StageLock() { return compositor_.Lock(); }
  void DeliverEvent(StageSprite& sprite, uint32_t code, Point at);
  void EndHover();
  StageSprite* SpriteAt(int x, int y);

  Runner& runner_;
  PlayContext& context_;
  StageSettings settings_;
  PictureLoader& pictures_;
  Compositor compositor_;
  // Effects and paths pace themselves on the run's clock (virtual in tests).
  std::unique_ptr<EffectClock> effectClock_;
  std::unique_ptr<TransitionEngine> effects_;
  std::unique_ptr<StagePathPlayer> paths_;
  std::atomic<bool> quitRequested_{false};
  std::atomic<bool> paused_{false};
  bool pausedBeforeSuspend_ = false;
  std::vector<std::weak_ptr<CInsert>> pausedByPlayer_;  // what the pause paused, to resume exactly that
  // Guarded by the stage lock.
  StageSprite* hover_ = nullptr;
  StageSprite* dragged_ = nullptr;  // follows the pointer while the left button is down
  Point dragOffset_{};
  // Set when the dragged object has a type-4 path: it keeps to the path.
  std::unique_ptr<PathStepper> dragTrack_;
  bool leftReported_ = false;
  Point lastPoint_{-1, -1};
  Point pointer_{-1, -1};
  bool leftDown_ = false;
  DragHost* dragHost_ = nullptr;
  // A frame drag: where the grip was on the screen and the frame then.
  bool frameDrag_ = false;
  Point frameGrip_{};
  Rect frameAtGrip_{};
  std::optional<ContentDrag> contentDrag_;  // guarded by the stage lock
  mutable std::mutex windowLock_;
  StageWindowState window_;
  mutable std::mutex cursorLock_;
  bool objectCursorActive_ = false;
  CursorChoice objectCursor_;
  bool stageCursorActive_ = false;
  bool stageCursorOverride_ = false;
  CursorChoice stageCursor_;
  std::string objectCursorBy_, stageCursorBy_;
  // The cursor last traced and who set it: a line goes out when it changes.
  CursorChoice tracedCursor_;
  std::string tracedBy_;
  // Traces the cursor in force when it changed; under cursorLock_.
  void TraceCursorChange();
  ChildWindowFactory* windowFactory_ = nullptr;
  FrameMenus* frameMenus_ = nullptr;
  mutable std::mutex menuLock_;
  std::weak_ptr<CMenuObj> currentMenu_;  // guarded by menuLock_
  const CMenuObj* currentMenuRaw_ = nullptr;
  std::weak_ptr<CMenuObj> barHolder_;
  const CMenuObj* barHolderRaw_ = nullptr;
  bool hasMenuBar_ = false;
  mutable std::mutex focusLock_;
  std::vector<std::weak_ptr<CWindowInsert>> windowObjects_;  // guarded by focusLock_
  std::weak_ptr<CWindowInsert> focus_;                        // guarded by focusLock_
};

// Where a stage frame of frameW x frameH goes on the screen: placement 1266
// centres it; 1265 takes the stored position on a multiple of 8 (0 stays 0),
// or the screen's corner when it would start past the screen's right or
// bottom edge.
Point StagePosition(int32_t placement, Point stored, int frameW, int frameH, int screenW, int screenH);

// The nodes of a stored path for the path player: the type-4 layout; none
// for the older layouts, which are not played.
std::optional<std::vector<PathWaypoint>> ReadPathNodes(const MotionPath& path);

// The visible insert that owns `sprite`, or null.
CVisibleInsert* OwnerInsert(const StageSprite& sprite);

}  // namespace kv
