// Waits: pumping a thread's port, serving requests while waiting, and the
// stop key.
#include "engine/runner.h"

#include "engine/commands.h"
#include "engine/events.h"
#include "engine/insert.h"
#include "persist/document.h"

namespace kv {

namespace {

// Requests a wait that does not execute requests still serves.
bool ServedWhileWaiting(uint16_t code) {
  switch (code) {
    case 13: case 14: case 24: case 25: case 39: case 40: case 52: case 54:
    case 70: case 71: case 74: case 75: case 77: case 78:
      return true;
    default:
      return false;
  }
}

}  // namespace

// --- waiting

Message Runner::PumpMessage(bool executeRequests, int64_t deadline) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (!ctx) return {};
  while (ctx->paused && !shuttingDown && !ctx->abortFlag)
    clock().Wait(ctx->port.waiter(), kForever,
                 [this, ctx] { return !ctx->paused || shuttingDown.load() || ctx->abortFlag.load(); });
  for (;;) {
    Message m = ctx->port.Get(deadline, [this, ctx] { return shuttingDown.load() || ctx->abortFlag.load(); });
    if (!m) return m;
    if (m.IsKeyDown() && m.key == stopKey) {
      if (!m.posted || abortRequested) {
        // A key the user pressed (not one posted to end a wait) aborts.
        if (ctx->isProjectThread && !shuttingDown) AbortProject();
      }
      return m;
    }
    if (m.kind == MsgKind::kRequest) {
      if (!m.request) continue;
      uint16_t code = m.request->code;
      if (executeRequests || ServedWhileWaiting(code)) {
        if (ctx->isProjectThread && ctx->currentScript && ctx->currentScript->isScene) variables_.SetLastError(0);
        ExecuteRequest(std::move(m.request));
      } else if (code == command::kPlayObject || code == command::kPlayThisObject) {
        if (auto src = m.request->source.lock()) src->playRequested.exchange(0);
      } else if (code == command::kHaltProject) {
        ctx->port.FlushRequests();
        abortRequested = true;
        if (projectThread_) projectThread_->port.PostKey(stopKey);
      }
      continue;
    }
    return m;
  }
}

void Runner::WaitForAdvance(const std::atomic<int>* counter) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (!ctx) return;
  for (;;) {
    if (ctx->port.HasDirect()) {
      if (ExecuteRequest(ctx->port.TakeDirect())) break;
    } else {
      Message m = PumpMessage(true, kForever);
      if (m.IsKeyDown() && m.key == stopKey) break;
    }
    if (IsStopRequested() || (counter && counter->load() <= 0)) break;
  }
}

bool Runner::WaitPeriod(int64_t ms, bool executeRequests) {
  if (ms <= 0) ms = 1;
  const int64_t deadline = Now() + ms;
  for (;;) {
    if (IsStopRequested()) return false;
    if (Now() >= deadline) return true;
    Message m = PumpMessage(executeRequests, deadline);
    if (m.IsKeyDown() && m.key == stopKey) return false;
  }
}

void Runner::DelayBeforeActing(CInsert& insert, int32_t mode) {
  if (shuttingDown) return;
  insert.Prepare(context_);
  if (insert.delayMs != 0 && (insert.showMode == show_mode::kShow || insert.showMode == show_mode::kShowAndPlay)) {
    const int64_t deadline = Now() + insert.delayMs;
    while (Now() < deadline && !IsStopRequested()) {
      Message m = PumpMessage(true, deadline);
      if (m.IsKeyDown() && m.key == stopKey) break;
    }
  }
  if (mode == run_mode::kScript || mode == run_mode::kHandler) RaiseEvent(insert, event::kLoaded, 0, nullptr);
}

}  // namespace kv
