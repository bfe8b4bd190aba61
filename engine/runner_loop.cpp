// The script loop: playing a script's inserts in order, label jumps and
// step backs, the stop test every loop makes, the end of a script, and
// running one insert guarded.
#include "engine/runner.h"

#include <array>
#include <cstdint>

#include "engine/flow.h"
#include "engine/kinds.h"
#include "engine/label.h"
#include "engine/stage_link.h"
#include "engine/strings.h"
#include "engine/trace.h"
#include "persist/document.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

namespace {

std::string ClassName(const CInsert& insert) { return insert.GetClassInfo().name; }

// The kind of a class that loads and stores but does not play yet, or null.
// Asked before every Run, so each thread remembers the answer per class in a
// few slots keyed by the class's address instead of hashing its name each time.
const KindInfo* UnbuiltKind(const ClassInfo& info) {
  struct Slot {
    const ClassInfo* info = nullptr;
    const KindInfo* unbuilt = nullptr;
  };
  static thread_local std::array<Slot, 16> slots;
  Slot& slot = slots[(reinterpret_cast<uintptr_t>(&info) >> 4) % slots.size()];
  if (slot.info != &info) {
    const KindInfo* kind = FindKind(info.name);
    slot = {&info, kind && kind->plays.needs ? kind : nullptr};
  }
  return slot.unbuilt;
}

}  // namespace

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
    if (const KindInfo* kind = UnbuiltKind(insert->GetClassInfo()))
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
  const bool wantsThread = insert->WantsOwnThread(context_);
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
  if (insert->TryStagePlay(context_)) return true;
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

void Runner::StopScriptInserts(const DocPtr& script) {
  if (!script) return;
  std::vector<ObjectPtr> items = script->items;
  for (const ObjectPtr& obj : items) {
    auto insert = std::dynamic_pointer_cast<CInsert>(obj);
    if (!insert) continue;
    if (auto copy = insert->clone.lock()) {
      copy->Stop(context_);
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
      insert->Stop(context_);
      insert->SetRunning(0);
      if (insert->GetCategory() == 1) insert->TakeOffStage(context_);
    }
  }
}

}  // namespace kv
