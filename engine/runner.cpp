#include "engine/runner.h"

#include "engine/strings.h"

#include <algorithm>
#include <ctime>
#include <optional>

#include "engine/bottom.h"
#include "engine/commands.h"
#include "engine/events.h"
#include "engine/flow.h"
#include "engine/kinds.h"
#include "engine/label.h"
#include "engine/stage_link.h"
#include "engine/trace.h"
#include "engine/wait.h"
#include "persist/document.h"
#include "persist/project_session.h"
#include "persist/project_tree.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"

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

std::string ClassName(const CInsert& insert) { return insert.GetClassInfo().name; }

}  // namespace

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

// --- Runner

namespace {

// The session a runner plays in: the given one, or an empty one of its own.
ProjectSession& SessionFor(RunnerServices& services, std::unique_ptr<ProjectSession>& own) {
  if (!services.session) {
    own = std::make_unique<ProjectSession>();
    services.session = own.get();
  }
  return *services.session;
}

}  // namespace

Runner::Runner(RunnerServices services, RuntimeFacts facts)
    : services_(std::move(services)),
      variables_(*this),
      facts_(std::move(facts)),
      context_{*this, SessionFor(services_, ownSession_), nullptr, nullptr, nullptr, nullptr} {
  variables_.BuildRuntimeVariables(facts_);
}

Runner::~Runner() { Shutdown(); }

uint32_t Runner::NextSeed() {
  uint32_t order = threadsStarted_.fetch_add(1);
  if (services_.seeded) return services_.seed * 2654435761u + order * 40503u + 1;
  return static_cast<uint32_t>(Now()) ^ (order * 2654435761u) ^ static_cast<uint32_t>(time(nullptr));
}

void Runner::Start(DocPtr project, std::shared_ptr<ScriptThreadContext> mainThread) {
  project_ = std::move(project);
  mainThread_ = std::move(mainThread);
  if (mainThread_) mainThread_->isMainThread = true;
  stopKey = project_ && project_->settings.exitKey ? project_->settings.exitKey : 0x1B;
  variables_.BuildRuntimeVariables(facts_);
  variables_.LoadVariables();
  playerRunning = true;
  projectThread_ = ScriptThreadContext::Create(*this, "project", NextSeed());
  projectThread_->isProjectThread = true;
  clock().Join(projectThread_->port.waiter());
  projectThread_->osThread = std::thread([this] { ProjectThreadMain(); });
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

void Runner::Shutdown() {
  {
    std::lock_guard lock(endLock_);
    runEnding_ = true;
    shuttingDown = true;
  }
  std::vector<std::shared_ptr<ScriptThreadContext>> all;
  {
    std::lock_guard lock(registryLock_);
    all = threads_;
  }
  for (auto& t : all) t->abortFlag = true;
  // Every wait on the clock ends now and at once from here on: a thread that
  // checked for a stop just before it began to wait is not left waiting for
  // a time that no longer comes.
  clock().Halt();
  // Every thread is joined, finished ones too: a thread that has marked
  // itself done still touches the clock on its way out.
  if (projectThread_) projectThread_->JoinOs();
  for (auto& t : all) t->JoinOs();
  std::lock_guard lock(registryLock_);
  threads_.clear();
}

void Runner::WakeEveryone() { clock().WakeAll(); }

void Runner::RequestRestart() { restartRequested = true; }

bool Runner::IsStopRequested() {
  // A requested abort ends every thread's work at once, not only the
  // project thread's: nothing runs after "Halt project!" or a No answer.
  if (shuttingDown || abortRequested) return true;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (!ctx) return false;
  if (ctx->currentScript && (ctx->stepBackPending || ctx->labelJumpPending)) return true;
  return ctx->abortFlag.load();
}

void Runner::TraceScript(ScriptThreadContext& thread, const CStgDoc& script) {
  if (trace()) trace()->Script(thread.traceName, script.pathName);
}

void Runner::TraceRun(ScriptThreadContext& thread, const CStgDoc& script, int64_t index, const CInsert& insert) {
  if (trace()) trace()->Run(thread.traceName, script.pathName, index, insert.name, ClassName(insert));
}

int Runner::RunGuarded(const InsertPtr& insert, int32_t mode) {
  try {
    // A kind that loads and stores but has no behaviour yet is never skipped in silence.
    if (const KindInfo* kind = FindKind(insert->GetClassInfo().name); kind && kind->plays.needs)
      throw KVRunException(sid::kRunTimeError, NotBuiltDetail(*kind));
    return insert->Run(*this, mode);
  } catch (const KVRunException& e) {
    if (!shuttingDown) ReportRunError(insert.get(), e.id, e.Detail());
  } catch (const std::exception&) {
    if (!shuttingDown)
      ReportRunError(insert.get(), sid::kObjectCrashed, insert->name.empty() ? insert->comment : insert->name);
  }
  return 0;
}

void Runner::RunScript(int32_t mode) {
  ScriptThreadContext& ctx = *ScriptThreadContext::Current();
  // The end of the script: idle at the end of a scene; a jump or step back
  // asked for meanwhile restarts from the first insert. Answers whether the
  // loop goes on.
  auto atEnd = [&]() -> bool {
    DocPtr before = ctx.currentScript;
    int64_t nextBefore = ctx.nextPosition;
    EndOfScript(ctx);
    if (shuttingDown || ctx.abortFlag) return false;
    if (ctx.labelJumpPending || ctx.stepBackPending) {
      if (ctx.stepBackPending) {
        ctx.stepBackPending = false;
        ctx.nextPosition = 0;
      }
      return true;
    }
    return ctx.currentScript != before || ctx.nextPosition != nextBefore;
  };
  for (;;) {
    if (!ctx.currentScript) break;
    auto& items = ctx.currentScript->items;
    const int64_t count = static_cast<int64_t>(items.size());
    int64_t index;
    if (ctx.labelJumpPending) {
      ctx.labelJumpPending = false;
      std::string label = std::move(ctx.pendingLabel);
      ctx.pendingLabel.clear();
      if (IsStopRequested()) break;
      int64_t found = kNoPosition;
      for (int64_t i = 0; i < count; ++i) {
        auto* l = As<CLabel>(items[i].get());
        if (l && EqualsNoCase(l->labelName, label)) {
          found = i;
          break;
        }
      }
      if (found == kNoPosition || found + 1 >= count) {
        // Answered Yes: go on after the jump, never back onto it.
        ReportRunError(ctx.currentInsert.get(), sid::kNoSuchLabel, label);
        if (IsStopRequested()) break;
        if (ctx.nextPosition == kNoPosition && !atEnd()) break;
        continue;
      }
      index = found + 1;
    } else if (ctx.stepBackPending) {
      ctx.stepBackPending = false;
      if (IsStopRequested()) break;
      index = (ctx.nextPosition == kNoPosition ? count : ctx.nextPosition) - 1;
      if (index < 0) {
        if (!atEnd()) break;
        continue;
      }
    } else {
      if (IsStopRequested()) break;
      if (ctx.nextPosition == kNoPosition || ctx.nextPosition >= count) {
        ctx.nextPosition = kNoPosition;
        if (!atEnd()) break;
        continue;
      }
      index = ctx.nextPosition;
    }
    // The script owns its inserts: an aliasing pointer costs one count, not a cast's two.
    CInsert* raw = As<CInsert>(items[index].get());
    InsertPtr insert = raw ? InsertPtr(items[index], raw) : nullptr;
    ctx.nextPosition = index + 1 < count ? index + 1 : kNoPosition;
    ctx.currentInsert = insert;
    DocPtr scriptBefore = ctx.currentScript;
    if (ctx.port.HasDirect()) {
      auto request = ctx.port.TakeDirect();
      ctx.port.FlushRequests();
      int64_t nextBefore = ctx.nextPosition;
      if (!shuttingDown) ExecuteRequest(std::move(request));
      // The insert the loop had reached still plays unless the request moved
      // the thread elsewhere.
      bool moved = ctx.currentScript != scriptBefore || ctx.nextPosition != nextBefore ||
                   ctx.labelJumpPending || ctx.stepBackPending;
      if (!moved && insert && !shuttingDown) {
        ctx.playingIndex = index;
        PlayInsert(insert, mode, play_option::kOnlyActive | play_option::kSkipDisabled);
      }
    } else if (insert) {
      ctx.playingIndex = index;
      PlayInsert(insert, mode, play_option::kOnlyActive | play_option::kSkipDisabled);
    }
    ctx.playingIndex = kNoPosition;
    if (shuttingDown) break;
    if (ctx.currentScript != scriptBefore || ctx.labelJumpPending || ctx.stepBackPending) continue;
    if (ctx.nextPosition == kNoPosition || index == ctx.endPosition) {
      ctx.nextPosition = kNoPosition;
      if (!atEnd()) break;
    }
  }
  LeaveScript(ctx);
}

void Runner::EndOfScript(ScriptThreadContext& ctx) {
  DocPtr script = ctx.currentScript;
  if (!script || !ctx.isProjectThread) return;
  if (script->isScene && script != project_) {
    sceneLoading = false;
    if (services_.stage && !shuttingDown) services_.stage->SceneReady();
    WakeEveryone();
    if (!ctx.port.HasDirect()) {
      std::atomic<int> forever{1};
      WaitForAdvance(&forever);
    }
    // A request served while idling may have moved on; a direct request
    // (scene change) handed during the idle runs now.
    if (ctx.port.HasDirect() && !shuttingDown) {
      auto request = ctx.port.TakeDirect();
      ExecuteRequest(std::move(request));
    }
  }
}

void Runner::LeaveScript(ScriptThreadContext& ctx) {
  DocPtr script = ctx.currentScript;
  if (!script) return;
  DocPtr source = script->sourceDoc.lock();
  if (source && source != script && !script->isBackground) {
    StopScriptInserts(script);
    if (ctx.privateScript == script) ctx.privateScript.reset();
  }
}

bool Runner::PlayInsert(const InsertPtr& insert, int32_t mode, int options) {
  if (!insert) return false;
  if (!insert->primary.expired() && insert->GetPrimary() != insert) return false;
  if ((options & play_option::kOnlyActive) && !insert->active) return false;
  if ((options & play_option::kSkipDisabled) && insert->runState == run_state::kDisabled) return false;
  const bool wantsThread = insert->WantsOwnThread();
  if ((options & play_option::kSkipOwnThread) && wantsThread) return false;
  if ((options & play_option::kOnlyOwnThread) && !wantsThread) return false;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  bool newThread;
  if (options & play_option::kThisThread)
    newThread = false;
  else if (options & play_option::kNewThread)
    newThread = true;
  else if (!insert->source.expired() || !wantsThread)
    newThread = false;
  else
    newThread = !(ctx && !ctx->isProjectThread && ctx->currentScript && ctx->currentScript->items.size() == 2);
  insert->SetRunning(1);
  if (auto clone = insert->clone.lock()) {
    if (ScriptThreadContext* t = ThreadOf(*clone); t && !t->done) {
      clone->playRequested.exchange(1);
      auto r = std::make_unique<Request>();
      r->code = command::kPlayThisObject;
      r->source = clone;
      PostRequest(t, std::move(r), false);
      return true;
    }
  }
  if (newThread) return StartObjectThread(insert) != nullptr;
  if (ctx && ctx->abortFlag) return false;
  if (ctx && !ctx->Is(insert->thread)) insert->thread = ctx->self;
  if (insert->TryStagePlay()) return true;
  if (ctx && ctx->currentScript && ctx->playingIndex != kNoPosition) {
    TraceRun(*ctx, *ctx->currentScript, ctx->playingIndex, *insert);
    ctx->playingIndex = kNoPosition;
  }
  if (auto* flow = As<CFlow>(insert.get())) {
    // A script-flow step runs as the handler of its own event.
    return RaiseEvent(*insert, 0, 0, std::shared_ptr<CFlow>(insert, flow)) != 0;
  }
  return RunGuarded(insert, mode) != 0;
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

void Runner::RunInsertList(int32_t mode) {
  ScriptThreadContext& ctx = *ScriptThreadContext::Current();
  auto script = ctx.currentScript;
  while (script && ctx.nextPosition != kNoPosition && !IsStopRequested()) {
    int64_t index = ctx.nextPosition;
    if (index >= static_cast<int64_t>(script->items.size())) break;
    auto insert = std::dynamic_pointer_cast<CInsert>(script->items[index]);
    ctx.nextPosition = index + 1 < static_cast<int64_t>(script->items.size()) ? index + 1 : kNoPosition;
    ctx.currentInsert = insert;
    if (insert) {
      insert->thread = ctx.shared_from_this();
      insert->SetRunning(1);
      TraceRun(ctx, *script, index, *insert);
      RunGuarded(insert, mode);
    }
    if (index == ctx.endPosition || shuttingDown) break;
  }
}

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
  insert.Prepare();
  if (insert.delayMs != 0 && (insert.showMode == show_mode::kShow || insert.showMode == show_mode::kShowAndPlay)) {
    const int64_t deadline = Now() + insert.delayMs;
    while (Now() < deadline && !IsStopRequested()) {
      Message m = PumpMessage(true, deadline);
      if (m.IsKeyDown() && m.key == stopKey) break;
    }
  }
  if (mode == run_mode::kScript || mode == run_mode::kHandler) RaiseEvent(insert, event::kLoaded, 0, nullptr);
}

// --- messages and errors

bool Runner::AskYesNo(uint32_t textId, const std::string& text, const std::string& title) {
  return services_.messages->ShowWithId(textId, text, title, MsgButtons::YesNo, MsgIcon::Question) == MsgAnswer::Yes;
}

void Runner::ShowError(uint32_t textId, const std::string& text, const std::string& title) {
  services_.messages->ShowWithId(textId, text, title, MsgButtons::Ok, MsgIcon::Exclamation);
}

bool Runner::ReportRunError(CInsert* insert, uint32_t stringId, const std::string& detail) {
  InsertPtr reported;
  if (insert) {
    reported = insert->shared_from_this();
    if (auto src = insert->source.lock()) reported = src;
    if (auto flow = std::dynamic_pointer_cast<CFlow>(reported))
      if (auto owner = flow->GetOwner()) reported = owner;
  }
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  DocPtr script = ctx ? ctx->currentScript : nullptr;
  std::string title;
  if (script && !script->pathName.empty())
    title = CStgDoc::IsStandbysFile(script->pathName) ? LoadString(sid::kProjectStandbys) : FileTitle(script->pathName);
  if (reported) {
    title += " ";
    title += reported->DescribeLocation(script ? script.get() : project_.get(), false, false);
    if (!reported->name.empty()) title += " (-> " + reported->name + ")";
  }
  // The detail follows the text after one blank; some texts end in theirs.
  std::string text = LoadString(stringId);
  if (text.empty() || text.back() != ' ') text += ' ';
  text += detail;
  variables_.SetLastError(4);
  bool yes = AskYesNo(stringId, text + LoadString(sid::kContinueYesNo), title);
  if (!yes) AbortProject();
  return yes;
}

void Runner::AbortProject(bool failure) {
  if (failure) aborted_ = true;
  if (abortCount_.fetch_add(1) != 0) {
    // Every later attempt only makes sure the project thread hears of it.
    abortRequested = true;
    WakeEveryone();
    return;
  }
  sceneChanging = true;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (projectThread_) projectThread_->port.FlushRequests();
  if (!ctx || !ctx->isProjectThread) {
    abortRequested = true;
    if (projectThread_) projectThread_->port.PostKey(stopKey);
    WakeEveryone();
    return;
  }
  abortRequested = true;
  if (ctx->currentScript) StopScriptInserts(ctx->currentScript);
  for (auto& t : ScriptThreads()) StopThread(*t);
  for (auto& t : ScriptThreads()) JoinThread(*t, 2000);
  shuttingDown = true;
  WakeEveryone();
}

void Runner::StopThread(ScriptThreadContext& t) {
  if (auto played = t.playedInsert.lock()) {
    // The thread's own record of its copy: the insert's link is cleared by
    // that thread as it ends, perhaps right now.
    if (auto copy = t.ready ? t.playedCopy.lock() : nullptr) {
      copy->Stop();
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

void Runner::StopScriptInserts(const DocPtr& script) {
  if (!script) return;
  std::vector<ObjectPtr> items = script->items;
  for (const ObjectPtr& obj : items) {
    auto insert = std::dynamic_pointer_cast<CInsert>(obj);
    if (!insert) continue;
    if (auto copy = insert->clone.lock()) {
      copy->Stop();
      copy->SetRunning(0);
      if (ScriptThreadContext* t = ThreadOf(*copy)) {
        if (t != ScriptThreadContext::Current()) {
          t->port.PostKey(stopKey);
          t->abortFlag = true;
          clock().WakeAll();
          JoinThread(*t, 2000);
        }
      }
    } else {
      insert->Stop();
      insert->SetRunning(0);
      if (insert->GetCategory() == 1) insert->TakeOffStage();
    }
  }
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

// --- finding

InsertPtr Runner::FindObject(const std::string& rawName, bool includeDisabled, bool quiet) {
  std::string name = ExpandNames(rawName);
  if (name.empty()) {
    if (!quiet) variables_.SetLastError(2);
    return nullptr;
  }
  auto matches = [&](const ObjectPtr& obj, bool checkDisabled) -> InsertPtr {
    auto insert = std::dynamic_pointer_cast<CInsert>(obj);
    if (!insert || !EqualsNoCase(insert->name, name)) return nullptr;
    if (insert->GetPrimary() != insert) return nullptr;
    if (checkDisabled && !includeDisabled && insert->runState == run_state::kDisabled) return nullptr;
    return insert;
  };
  // An insert playing in a thread of its own is found as its thread copy:
  // the copy owns what is on the stage and takes the requests.
  for (auto& t : ScriptThreads())
    if (auto played = t->playedInsert.lock()) {
      InsertPtr copy = played->clone.lock();
      if (auto found = matches(copy ? copy : played, false)) return found;
    }
  if (DocPtr scene = CurrentScene())
    for (auto& obj : scene->items)
      if (auto found = matches(obj, true)) return found;
  std::vector<DocPtr> loaded;
  {
    std::lock_guard lock(loadedLock_);
    loaded = loaded_;
  }
  for (auto& doc : loaded)
    for (auto& obj : doc->items)
      if (auto found = matches(obj, true)) return found;
  if (project_)
    for (auto& obj : project_->items)
      if (auto found = matches(obj, true)) return found;
  if (!quiet) variables_.SetLastError(2);
  return nullptr;
}

DocPtr Runner::CurrentScene() {
  // Read on other threads only as a lookup hint; the project thread owns it.
  return projectThread_ ? projectThread_->currentScript : nullptr;
}

std::string Runner::ExpandNames(const std::string& text) {
  return services_.expandNames ? services_.expandNames(text) : text;
}

// --- scripts

DocPtr Runner::FindLoadedScript(const std::string& path) {
  std::lock_guard lock(loadedLock_);
  for (auto& doc : loaded_)
    if (EqualsNoCase(doc->pathName, path)) return doc;
  return nullptr;
}

DocPtr Runner::LoadScript(const std::string& path, uint16_t code, bool& alreadyInUse, bool& failed) {
  alreadyInUse = false;
  failed = false;
  std::lock_guard release(releaseLock_);
  if (DocPtr doc = FindLoadedScript(path)) {
    if (doc->useCount > 0 && code != 60 && code != 63) {
      alreadyInUse = true;
      return doc;
    }
    ++doc->useCount;
    return doc;
  }
  if (project_ && EqualsNoCase(path, project_->pathName)) return project_;
  DocPtr doc = services_.loadScript ? services_.loadScript(path) : nullptr;
  if (!doc) {
    failed = true;
    return nullptr;
  }
  doc->useCount = 1;
  {
    std::lock_guard lock(loadedLock_);
    loaded_.push_back(doc);
  }
  // Names are looked up afresh under the scripts now loaded.
  variables_.Invalidate();
  return doc;
}

void Runner::ReleaseScript(const DocPtr& script) {
  if (!script || script == project_) return;
  std::lock_guard release(releaseLock_);
  if (script->useCount > 1) {
    --script->useCount;
    return;
  }
  if (script->isBackground) {
    script->useCount = 0;
    return;
  }
  {
    std::lock_guard lock(loadedLock_);
    loaded_.erase(std::remove(loaded_.begin(), loaded_.end(), script), loaded_.end());
  }
  variables_.Invalidate();
}

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
        abortRequested = true;
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

namespace kv {

int Runner::ChangeScene(CFlow& flow, uint16_t code) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (!ctx) return 0;
  DocPtr current = ctx->currentScript;
  const std::string currentPath = current ? current->pathName : std::string();
  std::optional<std::string> target;
  if (code == command::kGoToFreestyleScript || code == command::kGoToScene) {
    std::string name = ExpandNames(flow.argument);
    if (name.empty()) throw KVRunException(sid::kScriptNameBlank, {});
    target = name;
  } else if (code == 34) {
    target = GetNextScene(Session(), currentPath);
  } else if (code == 35) {
    target = GetPriorScene(Session(), currentPath, false);
  } else {
    target = GetParentNode(Session(), currentPath);
  }
  if (!target) {
    variables_.SetLastError(2);
    return 1;
  }
  std::string path = *target;
  int kind = ResolveScriptPath(Session(), *target, path);
  flow.resolvedPath = path;
  if (current && (EqualsNoCase(path, currentPath) || EqualsNoCase(*target, currentPath))) {
    sceneChanging = false;
    variables_.SetLastError(1);
    return 1;
  }
  const bool fromProject = current == project_;
  if (code == command::kGoToFreestyleScript) {
    bool fromFreestyle = current && GetNodeKind(Session(), currentPath) == kNodeFreestyle;
    if (!(fromProject || fromFreestyle) || kind != kNodeFreestyle) {
      variables_.SetLastError(4);
      return 1;
    }
  } else {
    bool fromScene = current && current->isScene;
    if (!(fromProject || fromScene)) {
      variables_.SetLastError(4);
      return 1;
    }
    if (kind != kNodeScene) {
      if (code == command::kGoToScene) {
        // Looked up once more; a target of another kind is still entered.
        WaitPeriod(100, false);
        kind = ResolveScriptPath(Session(), *target, path);
        if (kind != kNodeScene) {
          variables_.SetLastError(4);
          if (shuttingDown) return 1;
        }
      } else {
        variables_.SetLastError(4);
        return 1;
      }
    }
  }
  // Leave the old branch: stop the old scene, enter the ancestors of the
  // target the old scene did not share, in order from the top.
  auto oldBranch = current ? GetSceneBranch(Session(), currentPath) : decltype(GetSceneBranch(Session(), path)){};
  auto newBranch = GetSceneBranch(Session(), *target);
  if (current && current->isScene) StopScriptInserts(current);
  for (auto it = newBranch.rbegin(); it != newBranch.rend(); ++it) {
    const auto& node = *it;
    bool shared = std::any_of(oldBranch.begin(), oldBranch.end(), [&](const auto& n) { return n == node; });
    if (shared || (current && EqualsNoCase(node->path, currentPath))) continue;
    auto enter = std::make_shared<CFlow>();
    enter->command = command::kCallFreestyleScript;
    enter->argument = node->path;
    enter->active = 1;
    enter->thread = ctx->shared_from_this();
    RunGuarded(enter, run_mode::kHandler);
    if (shuttingDown) return 1;
  }
  bool inUse = false, failed = false;
  DocPtr doc = LoadScript(path, code, inUse, failed);
  if (inUse) {
    variables_.SetLastError(5);
    return 1;
  }
  if (failed || !doc) throw KVRunException(sid::kUnableToLocateScript, *target);
  if (code != command::kGoToFreestyleScript) sceneLoading = true;
  sceneChanging = false;
  if (current && current != project_) ReleaseScript(current);
  ctx->port.FlushRequests();
  ctx->SetScript(doc);
  ctx->nextPosition = doc->items.empty() ? kNoPosition : 0;
  ctx->endPosition = static_cast<int64_t>(doc->items.size()) - 1;
  return 1;
}

}  // namespace kv
