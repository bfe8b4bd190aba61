// Events and command routing: raising an insert's event, choosing the
// thread a handler's command runs on, posting and executing requests.
#include "engine/runner.h"

#include "engine/flow.h"
#include "engine/trace.h"

namespace kv {

// --- requests and events

bool Runner::PostRequest(ScriptThreadContext* target, std::unique_ptr<Request> request, bool direct) {
  if (!target || !request) return false;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (ctx && ctx->isMainThread && target->isMainThread && sceneChanging) return true;
  if (target->done) return false;
  if (direct && target->port.HandDirect(request)) return true;
  Message m;
  m.kind = MsgKind::kRequest;
  m.request = std::move(request);
  target->port.Post(std::move(m));
  return true;
}

int Runner::ExecuteRequest(std::unique_ptr<Request> request) {
  if (!request) return 0;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if ((ctx && ctx->abortFlag) || IsStopRequested() || shuttingDown) return 0;
  if (request->code >= command::kEventOccurred) return 0;  // only wakes the thread
  auto flow = std::make_shared<CFlow>();
  flow->command = request->code;
  flow->argument = request->argument;
  flow->requestParams = request->params;
  flow->requestNumber = request->number;
  flow->subArgs = std::move(request->subArgs);
  flow->active = 1;
  InsertPtr source = request->source.lock();
  InsertPtr owner = source;
  uint32_t eventCode = static_cast<uint32_t>(request->extra[1]);
  if (ctx) {
    ctx->eventCode = eventCode;
    ctx->eventX = request->x;
    ctx->eventY = request->y;
  }
  if (auto handler = std::dynamic_pointer_cast<CFlow>(source)) {
    owner = handler->GetOwner();
    flow->name = handler->name;
    flow->delayMs = handler->delayMs;
    eventCode = handler->eventCode;
    if (trace() && owner && owner.get() != handler.get())
      trace()->Handler(ScriptThreadContext::CurrentTraceName(), owner->name, eventCode, request->code);
  }
  flow->eventCode = eventCode;
  if (owner) flow->owner = owner;
  if ((request->flags & 1) && owner) owner->playRequested.exchange(1);
  if (ctx) flow->thread = ctx->shared_from_this();
  return RunGuarded(flow, run_mode::kHandler);
}

int Runner::RaiseEvent(CInsert& insert, uint32_t eventCode, int kind, std::shared_ptr<CFlow> handler, int32_t x,
                       int32_t y) {
  if (!playerRunning || shuttingDown || sceneChanging) return 1;
  auto ownThread = insert.thread.lock();
  if (!ownThread) return 1;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (!handler && eventCode != 0) handler = insert.FindHandler(eventCode);
  uint32_t traced = eventCode != 0 ? eventCode : (handler ? handler->eventCode : 0);
  const bool selfStep = handler && handler.get() == &insert;
  if (trace() && traced != 0 && traced != event::kNoEvent && !selfStep)
    trace()->Event(ScriptThreadContext::CurrentTraceName(), insert.name, traced);
  if (!handler) {
    if (kind & 1) {
      auto r = std::make_unique<Request>();
      r->code = command::kEventOccurred;
      PostRequest(ownThread.get(), std::move(r), false);
      return 1;
    }
    return 0;
  }
  std::unique_lock lock(eventLock_);
  const bool forceRequest = kind == 8 || kind == 10;
  if (!forceRequest && ctx) ctx->currentInsert = insert.shared_from_this();
  bool direct = false;
  InsertPtr named;
  ScriptThreadContext* target = TargetOfCommand(insert, *handler, handler->command, kind, direct, named);
  if (!target) {
    // The object the command names has no thread to serve it.
    variables_.SetLastError(3);
    return 1;
  }
  if (target == ctx && !forceRequest) {
    lock.unlock();
    if (IsStopRequested()) return 1;
    if (!selfStep && trace()) {
      InsertPtr owner = handler->GetOwner();
      trace()->Handler(ctx->traceName, owner ? owner->name : insert.name, handler->eventCode, handler->command);
    }
    if (!selfStep && !handler->owner.lock()) handler->owner = insert.shared_from_this();
    handler->thread = ctx->shared_from_this();
    return RunGuarded(handler, run_mode::kHandler) != 0 || selfStep ? 1 : 0;
  }
  auto r = std::make_unique<Request>();
  r->code = handler->command;
  r->argument = handler->argument;
  r->source = handler;
  r->extra[0] = kind;
  r->extra[1] = static_cast<int32_t>(handler->eventCode);
  r->x = x;
  r->y = y;
  if (!handler->owner.lock()) handler->owner = insert.shared_from_this();
  PostRequest(target, std::move(r), direct);
  lock.unlock();
  return 1;
}

ScriptThreadContext* Runner::TargetOfCommand(CInsert& raiser, CFlow& handler, uint16_t code, int kind, bool& direct,
                                             InsertPtr& named) {
  direct = false;
  auto own = raiser.thread.lock();
  ScriptThreadContext* ownThread = own.get();
  switch (code) {
    case 6: case 8: case 43: case 44: case 52: case 58: case 59: case 66: case 71: case 72: case 73: case 80:
    case 47:
      return mainThread_ ? mainThread_.get() : ownThread;
    case 10: case 32: case 33:
      return kind == 8 ? projectThread_.get() : ownThread;
    case 11: case 27: case 46:
      if (code != 27) {
        sceneChanging = true;
        if (projectThread_) projectThread_->port.FlushRequests();
        // A new project ends this run only once its file is known to open
        // (the command itself stops the run); a halt stops it now.
        if (code == 11) abortRequested = true;
      }
      return projectThread_.get();
    case 12: case 13: case 14: case 24: case 25: case 39: case 40: case 41: case 42: case 48: case 64: case 65:
    case 68: {
      if (code == 39 || code == 40 || code == 42 || code == 65)
        named = handler.GetOwner();
      else
        named = FindObject(handler.argument, true);
      if (!named) return ownThread;
      if (code == 41 || code == 42 || code == 64 || code == 65) named->playRequested.exchange(1);
      InsertPtr target = named->clone.lock() ? named->clone.lock() : named;
      if (ScriptThreadContext* t = ThreadOf(*target)) return t;
      if (code == 41 || code == 48) return projectThread_.get();
      if (code == 64 || code == 65) return ownThread;
      return nullptr;
    }
    case 16:
      direct = true;
      return ownThread;
    case 34: case 35: case 36: case 53:
      direct = true;
      return projectThread_.get();
    default:
      return ownThread;
  }
}

}  // namespace kv
