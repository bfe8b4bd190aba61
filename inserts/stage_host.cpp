#include "inserts/stage_host.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "engine/events.h"
#include "engine/play_context.h"
#include "engine/runner.h"
#include "engine/trace.h"
#include "inserts/menu.h"
#include "inserts/text.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "inserts/visible_insert.h"
#include "inserts/window_insert.h"
#include "stage/locks.h"

namespace kv {

namespace {

std::shared_ptr<CVisibleInsert> LiveOwner(const StageSprite& sprite) {
  CVisibleInsert* owner = OwnerInsert(sprite);
  if (!owner) return nullptr;
  return std::static_pointer_cast<CVisibleInsert>(owner->weak_from_this().lock());
}

// The run's clock as effects and paths see it: a wait is a wait of the
// calling engine thread, so the virtual clock moves through it.
class RunEffectClock : public EffectClock {
 public:
  RunEffectClock(Runner& runner, std::function<bool()> interrupted)
      : runner_(runner), interrupted_(std::move(interrupted)) {}
  int64_t NowMs() override { return runner_.clock().NowMs(); }
  void WaitUntil(int64_t ms) override {
    ScriptThreadContext* ctx = ScriptThreadContext::Current();
    Waiter local;
    Waiter& w = ctx ? ctx->port.waiter() : local;
    // A message for the thread wakes it early and is served after the step;
    // the exit key or a stop ends the wait at once, so the effect can stop.
    while (runner_.clock().NowMs() < ms && !runner_.clock().Halted() && !interrupted_())
      runner_.clock().Wait(w, ms);
  }

 private:
  Runner& runner_;
  std::function<bool()> interrupted_;
};

}  // namespace

std::optional<std::vector<PathWaypoint>> ReadPathNodes(const MotionPath& path) {
  if (path.PathType() != MotionPath::kNodeType) return std::nullopt;
  std::vector<PathWaypoint> nodes;
  const size_t n = path.NodeCount();
  nodes.reserve(n);
  for (size_t j = 0; j < n; ++j) {
    const PathNode p = path.GetNode(j);
    PathWaypoint w;
    w.stepDelay = p.stepDelay;
    w.minStep = p.minStep;
    w.layer = p.nodeLayer;
    w.segmentKind = p.segmentKind;
    w.segmentSpan = p.segmentSpan;
    w.event = p.nodeEvent;
    w.x = p.centerX, w.y = p.centerY, w.width = p.width, w.height = p.height;
    w.srcLeft = p.sourceLeft, w.srcTop = p.sourceTop, w.srcRight = p.sourceRight, w.srcBottom = p.sourceBottom;
    nodes.push_back(w);
  }
  return nodes;
}

Point StagePosition(int32_t placement, Point stored, int frameW, int frameH, int screenW, int screenH) {
  if (placement == 1266) return {std::max(0, (screenW - frameW) / 2), std::max(0, (screenH - frameH) / 2)};
  if (stored.x >= screenW || stored.y >= screenH) return {0, 0};
  auto snap = [](int32_t v) { return v == 0 ? 0 : v / 8 * 8; };
  return {snap(stored.x), snap(stored.y)};
}

CVisibleInsert* OwnerInsert(const StageSprite& sprite) { return dynamic_cast<CVisibleInsert*>(sprite.owner); }

Stage::Stage(Runner& runner, const StageSettings& settings, PixelFormat format, PictureLoader& pictures)
    : runner_(runner), context_(runner.Context()), settings_(settings), pictures_(pictures), compositor_(CompositorRole::kStage) {
  if (settings_.exitKey == 0) settings_.exitKey = kDefaultExitKey;
  window_.frame = {settings_.placementX, settings_.placementY, settings_.placementX + settings_.clientWidth,
                   settings_.placementY + settings_.clientHeight};
  compositor_.SetEnvironment(this);
  const int status = compositor_.Initialise(ClientRect(), settings_.clientColor, format, nullptr);
  if (status != 0) throw std::runtime_error("the stage's drawing area cannot be created");
  // The exit key (and a stop) cut an effect or a path short.
  auto abort = [this](uint16_t) { return quitRequested_.load() || runner_.IsStopRequested(); };
  effectClock_ = std::make_unique<RunEffectClock>(runner_, [abort] { return abort(0); });
  effects_ = std::make_unique<TransitionEngine>(compositor_, *effectClock_, Pacing::kSleep, abort);
  paths_ = std::make_unique<StagePathPlayer>(*effectClock_, ReadPathNodes, Pacing::kSleep, abort);
  compositor_.SetEffectEngine(effects_.get());
  compositor_.SetPathPlayer(paths_.get());
}

Stage::~Stage() {
  std::lock_guard lock(StageLock());
  // The window may be gone already: nothing is presented from here on.
  compositor_.SetPresenter(nullptr);
  hover_ = dragged_ = nullptr;
  // Inserts may outlive the run (the document is still open): their sprites
  // and they themselves forget this stage.
  ForEachRegisteredSprite([this](StageSprite& s) {
    if (s.compositor != &compositor_) return;
    if (CVisibleInsert* owner = OwnerInsert(s)) owner->StageGone();
    s.onStage = 0;
    s.compositor = nullptr;
  });
  compositor_.Clear();
  compositor_.SetEffectEngine(nullptr);
  compositor_.SetPathPlayer(nullptr);
  compositor_.SetEnvironment(nullptr);
}

TraceSink* Stage::trace() { return runner_.trace(); }

bool Stage::OwnerStopping(const StageSprite& sprite) {
  CVisibleInsert* owner = OwnerInsert(sprite);
  return owner && owner->Stopping(context_);
}

void Stage::NodeReached(StageSprite& sprite, uint32_t code) {
  if (CVisibleInsert* owner = OwnerInsert(sprite)) owner->RaiseNodeEvent(context_, code);
}

void Stage::MovedOnPath(StageSprite& sprite, size_t node, const Rect& rect) {
  if (CVisibleInsert* owner = OwnerInsert(sprite)) owner->PathMoved(context_, node, rect);
}

bool Stage::PlayerRunning() const { return runner_.playerRunning.load(); }
bool Stage::ShuttingDown() const { return runner_.shuttingDown.load(); }
bool Stage::StopRequested() const { return const_cast<Runner&>(runner_).IsStopRequested(); }

// ---------------------------------------------------------------- scene ready

void Stage::SceneReady() {
  using Owner = std::shared_ptr<CVisibleInsert>;
  std::vector<Owner> goingOn, onStage, shown, revealed, play;
  std::vector<std::pair<Owner, StageSprite*>> stamp;
  {
    std::lock_guard lock(StageLock());
    // The deferred sprites, in the order they arrived.
    std::vector<StageSprite*> deferred;
    for (StageSprite* s : compositor_.Sprites())
      if (s->arrival >= 0) deferred.push_back(s);
    std::stable_sort(deferred.begin(), deferred.end(),
                     [](const StageSprite* a, const StageSprite* b) { return a->arrival < b->arrival; });
    for (StageSprite* s : deferred) {
      Owner owner = LiveOwner(*s);
      if (!owner) continue;
      if (owner->FindHandler(event::kOnStage)) onStage.push_back(owner);
      if (s->displayState != kStateHidden) {
        if (owner->FindHandler(event::kShown)) shown.push_back(owner);
        if (s->displayState == kStateDeferred && owner->whenDone == 2) stamp.emplace_back(owner, s);
      }
      if (s->displayState == kStateDeferred) revealed.push_back(owner);
      if (owner->FindHandler(event::kGoingOnStage)) goingOn.push_back(owner);
      if (owner->showMode == show_mode::kShowAndPlayWhenReady) play.push_back(owner);
    }
  }
  for (auto& o : goingOn) runner_.RaiseEvent(*o, event::kGoingOnStage, 0, nullptr);
  if (!runner_.IsStopRequested()) {
    compositor_.RevealDeferred();
    if (TraceSink* t = trace())
      for (auto& o : revealed)
        if (StageSprite* s = o->GetSprite(); s && s->displayState == kStateShown) {
          const Rect d = s->DisplayedRect();
          t->Show(o->name, d.left, d.top, d.right, d.bottom);
        }
  }
  for (auto& o : onStage) runner_.RaiseEvent(*o, event::kOnStage, 0, nullptr);
  for (auto& o : shown) runner_.RaiseEvent(*o, event::kShown, 0, nullptr);
  for (auto& o : play) {
    if (runner_.shuttingDown) break;
    o->PlayOnStage(context_);
  }
  for (auto& [o, s] : stamp) {
    if (runner_.shuttingDown) break;
    if (o->GetSprite() == s) compositor_.Stamp(*s);
  }
  ResetMouse();
}

void Stage::RevealEffect(StageSprite& sprite, uint16_t effect, const char* op, int steps) {
  TraceSink* t = trace();
  CVisibleInsert* owner = OwnerInsert(sprite);
  if (t && owner) t->Effect(owner->name, effect, op, steps);
}

// ---------------------------------------------------------------- input

StageSprite* Stage::SpriteAt(int x, int y) {
  StageSprite* s = compositor_.HitTest(x, y);
  // Only objects on the stage with an owner take part.
  if (s && (!s->onStage || !s->owner)) return nullptr;
  return s;
}

void Stage::DeliverEvent(StageSprite& sprite, uint32_t code, Point at) {
  std::shared_ptr<CVisibleInsert> owner = LiveOwner(sprite);
  if (!owner || !runner_.playerRunning || owner->thread.expired()) return;
  owner->HandleStageEventAt(context_, code, at);
}

void Stage::ButtonDown(int button, int x, int y) {
  pointer_ = {x, y};
  if (button == mouse_button::kLeft) {
    leftDown_ = true;
    std::lock_guard lock(StageLock());
    dragged_ = nullptr;
    dragTrack_.reset();
    for (StageSprite* s : compositor_.Sprites()) s->marks = 0;
    if (StageSprite* s = SpriteAt(x, y)) {
      DeliverEvent(*s, event::kLeftButtonPressed, {x, y});
      if (compositor_.Contains(*s)) {
        s->marks = kMarkInside | kMarkPressed;
        // An object with a type-4 path is dragged along it.
        CVisibleInsert* owner = OwnerInsert(*s);
        if (owner && owner->path)
          if (auto nodes = ReadPathNodes(*owner->path)) {
            dragTrack_ = std::make_unique<PathStepper>(std::move(*nodes));
            dragged_ = s;
          }
      }
    }
    return;
  }
  if (justCreated) return;
  std::lock_guard lock(StageLock());
  if (StageSprite* s = SpriteAt(x, y))
    DeliverEvent(*s, button == mouse_button::kRight ? event::kRightButtonPressed : event::kMiddleButtonPressed,
                 {x, y});
}

bool Stage::Drop(int x, int y, const std::string& text) {
  if (!settings_.acceptsDrops) return false;
  if (auto name = runner_.variables().FindRuntime("rwDragDropName")) runner_.variables().SetText(*name, text);
  std::lock_guard lock(StageLock());
  if (StageSprite* s = SpriteAt(x, y)) DeliverEvent(*s, event::kDropFromDrag, {x, y});
  return true;
}

void Stage::ButtonUp(int button, int x, int y) {
  pointer_ = {x, y};
  if (button == mouse_button::kLeft) {
    // A content drag holds the button: its release drops, nothing is released.
    std::optional<ContentDrag> drag;
    {
      std::lock_guard lock(StageLock());
      drag.swap(contentDrag_);
      if (drag) {
        leftDown_ = false;
        frameDrag_ = false;
        dragged_ = nullptr;
        for (StageSprite* s : compositor_.Sprites()) s->marks = 0;
      }
    }
    if (drag) {
      if (ClientRect().Contains(x, y)) Drop(x, y, drag->text);
      return;
    }
  }
  std::lock_guard lock(StageLock());
  if (button == mouse_button::kLeft) {
    leftDown_ = false;
    frameDrag_ = false;
    dragged_ = nullptr;
    dragTrack_.reset();
    StageSprite* s = SpriteAt(x, y);
    if (s && (s->marks & kMarkPressed)) {
      s->marks = 0;
      DeliverEvent(*s, event::kLeftButtonReleased, {x, y});
    } else if (StageSprite* pressed = compositor_.FindMarked(kMarkPressed)) {
      pressed->marks = 0;
      DeliverEvent(*pressed, event::kLeftNoAction, {x, y});
    }
    return;
  }
  if (StageSprite* hit = SpriteAt(x, y))
    DeliverEvent(*hit, button == mouse_button::kRight ? event::kRightButtonReleased : event::kMiddleButtonReleased,
                 {x, y});
}

void Stage::DoubleClick(int x, int y) {
  pointer_ = {x, y};
  if (justCreated || paused_) return;
  std::lock_guard lock(StageLock());
  if (StageSprite* s = SpriteAt(x, y)) DeliverEvent(*s, event::kDoubleClick, {x, y});
}

void Stage::MouseMove(int x, int y, bool leftDown) {
  pointer_ = {x, y};
  leftDown_ = leftDown;
  if (paused_) return;
  std::lock_guard lock(StageLock());
  if (contentDrag_) return;  // the drag has the pointer until it drops
  if (frameDrag_) {
    // The grip stays under the pointer: the frame moves by what the pointer
    // moved on the screen since the grip. Without a screen, a point is read
    // against the frame where it was at the grip, so a pointer that stays
    // put leaves the frame where it is.
    if (!leftDown) return;
    StageWindowState w = Window();
    const int32_t left = frameAtGrip_.left + (frameAtGrip_.left + x - frameGrip_.x);
    const int32_t top = frameAtGrip_.top + (frameAtGrip_.top + y - frameGrip_.y);
    if (left != w.frame.left || top != w.frame.top) {
      w.frame = {left, top, left + (w.frame.right - w.frame.left), top + (w.frame.bottom - w.frame.top)};
      SetWindow(w);
    }
    return;
  }
  if (dragged_ && leftDown && dragTrack_) {
    // The nearest sampled position on the path.
    if (auto pose = dragTrack_->Nearest({x, y}); pose && pose->rect != dragged_->rect)
      if (CVisibleInsert* owner = OwnerInsert(*dragged_))
        owner->MoveTo(context_, pose->rect.left, pose->rect.top, pose->rect.right, pose->rect.bottom, true);
  } else if (dragged_ && leftDown) {
    if (CVisibleInsert* owner = OwnerInsert(*dragged_)) {
      const Rect r = dragged_->rect;
      const int32_t left = x - dragOffset_.x, top = y - dragOffset_.y;
      if (left != r.left || top != r.top)
        owner->MoveTo(context_, left, top, left + (r.right - r.left), top + (r.bottom - r.top), true);
    }
  }
  StageSprite* s = SpriteAt(x, y);
  if (s && s == hover_) {
    DeliverEvent(*s, leftDown ? event::kDraggingWithin : event::kCursorMoving, {x, y});
    return;
  }
  EndHover();
  if (!s) {
    SetObjectCursor(nullptr);
    return;
  }
  hover_ = s;
  lastPoint_ = {x, y};
  leftReported_ = false;
  DeliverEvent(*s, event::kCursorEntering, {x, y});
  if (hover_ == s) s->marks |= kMarkInside;
}

void Stage::EndHover() {
  StageSprite* h = hover_;
  if (!h) return;
  hover_ = nullptr;
  const Point at = lastPoint_;
  lastPoint_ = {-1, -1};
  if (!compositor_.Contains(*h) || leftReported_) return;
  if ((h->marks & (kMarkInside | kMarkPressed)) == (kMarkInside | kMarkPressed)) {
    DeliverEvent(*h, event::kCursorLeaving, at);
    DeliverEvent(*h, event::kLeftNoAction, at);
    h->marks = kMarkPressed;
  } else {
    DeliverEvent(*h, event::kCursorLeaving, at);
    h->marks = 0;
  }
}

void Stage::HoverTick() {
  std::lock_guard lock(StageLock());
  if (hover_ && SpriteAt(pointer_.x, pointer_.y) != hover_) EndHover();
}

bool Stage::Hovering() {
  std::lock_guard lock(StageLock());
  return hover_ != nullptr;
}

bool Stage::HoverStale() {
  std::lock_guard lock(StageLock());
  return hover_ && SpriteAt(pointer_.x, pointer_.y) != hover_;
}

void Stage::ResetMouse() {
  if (pointer_.x < 0 && pointer_.y < 0) return;
  MouseMove(pointer_.x, pointer_.y, leftDown_);
}

void Stage::SpriteGone(const StageSprite& sprite) {
  if (hover_ == &sprite) {
    hover_ = nullptr;
    lastPoint_ = {-1, -1};
  }
  if (dragged_ == &sprite) {
    dragged_ = nullptr;
    dragTrack_.reset();
  }
}

// ---------------------------------------------------------------- stage commands

void Stage::ClearStage() {
  std::vector<std::shared_ptr<CVisibleInsert>> owners;
  {
    std::lock_guard lock(StageLock());
    for (StageSprite* s : compositor_.Sprites())
      if (s->displayState != kStateHidden)
        if (auto o = LiveOwner(*s)) owners.push_back(o);
    hover_ = dragged_ = nullptr;
    compositor_.Clear();
  }
  compositor_.Update(ClientRect());
  if (TraceSink* t = trace())
    for (auto& o : owners) t->Hide(o->name);
}

void Stage::MoveToCursor(CInsert& insert) {
  StageSprite* s = insert.GetSprite();
  if (!s || pointer_.x < 0) return;
  Rect r;
  {
    std::lock_guard lock(StageLock());
    r = s->rect;
  }
  const int32_t w = r.right - r.left, h = r.bottom - r.top;
  const Rect to{pointer_.x - w / 2, pointer_.y - h / 2, pointer_.x - w / 2 + w, pointer_.y - h / 2 + h};
  insert.MoveTo(context_, to.left, to.top, to.right, to.bottom, true);
}

void Stage::StartDrag(CInsert& insert) {
  StageSprite* s = insert.GetSprite();
  std::lock_guard lock(StageLock());
  if (!s || !compositor_.Contains(*s)) return;
  dragged_ = s;
  dragTrack_.reset();
  // The grip keeps its place on the object; from outside, the centre.
  const Rect r = s->rect;
  if (r.Contains(pointer_.x, pointer_.y))
    dragOffset_ = {pointer_.x - r.left, pointer_.y - r.top};
  else
    dragOffset_ = {(r.right - r.left) / 2, (r.bottom - r.top) / 2};
}

void Stage::StartFrameDrag() {
  if (dragHost_) {
    dragHost_->StartFrameDrag();
    return;
  }
  std::lock_guard lock(StageLock());
  const Rect frame = Window().frame;
  frameDrag_ = true;
  frameAtGrip_ = frame;
  frameGrip_ = {frame.left + pointer_.x, frame.top + pointer_.y};
}

bool Stage::StartContentDrag(CInsert& insert) {
  ContentDrag drag;
  drag.object = insert.name;
  if (const std::string stored = insert.GetFileName(); !stored.empty()) {
    drag.file = runner_.ResolveFile(stored);
    if (drag.file.empty()) return false;
    drag.text = drag.file;
    const std::string ext = ExtensionOf(drag.file);
    drag.picture = EqualsNoCase(ext, ".emf") || EqualsNoCase(ext, ".wmf");
  } else if (auto* text = dynamic_cast<CText*>(&insert)) {
    drag.text = text->text;
  }
  if (drag.text.empty()) return false;
  if (dragHost_) {
    dragHost_->StartContentDrag(drag);
    return true;
  }
  std::lock_guard lock(StageLock());
  contentDrag_ = std::move(drag);
  return true;
}

std::optional<ContentDrag> Stage::PendingContentDrag() {
  std::lock_guard lock(StageLock());
  return contentDrag_;
}

void Stage::PausePlayer(PauseCause cause) {
  if (cause == PauseCause::kSuspended) pausedBeforeSuspend_ = paused_;
  if (paused_.exchange(true)) return;
  pausedByPlayer_.clear();
  for (auto& t : runner_.ScriptThreads()) {
    InsertPtr played = t->playedInsert.lock();
    if (!played) continue;
    InsertPtr copy = played->clone.lock();
    InsertPtr target = copy ? copy : played;
    if (target->IsPaused()) continue;
    target->PauseInsert(runner_);
    if (target->IsPaused()) pausedByPlayer_.push_back(target);
  }
}

void Stage::ResumePlayer(PauseCause cause) {
  if (cause == PauseCause::kSuspended && pausedBeforeSuspend_) return;
  if (!paused_.exchange(false)) return;
  for (auto& weak : pausedByPlayer_)
    if (InsertPtr insert = weak.lock(); insert && insert->IsPaused()) insert->ResumeInsert(runner_);
  pausedByPlayer_.clear();
  compositor_.RepaintBackground(true);
}

bool Stage::KeyDown(uint32_t key) {
  if (key != settings_.exitKey) return false;
  // The exit key ends a paused player too.
  if (paused_) ResumePlayer(PauseCause::kMinimized);
  quitRequested_ = true;
  if (ScriptThreadContext* project = runner_.ProjectThread()) {
    // A key the user pressed: the project thread aborts the run on it.
    Message m;
    m.kind = MsgKind::kKeyDown;
    m.key = settings_.exitKey;
    project->port.Post(std::move(m));
  }
  runner_.clock().WakeAll();
  return true;
}

bool Stage::Hotkey(uint32_t key, uint32_t modifiers, int phase) {
  std::shared_ptr<CVisibleInsert> taker;
  {
    std::lock_guard lock(StageLock());
    const auto sprites = compositor_.Sprites();
    // Front to back, as a click would find them.
    for (auto it = sprites.rbegin(); it != sprites.rend() && !taker; ++it)
      if (auto o = LiveOwner(**it); o && o->IsActive() && o->HasHotkey(key, modifiers)) taker = o;
  }
  if (!taker || !runner_.playerRunning) return false;
  taker->OnHotkey(context_, key, modifiers, phase);
  return true;
}

// ---------------------------------------------------------------- cursors

void Stage::SetObjectCursor(const CursorChoice* cursor, const std::string& by) {
  std::lock_guard lock(cursorLock_);
  objectCursorActive_ = cursor != nullptr;
  objectCursor_ = cursor ? *cursor : CursorChoice{};
  objectCursorBy_ = cursor ? by : std::string();
  ++cursorSerial;
  TraceCursorChange();
}

void Stage::SetStageCursor(const CursorChoice* cursor, bool override, const std::string& by) {
  std::lock_guard lock(cursorLock_);
  stageCursorActive_ = cursor != nullptr;
  stageCursorOverride_ = override;
  stageCursor_ = cursor ? *cursor : CursorChoice{};
  stageCursorBy_ = cursor ? by : std::string();
  ++cursorSerial;
  TraceCursorChange();
}

void Stage::ClearStageCursorOf(const std::string& by) {
  {
    std::lock_guard lock(cursorLock_);
    if (!stageCursorActive_ || stageCursorBy_ != by) return;
  }
  SetStageCursor(nullptr, false);
}

void Stage::TraceCursorChange() {
  CursorChoice now;
  std::string by;
  if (stageCursorActive_ && (stageCursorOverride_ || !objectCursorActive_)) {
    now = stageCursor_;
    by = stageCursorBy_;
  } else if (objectCursorActive_) {
    now = objectCursor_;
    by = objectCursorBy_;
  }
  if (now == tracedCursor_ && by == tracedBy_) return;
  tracedCursor_ = now;
  tracedBy_ = by;
  TraceSink* t = trace();
  if (!t) return;
  switch (now.kind) {
    case CursorChoice::Kind::kArrow: t->Cursor(by, "arrow", "", false); break;
    case CursorChoice::Kind::kSystem: t->Cursor(by, CursorShapeName(now.systemId), "", false); break;
    case CursorChoice::Kind::kHidden: t->Cursor(by, "", "", true); break;
    case CursorChoice::Kind::kFile: t->Cursor(by, "", now.file, false); break;
  }
}

StageWindowState Stage::Window() const {
  std::lock_guard lock(windowLock_);
  return window_;
}

void Stage::SetWindow(const StageWindowState& state) {
  {
    std::lock_guard lock(windowLock_);
    window_ = state;
  }
  ++windowSerial;
}

CursorChoice Stage::CurrentCursor() const {
  std::lock_guard lock(cursorLock_);
  if (stageCursorActive_ && stageCursorOverride_) return stageCursor_;
  if (objectCursorActive_) return objectCursor_;
  if (stageCursorActive_) return stageCursor_;
  return {};
}

const char* CursorShapeName(uint16_t systemId) {
  switch (systemId) {
    case 32513: return "ibeam";
    case 32514: return "wait";
    case 32515: return "cross";
    case 32516: return "uparrow";
    case 32642: return "sizenwse";
    case 32643: return "sizenesw";
    case 32644: return "sizewe";
    case 32645: return "sizens";
    case 32646: return "sizeall";
    case 32648: return "no";
    case 32649: return "hand";
    case 32650: return "appstarting";
    case 32651: return "help";
    default: return "arrow";
  }
}

// ---------------------------------------------------------------- frame menus

std::shared_ptr<CMenuObj> Stage::CurrentMenu() const {
  std::lock_guard lock(menuLock_);
  return currentMenu_.lock();
}

void Stage::SetCurrentMenu(const std::shared_ptr<CMenuObj>& menu) {
  std::lock_guard lock(menuLock_);
  currentMenu_ = menu;
  currentMenuRaw_ = menu.get();
}

void Stage::ForgetMenu(const CMenuObj* menu) {
  std::lock_guard lock(menuLock_);
  if (currentMenuRaw_ == menu) {
    currentMenu_.reset();
    currentMenuRaw_ = nullptr;
  }
  if (barHolderRaw_ == menu) {
    barHolder_.reset();
    barHolderRaw_ = nullptr;
  }
}

std::shared_ptr<CMenuObj> Stage::BarHolder() const {
  std::lock_guard lock(menuLock_);
  return barHolder_.lock();
}

void Stage::SetBarHolder(const std::shared_ptr<CMenuObj>& menu) {
  std::lock_guard lock(menuLock_);
  barHolder_ = menu;
  barHolderRaw_ = menu.get();
}

bool Stage::HasMenuBar() const {
  std::lock_guard lock(menuLock_);
  return hasMenuBar_;
}

void Stage::SetHasMenuBar(bool has) {
  std::lock_guard lock(menuLock_);
  hasMenuBar_ = has;
}

void Stage::MenuCommand(uint16_t id) {
  if (id < kFirstMenuCommandId || id > kLastMenuCommandId) return;
  if (std::shared_ptr<CMenuObj> menu = CurrentMenu()) menu->ChooseItem(context_, id);
}

void Stage::ReleaseFrameMenus() {
  for (const std::shared_ptr<CMenuObj>& menu : {CurrentMenu(), BarHolder()})
    if (menu) menu->KillMenu(context_);
  frameMenus_ = nullptr;
}

// ---------------------------------------------------------------- window objects

namespace {

constexpr uint32_t kShiftModifier = 1;

std::shared_ptr<CWindowInsert> LiveWindowObject(const std::weak_ptr<CWindowInsert>& w) {
  auto o = w.lock();
  return o && o->Widget() ? o : nullptr;
}

}  // namespace

void Stage::AddWindowObject(CWindowInsert& insert) {
  auto self = std::static_pointer_cast<CWindowInsert>(insert.weak_from_this().lock());
  if (!self) return;
  std::lock_guard lock(focusLock_);
  std::erase_if(windowObjects_, [&](const std::weak_ptr<CWindowInsert>& w) {
    auto o = w.lock();
    return !o || o == self;
  });
  windowObjects_.push_back(self);
}

void Stage::RemoveWindowObject(CWindowInsert& insert) {
  std::lock_guard lock(focusLock_);
  std::erase_if(windowObjects_, [&](const std::weak_ptr<CWindowInsert>& w) {
    auto o = w.lock();
    return !o || o.get() == &insert;
  });
}

std::shared_ptr<CWindowInsert> Stage::FocusObject() const {
  std::lock_guard lock(focusLock_);
  return focus_.lock();
}

void Stage::SetFocusObject(CWindowInsert* insert) {
  std::shared_ptr<CWindowInsert> next =
      insert ? std::static_pointer_cast<CWindowInsert>(insert->weak_from_this().lock()) : nullptr;
  std::shared_ptr<CWindowInsert> previous;
  {
    std::lock_guard lock(focusLock_);
    previous = focus_.lock();
    if (previous == next) return;
    focus_ = next;
  }
  // The widgets are told outside the lock: their calls only post work.
  if (previous) previous->FocusChanged(context_, false);
  if (next) next->FocusChanged(context_, true);
  if (TraceSink* t = trace()) t->Focus(next ? next->name : std::string());
}

void Stage::MoveFocus(bool backwards) {
  std::shared_ptr<CWindowInsert> focused = FocusObject();
  // The next (previous) window object in the order they came on the stage,
  // round to the first.
  std::vector<std::shared_ptr<CWindowInsert>> order;
  {
    std::lock_guard lock(focusLock_);
    for (const auto& w : windowObjects_)
      if (auto o = LiveWindowObject(w)) order.push_back(o);
  }
  auto at = std::find(order.begin(), order.end(), focused);
  if (order.empty() || at == order.end()) return;
  const size_t i = size_t(at - order.begin()), n = order.size();
  SetFocusObject(order[backwards ? (i + n - 1) % n : (i + 1) % n].get());
}

bool Stage::OfferKey(const KeyStroke& stroke, bool offerWidget) {
  std::shared_ptr<CWindowInsert> focused = FocusObject();
  if (focused && !focused->Widget()) {
    // The focused object left the stage without handing the focus back.
    SetFocusObject(nullptr);
    focused = nullptr;
  }
  if (!focused) return false;
  if (stroke.kind != KeyStroke::Kind::kChar && focused->MovesFocusOn(stroke.key)) {
    if (stroke.kind == KeyStroke::Kind::kUp) return true;
    MoveFocus((stroke.modifiers & kShiftModifier) != 0);
    focused->FocusLeftByKey(context_);
    return true;
  }
  WidgetWindow* widget = offerWidget ? focused->Widget() : nullptr;
  return widget && widget->OfferKey(stroke);
}

}  // namespace kv
