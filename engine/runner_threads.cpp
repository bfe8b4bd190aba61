// Engine threads: the project thread, script and object threads, their
// registry, and stopping and joining them.
#include "engine/runner.h"

#include <algorithm>

#include "engine/bottom.h"
#include "engine/wait.h"
#include "persist/document.h"
#include "persist/project_session.h"
#include "platform/paths.h"

namespace kv {

// --- ScriptThreadContext

ScriptThreadContext::ScriptThreadContext(Runner& r, std::string name, uint32_t seed)
    : runner(r), port(r.clock()), traceName(std::move(name)), random(seed) {}

ScriptThreadContext::~ScriptThreadContext() {
  if (osThread.joinable()) {
    // Only the runner's Shutdown joins; a context dying with a live thread
    // would be a fault in the teardown order.
    osThread.detach();
  }
}

std::shared_ptr<ScriptThreadContext> ScriptThreadContext::Create(Runner& runner, std::string traceName,
                                                                 uint32_t seed) {
  auto context = std::make_shared<ScriptThreadContext>(runner, std::move(traceName), seed);
  context->self = context;
  return context;
}

void ScriptThreadContext::JoinOs() {
  std::lock_guard lock(joinMutex_);
  if (osThread.joinable() && osThread.get_id() != std::this_thread::get_id()) osThread.join();
}

bool ScriptThreadContext::PushFrame() {
  if (callDepth > kMaxCallFrames - 2) return false;
  ++callDepth;
  callStack[callDepth] = CallFrame{currentScript, nextPosition, endPosition};
  return true;
}

bool ScriptThreadContext::PopFrame(bool restore, DocPtr* saved) {
  if (callDepth < 0) return false;
  CallFrame frame = std::move(callStack[callDepth]);
  callStack[callDepth] = {};
  --callDepth;
  if (saved) *saved = frame.script;
  if (restore) {
    currentScript = frame.script;
    nextPosition = frame.next;
    endPosition = frame.end;
  }
  return true;
}

void ScriptThreadContext::SetScript(DocPtr script) {
  currentScript = std::move(script);
  if (currentScript) runner.TraceScript(*this, *currentScript);
}

void Runner::ProjectThreadMain() {
  ScriptThreadContext& ctx = *projectThread_;
  ScriptThreadContext::SetCurrent(&ctx);
  for (;;) {
    {
      std::lock_guard lock(endLock_);
      if (runEnding_) break;
      shuttingDown = false;
    }
    abortRequested = false;
    sceneChanging = false;
    restartRequested = false;
    ctx.callDepth = -1;
    ctx.SetScript(project_);
    ctx.nextPosition = project_->items.empty() ? kNoPosition : 0;
    ctx.endPosition = kNoPosition;
    for (size_t i = 0; i < project_->items.size(); ++i)
      if (std::dynamic_pointer_cast<CBottom>(project_->items[i])) {
        ctx.endPosition = static_cast<int64_t>(i);
        break;
      }
    RunScript(run_mode::kScript);
    if (!restartRequested) break;
    abortCount_ = 0;
    aborted_ = false;
    // A restart: every other thread ends first, then the project starts anew.
    shuttingDown = true;
    WakeEveryone();
    for (auto& t : ScriptThreads()) StopThread(*t);
    for (auto& t : ScriptThreads()) JoinThread(*t, kForever);
    variables_.BuildRuntimeVariables(facts_);
    variables_.LoadVariables();
  }
  shuttingDown = true;
  WakeEveryone();
  for (auto& t : ScriptThreads()) StopThread(*t);
  for (auto& t : ScriptThreads()) JoinThread(*t, kForever);
  ctx.currentScript.reset();
  ctx.currentInsert.reset();
  playerRunning = false;
  ended_ = true;
  ctx.done = true;
  ScriptThreadContext::SetCurrent(nullptr);
  // Waiters on this thread are woken before it stops counting as busy, or
  // the virtual clock could jump to their deadline first.
  clock().WakeAll();
  clock().Leave(ctx.port.waiter());
}

std::shared_ptr<ScriptThreadContext> Runner::StartObjectThread(const InsertPtr& insert) {
  if (shuttingDown || !insert->running) return nullptr;
  insert->auxByte = 3;
  auto t = ScriptThreadContext::Create(*this, "script:" + insert->name, NextSeed());
  t->playedInsert = insert;
  if (!LaunchThread(t, [this, t, insert] { ObjectThreadMain(t, insert); })) return nullptr;
  ScriptThreadContext* caller = ScriptThreadContext::Current();
  // The caller waits, serving nothing, until the copy exists and reports
  // itself shown, so whatever it does next finds the copy on the stage. The
  // copy clears its signal at the start and wakes the clock when it raises
  // it; a copy that cannot show ends the wait by its thread stopping or
  // ending. The thread's own start never needs the caller.
  Waiter local;
  Waiter& w = caller ? caller->port.waiter() : local;
  auto shownOrGone = [&] {
    if (t->done || t->abortFlag || shuttingDown || IsStopRequested()) return true;
    if (!t->ready) return false;
    auto copy = t->playedCopy.lock();
    return !copy || copy->GetShownSignal() != 0;
  };
  // A wake meant for another party (a message posted to the caller) ends
  // one wait, not the watch.
  while (!shownOrGone() && !clock().Halted()) clock().Wait(w, kForever, shownOrGone);
  return t;
}

void Runner::ObjectThreadMain(std::shared_ptr<ScriptThreadContext> self, InsertPtr insert) {
  ScriptThreadContext::SetCurrent(self.get());
  auto script = std::make_shared<CStgDoc>();
  script->pathName = insert->name;
  InsertPtr copy = insert->Clone(Session().play().IsPlaying());
  if (copy) {
    copy->source = insert;
    copy->running = insert->running.load();
    copy->thread = self;
    insert->clone = copy;
    self->playedCopy = copy;
    // The signal is cleared before `ready`, so the launcher never mistakes
    // the fresh copy's default for its first showing.
    copy->SetShownSignal(0);
    auto wait = std::make_shared<CWait>();
    wait->conditions = wait_condition::kStopOnly;
    wait->active = 1;
    auto bottom = std::make_shared<CBottom>();
    bottom->active = 1;
    script->items = {copy, wait, bottom};
    script->sourceDoc = script;
    self->privateScript = script;
    self->currentScript = script;
    self->nextPosition = 0;
    self->endPosition = 2;
  }
  self->ready = true;
  clock().WakeAll();
  if (copy && !shuttingDown) RunInsertList(run_mode::kScript);
  StopScriptInserts(script);
  self->currentScript.reset();
  self->currentInsert.reset();
  self->privateScript.reset();
  insert->clone.reset();
  ScriptThreadContext::SetCurrent(nullptr);
  self->done = true;
  clock().WakeAll();
  clock().Leave(self->port.waiter());
}

void Runner::StopThread(ScriptThreadContext& t) {
  if (auto played = t.playedInsert.lock()) {
    // The thread's own record of its copy: the insert's link is cleared by
    // that thread as it ends, perhaps right now.
    if (auto copy = t.ready ? t.playedCopy.lock() : nullptr) {
      copy->Stop(context_);
      copy->SetRunning(0);
    }
    played->SetRunning(0);
  }
  t.abortFlag = true;
  t.port.PostKey(stopKey);
  clock().WakeAll();
}

void Runner::JoinThread(ScriptThreadContext& t, int64_t firstLimitMs) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (ctx == &t) return;  // never wait on oneself
  Waiter local;
  Waiter& w = ctx ? ctx->port.waiter() : local;
  int64_t deadline = firstLimitMs == kForever ? kForever : Now() + firstLimitMs;
  auto done = [&] { return t.done.load(); };
  // A wake meant for another change ends one wait, not the grace period.
  while (!done() && Now() < deadline && !clock().Halted()) clock().Wait(w, deadline, done);
  if (!done()) {
    t.port.PostKey(stopKey);
    t.abortFlag = true;
    while (!done() && !clock().Halted()) clock().Wait(w, kForever, done);
  }
  t.JoinOs();
}

// --- registry

void Runner::Register(const std::shared_ptr<ScriptThreadContext>& thread) {
  // Threads that have ended leave the registry here and are joined, so a
  // long run that starts many object threads keeps no finished ones.
  std::vector<std::shared_ptr<ScriptThreadContext>> ended;
  {
    std::lock_guard lock(registryLock_);
    auto finished = [](const std::shared_ptr<ScriptThreadContext>& t) { return t->done.load(); };
    std::copy_if(threads_.begin(), threads_.end(), std::back_inserter(ended), finished);
    threads_.erase(std::remove_if(threads_.begin(), threads_.end(), finished), threads_.end());
    threads_.push_back(thread);
  }
  for (auto& t : ended) t->JoinOs();
}

std::vector<std::shared_ptr<ScriptThreadContext>> Runner::ScriptThreads() {
  std::lock_guard lock(registryLock_);
  std::vector<std::shared_ptr<ScriptThreadContext>> live;
  for (auto& t : threads_)
    if (!t->done) live.push_back(t);
  return live;
}

size_t Runner::LiveScriptThreads() { return ScriptThreads().size(); }

ScriptThreadContext* Runner::ThreadOf(const CInsert& insert) {
  auto t = insert.thread.lock();
  return t.get();
}

void Runner::RegisterForEvents(CInsert& insert) {
  if (ScriptThreadContext* ctx = ScriptThreadContext::Current()) insert.thread = ctx->shared_from_this();
}

std::shared_ptr<ScriptThreadContext> Runner::StartScriptThread(const DocPtr& script) {
  if (shuttingDown || !script) return nullptr;
  auto t = ScriptThreadContext::Create(*this, "script:" + FileTitle(script->pathName), NextSeed());
  const bool started = LaunchThread(t, [this, t, script] {
    ScriptThreadContext::SetCurrent(t.get());
    t->SetScript(script);
    t->nextPosition = script->items.empty() ? kNoPosition : 0;
    t->endPosition = static_cast<int64_t>(script->items.size()) - 1;
    t->ready = true;
    clock().WakeAll();
    RunScript(run_mode::kScript);
    ReleaseScript(script);
    t->currentScript.reset();
    t->currentInsert.reset();
    ScriptThreadContext::SetCurrent(nullptr);
    t->done = true;
    clock().WakeAll();
    clock().Leave(t->port.waiter());
  });
  return started ? t : nullptr;
}

bool Runner::LaunchThread(const std::shared_ptr<ScriptThreadContext>& t, std::function<void()> body) {
  // The check and the start are one step for Shutdown: every thread it has
  // to join has its OS thread by the time it looks.
  std::lock_guard lock(endLock_);
  if (runEnding_) return false;
  Register(t);
  clock().Join(t->port.waiter());
  t->osThread = std::thread(std::move(body));
  return true;
}

}  // namespace kv
