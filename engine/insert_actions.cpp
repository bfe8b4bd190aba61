// The base record's shared actions that raise events: enabling, disabling,
// showing, hiding, pausing and resuming an insert, as commands and
// extensions ask for them.
#include "engine/events.h"
#include "engine/insert.h"
#include "engine/play_context.h"
#include "engine/runner.h"
#include "persist/project_session.h"

namespace kv {

void CInsert::Pause(PlayContext&) {
  runState = run_state::kPaused;
  if (auto t = thread.lock()) t->paused = true;
}

void CInsert::Resume(PlayContext&) {
  if (runState != run_state::kPaused) return;
  // An insert with no thread of its own (one that plays through a copy) was
  // paused all the same, and resumes as well.
  runState = run_state::kStarted;
  if (auto t = thread.lock()) {
    t->paused = false;
    t->runner.clock().WakeAll();
  }
}

void CInsert::Enable(Runner& runner) {
  if (IsActive() || IsPaused()) return;
  OnEnable(runner.Context());
  SetRunState(run_state::kStarted);
  runner.RaiseEvent(*this, event::kEnabled, 0, nullptr);
}

void CInsert::Disable(Runner& runner) {
  if (!IsActive()) return;
  if (GetCategory() != 2) StopIfPlaying(runner.Context());
  OnDisable(runner.Context());
  SetRunState(run_state::kDisabled);
  runner.RaiseEvent(*this, event::kDisabled, 0, nullptr);
}

void CInsert::ShowInsert(Runner& runner) {
  if (!IsActive() || IsShown()) return;
  ShowOnStage(runner.Context());
  runner.RaiseEvent(*this, event::kShown, 0, nullptr);
}

void CInsert::HideInsert(Runner& runner) {
  if (!IsActive() || !IsShown()) return;
  HideOnStage(runner.Context());
  runner.RaiseEvent(*this, event::kHidden, 0, nullptr);
}

void CInsert::PauseInsert(Runner& runner) {
  if (!IsActive() || IsPaused()) return;
  // An insert playing in a thread of its own hears of it through its copy,
  // which has the thread (and copies of the handlers).
  auto copy = clone.lock();
  runner.RaiseEvent(copy ? *copy : *this, event::kPaused, 0, nullptr);
  Pause(runner.Context());
}

void CInsert::ResumeInsert(Runner& runner) {
  if (!IsPaused()) return;
  Resume(runner.Context());
  auto copy = clone.lock();
  runner.RaiseEvent(copy ? *copy : *this, event::kUnpaused, 0, nullptr);
}

void CInsert::StopIfPlaying(PlayContext& ctx) {
  if (IsActive() && (running || IsPlaying()))
    Stop(ctx);
  else
    SetRunning(0);
}

void CInsert::PreloadCopy(Runner& runner) {
  if (!IsActive() || GetSprite()) return;
  if (auto copy = Clone(runner.Session().play().IsPlaying())) copy->Prepare(runner.Context());
}

}  // namespace kv
