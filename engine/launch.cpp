#include "engine/launch.h"

#include "persist/field_walk.h"
#include "persist/fields.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/events.h"
#include "engine/trace.h"
#include "platform/launcher.h"

namespace kv {

KV_IMPLEMENT_CLASS(CLaunch, CInsert, 0)

void CLaunch::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
}

template <class W>
void CLaunch::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("launchVersion", launchVersion, 2, 1, "CLaunch");
  if (version >= 2) w("launchValue", launchValue);
  w("program", program);
  w("parameters", parameters);
  w("launchFlag", launchFlag);
  w("closeOnStop", closeOnStop);
  w("launchValue2", launchValue2);
}

KV_FIELD_WALK_IO(CLaunch)

void CLaunch::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CLaunch>(other));
}

// --- behaviour

bool CLaunch::WantsOwnThread(PlayContext&) const {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  return ctx && ctx->isProjectThread && ctx->runner.playerRunning;
}

void CLaunch::Stop(PlayContext&) {
  SetRunning(0);
  if (auto t = thread.lock()) t->runner.clock().Wake(t->port.waiter());
}

int CLaunch::Run(Runner& runner, int32_t mode) {
  if (process_ && process_->Running()) return 0;
  runMode = mode == run_mode::kScript ? 1 : mode;
  const std::string prog = runner.ExpandNames(program);
  const std::string params = runner.ExpandNames(parameters);
  if (prog.empty()) {
    if (params.empty()) return 0;
    DocumentOpener* opener = runner.Documents();
    if (!opener || !opener->Open(params)) throw KVRunException(sid::kNoDefaultViewer, params);
    if (runner.trace()) runner.trace()->Launch("xdg-open", {params});
    runner.RegisterForEvents(*this);
    runner.RaiseEvent(*this, event::kSetup, 0, nullptr);
    runner.RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
    runner.RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
    return 1;
  }
  ProgramLauncher* launcher = runner.Launcher();
  if (!launcher) throw KVRunException(sid::kExecutionFailed, prog + " (no program launcher in this run)");
  LaunchCommand command = launcher->Command(params.empty() ? prog : prog + " " + params);
  LaunchResult started = launcher->Start(command);
  if (!started.program) throw KVRunException(sid::kExecutionFailed, prog);
  process_ = std::shared_ptr<LaunchedProgram>(std::move(started.program));
  if (runner.trace()) runner.trace()->Launch(command.program, command.arguments);
  if (auto handle = runner.variables().FindRuntime("rwhShelledProcess"))
    runner.variables().StoreNumber(*handle, process_->Pid());
  runner.RegisterForEvents(*this);
  runner.RaiseEvent(*this, event::kSetup, 0, nullptr);
  runner.DelayBeforeActing(*this, mode);
  bool resumed = false;
  if (!runner.IsStopRequested()) {
    runner.RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
    resumed = process_->Resume() == 0;
    // A real program ends in real time. On the virtual clock it takes no
    // virtual time: the thread serves its messages without waiting on the
    // clock and looks at the program every 10 ms of real time.
    const bool virtualTime = runner.clock().IsVirtual();
    while (resumed && process_->Running() && running && !runner.IsStopRequested()) {
      Message m = runner.PumpMessage(true, virtualTime ? runner.Now() : runner.Now() + 125);
      if (m.IsKeyDown() && m.key == runner.stopKey) break;
      if (virtualTime && !m) process_->Wait(10);
    }
  }
  // A program stopped during its start delay never ran; end it as well.
  if (process_->Running() && (closeOnStop || !resumed)) process_->Close(3000);
  process_.reset();
  runner.RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
  return 1;
}

}  // namespace kv
