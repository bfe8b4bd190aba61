// A visible insert on the stage: its sprite's lifecycle, putting it on and
// taking it off the stage, and the show modes as it plays, hides and stops.
#include "inserts/visible_insert.h"

#include <array>
#include <filesystem>
#include <optional>

#include "engine/events.h"
#include "engine/flow.h"
#include "engine/media_service.h"
#include "engine/play_context.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/trace.h"
#include "inserts/stage_host.h"
#include "persist/project_session.h"
#include "platform/paths.h"
#include "stage/locks.h"

namespace kv {

namespace {

constexpr std::array<uint32_t, 8> kRasterOps = {0x00CC0020, 0x008800C6, 0x00EE0086, 0x00660046,
                                                0x00330008, 0x00BB0226, 0x001100A6, 0x00440328};

// Commands a handler may not run while its scene is still loading: they
// would leave the scene before it is ready.
bool LeavesScene(uint16_t command) {
  switch (command) {
    case 16: case 17: case 34: case 35: case 36: case 53: case 82: return true;
    default: return false;
  }
}

}  // namespace

uint32_t CVisibleInsert::RasterOp() const { return drawMode < kRasterOps.size() ? kRasterOps[drawMode] : kRasterOps[0]; }

std::recursive_mutex& CVisibleInsert::StageLock() const {
  const std::shared_ptr<StageSprite> s = sprite_.load();
  return s ? s->Lock() : StageCompositor().Lock();
}

bool CVisibleInsert::IsOwnPrimary() {
  auto p = GetPrimary();
  return !p || p.get() == this;
}

bool CVisibleInsert::Stopping(PlayContext& ctx) const {
  return !running || ctx.runner.shuttingDown || ctx.runner.IsStopRequested();
}

std::unique_ptr<StageSprite> CVisibleInsert::MakeSprite(Stage&) { return nullptr; }

void CVisibleInsert::AdoptSprite(Stage& stage, std::unique_ptr<StageSprite> sprite) {
  DestroySprite();
  if (!sprite) return;
  std::lock_guard lock(stage.compositor().Lock());
  sprite->owner = this;
  sprite->compositor = &stage.compositor();
  sprite->scaling = {scaleEnabled != 0, scaleMode, scaleAtLeft, scaleAtRight, scaleAtTop,
                     scaleAtBottom, scaleAtFront, scaleAtBack, rect};
  sprite_.store(std::shared_ptr<StageSprite>(std::move(sprite)));
}

void CVisibleInsert::DestroySprite() {
  // Most inserts never get a sprite (every one a load makes and its document
  // drops): nothing to take, so no stage lock to wait for.
  if (!sprite_.load()) return;
  std::shared_ptr<StageSprite> gone;
  {
    std::lock_guard lock(StageLock());
    gone = sprite_.exchange(nullptr);
    if (!gone) return;
  }
  // The sprite's destructor takes it off its compositor under the stage lock,
  // and the stage forgets it there.
  gone.reset();
}

void CVisibleInsert::TakeOffAndDropSprite(PlayContext& ctx) {
  if (!GetSprite()) return;
  TakeOffStage(ctx);
  DestroySprite();
}

void CVisibleInsert::PreloadSprite(PlayContext& ctx) {
  CVisibleInsert::Prepare(ctx);
  if (runMode != 4 && ctx.stage) {
    DestroySprite();
    EnsureSprite(ctx);
  }
}

StageSprite* CVisibleInsert::GetSprite() { return sprite_.load().get(); }

StageSprite* CVisibleInsert::EnsureSprite(PlayContext& ctx) {
  StageSprite* s = GetSprite();
  if (!ctx.stage) return s;
  // A sprite made for another stage (another run's) is not shown on this
  // one: it goes (off that stage) and is made again, in this stage's format.
  if (s && s->compositor && s->compositor != &ctx.stage->compositor()) {
    DestroySprite();
    s = nullptr;
  }
  if (s) return s;
  AdoptSprite(*ctx.stage, MakeSprite(*ctx.stage));
  return GetSprite();
}

bool CVisibleInsert::GetNaturalSize(int32_t& width, int32_t& height) {
  const std::shared_ptr<StageSprite> s = sprite_.load();
  if (!s) return CInsert::GetNaturalSize(width, height);
  if (s->HasPicture()) {
    width = s->Picture().Width();
    height = s->Picture().Height();
  } else {
    width = height = 64;
  }
  return true;
}

void CVisibleInsert::RaiseShownSignal(Runner& runner) {
  if (shownSignal.exchange(1) == 0) runner.clock().WakeAll();
}

bool CVisibleInsert::MayTakeOwnThread(PlayContext& ctx) const {
  if (ctx.runner.playerRunning) {
    ScriptThreadContext* ctx = ScriptThreadContext::Current();
    if (!ctx || ctx->isMainThread) return false;
  }
  return !holdPending;
}

bool CVisibleInsert::WantsOwnThread(PlayContext& ctx) const {
  return MayTakeOwnThread(ctx) && !(threaded == 0 && showMode != show_mode::kThreaded);
}

int CVisibleInsert::Run(Runner& runner, int32_t mode) {
  // The signal a launching thread waits for is raised however this run ends,
  // early ones included: a copy that returns unshown must not hold it for ever.
  struct SignalOnExit {
    CVisibleInsert& self;
    Runner& runner;
    ~SignalOnExit() {
      if (self.IsOwnPrimary()) self.RaiseShownSignal(runner);
    }
  } signal{*this, runner};
  PlayContext& ctx = runner.Context();
  if (!ctx.stage) return CInsert::Run(runner, mode);
  if (holdPending) {
    holdPending = 0;
    return 1;
  }
  if (runner.playerRunning && !source.expired() && showMode == show_mode::kHeld) holdPending = 1;
  runMode = mode;
  // A Setup handler may need the launching thread, which waits for the signal.
  if (FindHandler(event::kSetup)) RaiseShownSignal(runner);
  runner.RegisterForEvents(*this);
  if (active) runner.RaiseEvent(*this, event::kSetup, 0, nullptr);
  runner.DelayBeforeActing(*this, mode);
  if (!IsOwnPrimary()) return 1;
  if (runner.IsStopRequested() || !running)
    Hide(ctx);
  else
    PutOnStage(ctx);
  return 1;
}

bool CVisibleInsert::WaitWhile(Runner& runner, const std::function<bool()>& holding) {
  while (holding()) {
    if (runner.IsStopRequested() || !running || runner.shuttingDown) return false;
    Message m = runner.PumpMessage(true, kForever);
    if (m.IsKeyDown() && m.key == runner.stopKey) return false;
  }
  return true;
}

void CVisibleInsert::PutOnStage(PlayContext& ctx) {
  Runner& runner = ctx.runner;
  StageSprite* s = EnsureSprite(ctx);
  if (!s) return;
  Stage& stage = *ctx.stage;
  {
    std::lock_guard lock(StageLock());
    if (s->onStage) return;
    s->motion.stopMotion = false;
    // A path starts the object at its first node's centre and size.
    std::optional<Rect> start = path ? path->StartRect() : std::nullopt;
    s->rect = start ? *start : rect;
    s->Fit();
  }
  int32_t mode = showMode;
  const bool isCopy = !source.expired();
  if (mode == show_mode::kShowAndPlayWhenReady && (threaded || isCopy)) mode = show_mode::kThreaded;
  const bool loading = runner.sceneLoading;
  bool play = false, hold = false, waitScene = false, deferred = false;
  switch (mode) {
    case show_mode::kUnset: {
      stage.compositor().Add(*s, !runner.playerRunning);
      return;
    }
    case show_mode::kShowAndPlay: play = true; break;
    case show_mode::kPlayWhenReady:
      if (loading) (isCopy ? waitScene : deferred) = true;
      break;
    case show_mode::kShowAndPlayWhenReady:
      if (loading)
        deferred = true;
      else
        play = true;
      break;
    case show_mode::kHeld: hold = true; break;
    case show_mode::kThreaded:
      play = true;
      waitScene = isCopy;
      break;
    default: break;
  }
  const bool runningNow = running != 0;
  if (!hold || !runningNow) {
    if (!deferred && !waitScene) {
      stage.FlushSceneReady();
      ShowWithEffect(ctx, *s, false);
    }
  } else {
    s->SetDisplayState(kStateHidden);
    stage.compositor().Add(*s, true);
  }
  RaiseShownSignal(runner);
  if (waitScene) {
    if (running && runner.playerRunning) {
      waitingForScene = 1;
      WaitWhile(runner, [&] { return runner.sceneLoading.load(); });
      waitingForScene = 0;
      if (!IsOwnPrimary()) return;
    }
    ShowWithEffect(ctx, *s, false);
  } else if (deferred) {
    ShowWithEffect(ctx, *s, true);
  }
  if (hold && isCopy && running && runner.playerRunning) {
    WaitWhile(runner, [&] { return holdPending != 0; });
    if (!IsOwnPrimary()) return;
    s->SetDisplayStateRedraw(kStateShown, false);
    ShowWithEffect(ctx, *s, false);
    play = true;
  }
  if (play && running && !deferred) PlayOnStage(ctx);
  if (hold) return;
  if (whenDone == 0) {
    if (runner.shuttingDown) return;
    stage.FlushSceneReady();
    displayWait_ = true;
    // A display time of 0 still lets the object be seen for a moment.
    runner.WaitPeriod(displayTime ? displayTime : 1);
    if (IsOwnPrimary()) TakeOffStage(ctx);
    displayWait_ = false;
  } else if (whenDone == 2 && running && !deferred) {
    stage.compositor().Stamp(*s);
    runner.clock().WakeAll();
  }
}

void CVisibleInsert::ShowWithEffect(PlayContext& ctx, StageSprite& s, bool deferred) {
  Runner& runner = ctx.runner;
  if (runner.shuttingDown || !ctx.stage) return;
  Stage& stage = *ctx.stage;
  ScriptThreadContext* thread = ScriptThreadContext::Current();
  const bool scriptThread = thread && !thread->isMainThread && !thread->isProjectThread;
  {
    std::lock_guard lock(StageLock());
    s.arrival = -1;
  }
  if (delayMs && showMode != show_mode::kShow && showMode != show_mode::kShowAndPlay && scriptThread)
    runner.WaitPeriod(delayMs);
  if (scriptThread && !runner.sceneLoading) deferred = false;
  if (!deferred) runner.RaiseEvent(*this, event::kGoingOnStage, 0, nullptr);
  Compositor& c = stage.compositor();
  c.Flush(false);
  if (s.owner != this) {
    c.Environment().ReportInternalError("a sprite shown by an insert that does not own it");
    return;
  }
  const uint16_t effect = stage.justCreated ? 0 : showEffect;
  TraceSink* trace = runner.trace();
  const bool traced = trace && effect != 0 && !deferred;
  if (traced) trace->Effect(name, effect, "start", 0);
  s.Show(RasterOp(), effect, showParam1, showParam2, static_cast<uint32_t>(showSpeed), nullptr, 0, 0,
         stretchPicture, deferred ? kStateDeferred : kStateShown);
  if (traced) trace->Effect(name, effect, s.effectInterrupted ? "abort" : "end", s.effectSteps);
  if (deferred) return;
  if (TraceSink* t = runner.trace()) {
    const Rect d = s.DisplayedRect();
    t->Show(name, d.left, d.top, d.right, d.bottom);
  }
  if (whenDone != 2) stage.ResetMouse();
  if (FindHandler(event::kOnStage)) {
    c.Flush(false);
    runner.RaiseEvent(*this, event::kOnStage, 0, nullptr);
  }
  runner.RaiseEvent(*this, event::kShown, 0, nullptr);
  c.Flush(false);
}

void CVisibleInsert::TakeOffStage(PlayContext& ctx) {
  StageSprite* s = GetSprite();
  if (!ctx.stage || !s) return;
  Runner* r = &ctx.runner;
  Stage& stage = *ctx.stage;
  bool wasOn;
  {
    std::lock_guard lock(StageLock());
    wasOn = s->onStage != 0;
    s->motion.stopMotion = true;
  }
  if (!wasOn) return;
  Compositor& c = stage.compositor();
  if (r->shuttingDown || stage.QuitRequested()) {
    if (!s->Hide(true, 0, 0, 0, 0)) c.Remove(*s, true);
  } else {
    TraceSink* trace = hideEffect ? r->trace() : nullptr;
    if (trace) trace->Effect(name, hideEffect, "start", 0);
    const bool hidden =
        s->Hide(!r->sceneLoading, hideEffect, hideParam1, hideParam2, static_cast<uint32_t>(hideSpeed));
    if (trace) trace->Effect(name, hideEffect, s->effectInterrupted ? "abort" : "end", s->effectSteps);
    if (hidden) {
      r->RaiseEvent(*this, event::kOffStage, 0, nullptr);
    } else {
      std::lock_guard lock(StageLock());
      c.Remove(*s, true);
    }
  }
  if (TraceSink* t = r->trace()) t->Hide(name);
}

void CVisibleInsert::Hide(PlayContext& ctx) {
  if (GetSprite()) TakeOffStage(ctx);
}

void CVisibleInsert::Stop(PlayContext& ctx) {
  // The attached sound stops with its object.
  if (Runner& r = ctx.runner; ctx.stage && attachedSound && r.Media()) r.Media()->StopAttachedSound(r, *this);
  if (StageSprite* s = GetSprite()) {
    std::lock_guard lock(StageLock());
    s->motion.stopMotion = true;
  }
  SetRunning(0);
}

void CVisibleInsert::Pause(PlayContext& ctx) {
  CInsert::Pause(ctx);
  if (Runner& r = ctx.runner; ctx.stage && attachedSound && r.Media()) r.Media()->PauseAttachedSound(r, *this);
}

void CVisibleInsert::Resume(PlayContext& ctx) {
  CInsert::Resume(ctx);
  if (Runner& r = ctx.runner; ctx.stage && attachedSound && r.Media()) r.Media()->ResumeAttachedSound(r, *this);
}

void CVisibleInsert::Prepare(PlayContext&) {
  // The object cursor is looked up when the pointer enters the object.
}

void CVisibleInsert::OnEnable(PlayContext&) {
  if (StageSprite* s = GetSprite()) s->SetDisplayStateRedraw(kStateShown, false);
  SetRunState(run_state::kStarted);
}

void CVisibleInsert::OnDisable(PlayContext&) {
  if (runState == run_state::kDisabled) return;
  if (StageSprite* s = GetSprite()) s->SetDisplayStateRedraw(kStateDisabled, false);
  SetRunState(run_state::kDisabled);
}

void CVisibleInsert::SimulateClick(PlayContext& ctx) {
  HandleStageEvent(ctx, event::kCursorEntering);
  HandleStageEvent(ctx, event::kLeftButtonPressed);
  HandleStageEvent(ctx, event::kLeftButtonReleased);
}

void CVisibleInsert::ShowOnStage(PlayContext& ctx) {
  StageSprite* s = GetSprite();
  if (!s) return;
  bool shown = false;
  {
    std::lock_guard lock(StageLock());
    if (s->displayState != kStateShown) {
      s->SetDisplayStateRedraw(kStateShown, true);
      shown = s->onStage != 0;
    }
  }
  if (shown)
    if (TraceSink* t = ctx.stage ? ctx.runner.trace() : nullptr) {
      const Rect d = s->DisplayedRect();
      t->Show(name, d.left, d.top, d.right, d.bottom);
    }
}

void CVisibleInsert::HideOnStage(PlayContext& ctx) {
  StageSprite* s = GetSprite();
  if (!s) return;
  bool hidden = false;
  {
    std::lock_guard lock(StageLock());
    if (s->displayState != kStateHidden) {
      s->SetDisplayStateRedraw(kStateHidden, true);
      hidden = s->onStage != 0;
    }
  }
  if (hidden)
    if (TraceSink* t = ctx.stage ? ctx.runner.trace() : nullptr) t->Hide(name);
}

bool CVisibleInsert::IsShown() const {
  const std::shared_ptr<StageSprite> s = sprite_.load();
  if (!s) return false;
  std::lock_guard lock(s->Lock());
  return s->onStage && s->displayState != kStateHidden;
}

bool CVisibleInsert::IsPlaying() const {
  const std::shared_ptr<StageSprite> s = sprite_.load();
  if (!s) return false;
  std::lock_guard lock(s->Lock());
  return s->moving || s->displayState == kStateAppearing || s->displayState == kStateDisappearing;
}

void CVisibleInsert::MoveTo(PlayContext& ctx, int32_t left, int32_t top, int32_t right, int32_t bottom, bool redraw) {
  CInsert::MoveTo(ctx, left, top, right, bottom, redraw);
  if (StageSprite* s = GetSprite()) s->MoveTo(Rect{left, top, right, bottom}, s->layer, !redraw);
}

Rect CVisibleInsert::GetStageRect() const {
  const std::shared_ptr<StageSprite> s = sprite_.load();
  if (!s) return rect;
  std::lock_guard lock(s->Lock());
  return s->rect;
}

bool CVisibleInsert::Invalidate(PlayContext& ctx) { return ctx.stage && RedrawOn(*ctx.stage); }

bool CVisibleInsert::RedrawOn(Stage& stage) {
  const std::shared_ptr<StageSprite> s = sprite_.load();
  Rect r = rect;
  if (s) {
    std::lock_guard lock(s->Lock());
    r = s->DisplayedRect().Union(rect);
  }
  // The area is redrawn either way: a sprite that just went leaves its place.
  stage.compositor().Update(r);
  return s != nullptr;
}

std::optional<CursorChoice> CVisibleInsert::ObjectCursor(Runner& runner) {
  CursorChoice choice;
  if (cursorId != kCursorFromFile && cursorId != kCursorHidden) {
    choice.kind = CursorChoice::Kind::kSystem;
    choice.systemId = cursorId;
    return choice;
  }
  // Either file id names a cursor file; without one, 0xFFFE hides the
  // pointer and 0xFFFF leaves the stage's cursor alone.
  const std::string file = runner.ExpandNames(cursorFile);
  if (!file.empty() && file != cursorLookedUp_) {
    cursorLookedUp_ = file;
    cursorHost_.clear();
    if (auto resolved = runner.Session().locator().RetrieveResource(file))
      if (auto host = runner.Session().HostPath(*resolved); host && std::filesystem::is_regular_file(*host)) cursorHost_ = *host;
    if (cursorHost_.empty()) runner.ReportRunError(this, sid::kUnableToLocateCursor, file);
  }
  if (!file.empty() && !cursorHost_.empty()) {
    choice.kind = CursorChoice::Kind::kFile;
    choice.hostFile = cursorHost_;
    choice.file = file;
    return choice;
  }
  if (cursorId == kCursorHidden) {
    choice.kind = CursorChoice::Kind::kHidden;
    return choice;
  }
  return std::nullopt;
}

void CVisibleInsert::HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) {
  if (!ctx.stage || ctx.runner.sceneChanging) return;
  Runner* r = &ctx.runner;
  if (eventCode == event::kCursorEntering) {
    if (auto cursor = ObjectCursor(*r)) ctx.stage->SetObjectCursor(&*cursor, name);
  } else if (eventCode == event::kCursorLeaving) {
    ctx.stage->SetObjectCursor(nullptr);
  }
  auto handler = FindHandler(eventCode);
  if (handler && r->sceneLoading && !displayWait_ && LeavesScene(handler->command)) return;
  r->RaiseEvent(*this, eventCode, 8, handler, at.x, at.y);
}

bool CVisibleInsert::TryStagePlay(PlayContext& ctx) {
  if (!ctx.stage) return false;
  Runner* r = &ctx.runner;
  Stage& stage = *ctx.stage;
  if (holdPending) {
    holdPending = 0;
    if (!source.expired()) return true;
  }
  if (waitingForScene) {
    if (r->sceneLoading) stage.FlushSceneReady();
    return true;
  }
  if (IsPlaying()) {
    Stop(ctx);
    SetRunning(1);
  }
  StageSprite* s = GetSprite();
  if (!s || !s->onStage) return false;
  // A hidden sprite leaves so that Run puts the object on afresh, shown and
  // played; that includes an object never started (held, or hidden by a
  // request), which otherwise stayed hidden for good.
  if (s->displayState == kStateHidden &&
      (runState == run_state::kIdle || runState == run_state::kStarted)) {
    stage.compositor().Remove(*s, true);
    return false;
  }
  if (runState != run_state::kStarted) return false;
  PlayOnStage(ctx);
  if (whenDone == 0 && running) {
    r->WaitPeriod(displayTime ? displayTime : 1);
    TakeOffStage(ctx);
  } else if (whenDone == 2 && running) {
    stage.compositor().Stamp(*s);
    r->clock().WakeAll();
  }
  return true;
}

void CVisibleInsert::PlayOnStage(PlayContext& ctx) {
  if (!ctx.stage) return;
  Runner* r = &ctx.runner;
  r->RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  if (path)
    if (StageSprite* s = GetSprite()) s->PlayPath(*path);
  r->RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
}

void CVisibleInsert::RaiseNodeEvent(PlayContext& ctx, uint32_t code) {
  // Raised whether or not a handler answers; the lookup decides what runs.
  if (code != 0) ctx.runner.RaiseEvent(*this, code, 0, nullptr);
}

void CVisibleInsert::PathMoved(PlayContext& ctx, size_t node, const Rect& to) {
  if (TraceSink* t = ctx.runner.trace()) t->Path(name, node, to.left, to.top, to.right, to.bottom);
}

}  // namespace kv
