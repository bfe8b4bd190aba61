// A visible insert on the stage: its sprite's lifecycle, putting it on and
// taking it off the stage, and the show modes as it plays, hides and stops.
#include "inserts/visible_insert.h"

#include <array>
#include <filesystem>
#include <optional>

#include "engine/events.h"
#include "engine/flow.h"
#include "engine/media_service.h"
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
  return stage ? stage->compositor().Lock() : StageCompositor().Lock();
}

Runner* CVisibleInsert::RunnerOf() const { return stage ? &stage->runner() : nullptr; }

bool CVisibleInsert::IsOwnPrimary() {
  auto p = GetPrimary();
  return !p || p.get() == this;
}

bool CVisibleInsert::Stopping() const {
  Runner* r = RunnerOf();
  return !running || (r && (r->shuttingDown || r->IsStopRequested()));
}

std::unique_ptr<StageSprite> CVisibleInsert::MakeSprite(Stage&) { return nullptr; }

void CVisibleInsert::AdoptSprite(std::unique_ptr<StageSprite> sprite) {
  DestroySprite();
  if (!sprite) return;
  std::lock_guard lock(StageLock());
  sprite->owner = this;
  if (stage) sprite->compositor = &stage->compositor();
  sprite->scaling = {scaleEnabled != 0, scaleMode, scaleAtLeft, scaleAtRight, scaleAtTop,
                     scaleAtBottom, scaleAtFront, scaleAtBack, rect};
  sprite_ = std::move(sprite);
}

void CVisibleInsert::DestroySprite() {
  std::unique_ptr<StageSprite> gone;
  {
    std::lock_guard lock(StageLock());
    if (!sprite_) return;
    if (stage) stage->ForgetSprite(*sprite_);
    gone = std::move(sprite_);
  }
  // The sprite's destructor takes it off its compositor under the stage lock.
  gone.reset();
}

void CVisibleInsert::TakeOffAndDropSprite() {
  if (!GetSprite(false)) return;
  TakeOffStage();
  DestroySprite();
}

void CVisibleInsert::PreloadSprite() {
  CVisibleInsert::Prepare();
  if (runMode != 4 && stage) {
    DestroySprite();
    GetSprite(true);
  }
}

StageSprite* CVisibleInsert::GetSprite(bool create) {
  if (sprite_ || !create || !stage) return sprite_.get();
  AdoptSprite(MakeSprite(*stage));
  return sprite_.get();
}

bool CVisibleInsert::GetNaturalSize(int32_t& width, int32_t& height) {
  StageSprite* s = sprite_.get();
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

bool CVisibleInsert::WantsOwnThread() const {
  Runner* r = RunnerOf();
  if (r && r->playerRunning) {
    ScriptThreadContext* ctx = ScriptThreadContext::Current();
    if (!ctx || ctx->isMainThread) return false;
  }
  if (holdPending) return false;
  return !(threaded == 0 && showMode != show_mode::kThreaded);
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
  if (!stage) stage = runner.Context().stage;
  if (!stage) return CInsert::Run(runner, mode);
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
    Hide();
  else
    PutOnStage();
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

void CVisibleInsert::PutOnStage() {
  Runner& runner = *RunnerOf();
  StageSprite* s = GetSprite(true);
  if (!s) return;
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
      stage->compositor().Add(*s, !runner.playerRunning);
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
      stage->FlushSceneReady();
      ShowWithEffect(*s, false);
    }
  } else {
    s->SetDisplayState(kStateHidden);
    stage->compositor().Add(*s, true);
  }
  RaiseShownSignal(runner);
  if (waitScene) {
    if (running && runner.playerRunning) {
      waitingForScene = 1;
      WaitWhile(runner, [&] { return runner.sceneLoading.load(); });
      waitingForScene = 0;
      if (!IsOwnPrimary()) return;
    }
    ShowWithEffect(*s, false);
  } else if (deferred) {
    ShowWithEffect(*s, true);
  }
  if (hold && isCopy && running && runner.playerRunning) {
    WaitWhile(runner, [&] { return holdPending != 0; });
    if (!IsOwnPrimary()) return;
    s->SetDisplayStateRedraw(kStateShown, false);
    ShowWithEffect(*s, false);
    play = true;
  }
  if (play && running && !deferred) PlayOnStage();
  if (hold) return;
  if (whenDone == 0) {
    if (runner.shuttingDown) return;
    stage->FlushSceneReady();
    displayWait_ = true;
    // A display time of 0 still lets the object be seen for a moment.
    runner.WaitPeriod(displayTime ? displayTime : 1);
    if (IsOwnPrimary()) TakeOffStage();
    displayWait_ = false;
  } else if (whenDone == 2 && running && !deferred) {
    stage->compositor().Stamp(*s);
    runner.clock().WakeAll();
  }
}

void CVisibleInsert::ShowWithEffect(StageSprite& s, bool deferred) {
  Runner& runner = *RunnerOf();
  if (runner.shuttingDown) return;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  const bool scriptThread = ctx && !ctx->isMainThread && !ctx->isProjectThread;
  {
    std::lock_guard lock(StageLock());
    s.arrival = -1;
  }
  if (delayMs && showMode != show_mode::kShow && showMode != show_mode::kShowAndPlay && scriptThread)
    runner.WaitPeriod(delayMs);
  if (scriptThread && !runner.sceneLoading) deferred = false;
  if (!deferred) runner.RaiseEvent(*this, event::kGoingOnStage, 0, nullptr);
  Compositor& c = stage->compositor();
  c.Flush(false);
  if (s.owner != this) {
    c.Environment().ReportInternalError("a sprite shown by an insert that does not own it");
    return;
  }
  const uint16_t effect = stage->justCreated ? 0 : showEffect;
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
  if (whenDone != 2) stage->ResetMouse();
  if (FindHandler(event::kOnStage)) {
    c.Flush(false);
    runner.RaiseEvent(*this, event::kOnStage, 0, nullptr);
  }
  runner.RaiseEvent(*this, event::kShown, 0, nullptr);
  c.Flush(false);
}

void CVisibleInsert::TakeOffStage() {
  Runner* r = RunnerOf();
  StageSprite* s = sprite_.get();
  if (!r || !s) return;
  bool wasOn;
  {
    std::lock_guard lock(StageLock());
    wasOn = s->onStage != 0;
    s->motion.stopMotion = true;
  }
  if (!wasOn) return;
  Compositor& c = stage->compositor();
  if (r->shuttingDown || stage->QuitRequested()) {
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

void CVisibleInsert::Hide() {
  if (sprite_) TakeOffStage();
}

void CVisibleInsert::Stop() {
  // The attached sound stops with its object.
  if (Runner* r = RunnerOf(); r && attachedSound && r->Media()) r->Media()->StopAttachedSound(*r, *this);
  if (sprite_) {
    std::lock_guard lock(StageLock());
    sprite_->motion.stopMotion = true;
  }
  SetRunning(0);
}

void CVisibleInsert::Pause() {
  CInsert::Pause();
  if (Runner* r = RunnerOf(); r && attachedSound && r->Media()) r->Media()->PauseAttachedSound(*r, *this);
}

void CVisibleInsert::Resume() {
  CInsert::Resume();
  if (Runner* r = RunnerOf(); r && attachedSound && r->Media()) r->Media()->ResumeAttachedSound(*r, *this);
}

void CVisibleInsert::Prepare() {
  // The object cursor is looked up when the pointer enters the object.
}

void CVisibleInsert::OnEnable() {
  if (sprite_) sprite_->SetDisplayStateRedraw(kStateShown, false);
  SetRunState(run_state::kStarted);
}

void CVisibleInsert::OnDisable() {
  if (runState == run_state::kDisabled) return;
  if (sprite_) sprite_->SetDisplayStateRedraw(kStateDisabled, false);
  SetRunState(run_state::kDisabled);
}

void CVisibleInsert::SimulateClick() {
  HandleStageEvent(event::kCursorEntering);
  HandleStageEvent(event::kLeftButtonPressed);
  HandleStageEvent(event::kLeftButtonReleased);
}

void CVisibleInsert::ShowOnStage() {
  StageSprite* s = sprite_.get();
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
    if (Runner* r = RunnerOf(); r && r->trace()) {
      const Rect d = s->DisplayedRect();
      r->trace()->Show(name, d.left, d.top, d.right, d.bottom);
    }
}

void CVisibleInsert::HideOnStage() {
  StageSprite* s = sprite_.get();
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
    if (Runner* r = RunnerOf(); r && r->trace()) r->trace()->Hide(name);
}

bool CVisibleInsert::IsShown() const {
  std::lock_guard lock(StageLock());
  return sprite_ && sprite_->onStage && sprite_->displayState != kStateHidden;
}

bool CVisibleInsert::IsPlaying() const {
  std::lock_guard lock(StageLock());
  return sprite_ && (sprite_->moving || sprite_->displayState == kStateAppearing ||
                     sprite_->displayState == kStateDisappearing);
}

void CVisibleInsert::MoveTo(int32_t left, int32_t top, int32_t right, int32_t bottom, bool redraw) {
  CInsert::MoveTo(left, top, right, bottom, redraw);
  if (sprite_) sprite_->MoveTo(Rect{left, top, right, bottom}, sprite_->layer, !redraw);
}

Rect CVisibleInsert::GetStageRect() const {
  std::lock_guard lock(StageLock());
  return sprite_ ? sprite_->rect : rect;
}

bool CVisibleInsert::Invalidate() {
  if (!stage) return false;
  StageSprite* s = sprite_.get();
  Rect r = rect;
  if (s) {
    std::lock_guard lock(StageLock());
    r = s->DisplayedRect().Union(rect);
  }
  // The area is redrawn either way: a sprite that just went leaves its place.
  stage->compositor().Update(r);
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
    return choice;
  }
  if (cursorId == kCursorHidden) {
    choice.kind = CursorChoice::Kind::kHidden;
    return choice;
  }
  return std::nullopt;
}

void CVisibleInsert::HandleStageEventAt(uint32_t eventCode, Point at) {
  Runner* r = RunnerOf();
  if (!r || r->sceneChanging) return;
  if (eventCode == event::kCursorEntering) {
    if (auto cursor = ObjectCursor(*r)) stage->SetObjectCursor(&*cursor);
  } else if (eventCode == event::kCursorLeaving) {
    stage->SetObjectCursor(nullptr);
  }
  auto handler = FindHandler(eventCode);
  if (handler && r->sceneLoading && !displayWait_ && LeavesScene(handler->command)) return;
  r->RaiseEvent(*this, eventCode, 8, handler, at.x, at.y);
}

bool CVisibleInsert::TryStagePlay() {
  Runner* r = RunnerOf();
  if (!r) return false;
  if (holdPending) {
    holdPending = 0;
    if (!source.expired()) return true;
  }
  if (waitingForScene) {
    if (r->sceneLoading) stage->FlushSceneReady();
    return true;
  }
  if (IsPlaying()) {
    Stop();
    SetRunning(1);
  }
  StageSprite* s = sprite_.get();
  if (!s || !s->onStage) return false;
  // A hidden sprite leaves so that Run puts the object on afresh, shown and
  // played; that includes an object never started (held, or hidden by a
  // request), which otherwise stayed hidden for good.
  if (s->displayState == kStateHidden &&
      (runState == run_state::kIdle || runState == run_state::kStarted)) {
    stage->compositor().Remove(*s, true);
    return false;
  }
  if (runState != run_state::kStarted) return false;
  PlayOnStage();
  if (whenDone == 0 && running) {
    r->WaitPeriod(displayTime ? displayTime : 1);
    TakeOffStage();
  } else if (whenDone == 2 && running) {
    stage->compositor().Stamp(*s);
    r->clock().WakeAll();
  }
  return true;
}

void CVisibleInsert::PlayOnStage() {
  Runner* r = RunnerOf();
  if (!r) return;
  r->RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  if (path && sprite_) sprite_->PlayPath(*path);
  r->RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
}

void CVisibleInsert::RaiseNodeEvent(uint32_t code) {
  Runner* r = RunnerOf();
  // Raised whether or not a handler answers; the lookup decides what runs.
  if (r && code != 0) r->RaiseEvent(*this, code, 0, nullptr);
}

void CVisibleInsert::PathMoved(size_t node, const Rect& to) {
  if (Runner* r = RunnerOf(); r && r->trace()) r->trace()->Path(name, node, to.left, to.top, to.right, to.bottom);
}

}  // namespace kv
