// Builtins that move the project: calls and jumps between scripts, scene
// changes, a new project, halting, advancing, the stage clearing, and the
// wait that keeps the thread serving its messages.
#include <cstdio>

#include "engine/commands.h"
#include "engine/flow.h"
#include "engine/runner.h"
#include "ext/basic_insert.h"
#include "ext/orlan_binding.h"
#include "ext/orlan_builtins.h"

namespace kv {

namespace {

// The flow builtins act only while a project runs and the run is not ending;
// the jumps also need the insert on whose behalf the script runs.
bool CanMove(BuiltinCall& c, bool needsCaller) {
  if (!c.runner.playerRunning || c.runner.shuttingDown) return false;
  return !needsCaller || c.Caller() != nullptr;
}

std::shared_ptr<CInsert> CallerPtr(BuiltinCall& c) {
  CBasic* basic = c.Caller();
  return basic ? basic->shared_from_this() : nullptr;
}

ScriptThreadContext* CallerThread(BuiltinCall& c) {
  CBasic* basic = c.Caller();
  ScriptThreadContext* own = basic ? c.runner.ThreadOf(*basic) : nullptr;
  return own ? own : ScriptThreadContext::Current();
}

void ClearStage(BuiltinCall& c) {
  if (CanMove(c, false)) c.Post(c.runner.ProjectThread(), command::kClearTheStage, {}, CallerPtr(c));
}

// The terminal's bell stands for the system beep.
void JustBeep(BuiltinCall&) {
  std::fputc('\a', stderr);
  std::fflush(stderr);
}

// A transient Script Flow insert calls the script like a subroutine, on
// this thread.
void CallScript(BuiltinCall& c) {
  if (!CanMove(c, false)) return;
  auto flow = std::make_shared<CFlow>();
  flow->command = command::kCallFreestyleScript;
  flow->argument = c.args.GetString(1);
  flow->active = 1;
  if (auto self = CallerPtr(c)) flow->owner = self;
  if (ScriptThreadContext* ctx = ScriptThreadContext::Current()) flow->thread = ctx->shared_from_this();
  orlan::Thread::Unlock unlock(c.thread);
  c.runner.RunGuarded(flow, run_mode::kScript);
}

void GotoScript(BuiltinCall& c) {
  if (CanMove(c, true)) c.Post(CallerThread(c), command::kGoToFreestyleScript, c.args.GetString(1), CallerPtr(c), true);
}

void RunProject(BuiltinCall& c) {
  if (CanMove(c, true)) c.Post(c.runner.MainThread(), command::kRunNewProject, c.args.GetString(1), CallerPtr(c));
}

void GotoScene(BuiltinCall& c) {
  if (CanMove(c, true)) c.Post(c.runner.ProjectThread(), command::kGoToScene, c.args.GetString(1), CallerPtr(c), true);
}

void HaltProject(BuiltinCall& c) {
  if (CanMove(c, false)) c.Post(c.runner.ProjectThread(), command::kHaltProject, {}, CallerPtr(c));
}

void Advance(BuiltinCall& c) {
  if (CanMove(c, false)) c.Post(CallerThread(c), command::kAdvanceThisThread, {}, CallerPtr(c));
}

void Retreat(BuiltinCall& c) {
  if (CanMove(c, false)) c.Post(CallerThread(c), command::kRetreatThisScript, {}, CallerPtr(c));
}

// Waits serving the thread's messages; True when the time ran out.
void Wait(BuiltinCall& c) {
  if (c.runner.shuttingDown) {
    c.args.SetBoolean(0, false);
    return;
  }
  const int64_t ms = std::max<int32_t>(c.args.GetLong(1), 1);
  bool ranOut;
  {
    orlan::Thread::Unlock unlock(c.thread);
    ranOut = c.runner.WaitPeriod(ms, true);
  }
  c.args.SetBoolean(0, ranOut);
}

void Nothing(BuiltinCall&) {}
bool QuickNothing(BuiltinCall&) { return true; }

}  // namespace

void InstallFlowBuiltins(BuiltinTable& table) {
  table.Set(1, ClearStage);
  table.Set(2, JustBeep);
  table.Set(3, CallScript);
  table.Set(24, HaltProject);
  table.Set(25, Advance);
  table.Set(26, Retreat);
  table.Set(44, GotoScript);
  table.Set(45, RunProject);
  table.Set(146, GotoScene);
  table.Set(151, Wait);
  // Saving scripts and editing them belong to the authoring tool; the player
  // accepts the calls and does nothing.
  for (uint32_t id : {96u, 105u, 107u}) {
    table.Set(id, Nothing);
    SetQuick<QuickNothing>(table, id);
  }
}

}  // namespace kv
