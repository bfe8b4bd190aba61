// The functions the player exports to extensions. Each finds the run of the
// calling thread (its script context's, or the registered run on a thread of
// the extension's own), acts on it directly when the caller owns the object
// or hands the work to the owning thread as a request, and answers the
// not-available values when there is no run.
#include "ext/extension_callbacks.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdint>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <thread>

#include "engine/commands.h"
#include "engine/flow.h"
#include "engine/runner.h"
#include "engine/variables.h"
#include "ext/dll_insert.h"
#include "ext/extension_guard.h"
#include "ext/orlan_builtins.h"
#include "include/korvel/extension.h"
#include "inserts/visible_insert.h"
#include "media/mci_errors.h"
#include "persist/project_session.h"
#include "media/movie_decoder.h"
#include "platform/picture_bound.h"
#include "platform/text.h"

namespace kv {

namespace {

std::shared_mutex& RunLock() {
  static std::shared_mutex m;
  return m;
}
Runner* registeredRun = nullptr;
thread_local std::weak_ptr<CInsert> ownThreadObject;

// The run of the calling thread, held for the length of one callback.
class RunOfCaller {
 public:
  RunOfCaller() {
    if (ScriptThreadContext* ctx = ScriptThreadContext::Current()) {
      runner_ = &ctx->runner;
    } else {
      lock_ = std::shared_lock(RunLock());
      runner_ = registeredRun;
    }
  }
  Runner* get() const { return runner_; }
  Runner* operator->() const { return runner_; }
  // Variables answer while the run lives and is not ending.
  bool Live() const { return runner_ && !runner_->shuttingDown; }
  // Flow and show requests also need a playing project.
  bool Playing() const { return Live() && runner_->playerRunning; }

 private:
  FaultGuardPause unguarded_;  // a fault in here is the player's
  std::shared_lock<std::shared_mutex> lock_;
  Runner* runner_ = nullptr;
};

std::string Name(const char* name) { return name ? std::string(name) : std::string(); }

// "" and "THIS" name the calling object; anything else, or those names when
// there is no calling object, the object found by name.
InsertPtr FindNamed(Runner& runner, const char* raw) {
  const std::string name = Name(raw);
  if (name.empty() || EqualsNoCase(name, "THIS"))
    if (InsertPtr self = CallingExtensionObject()) return self;
  return runner.FindObject(name, false, true);
}

// Whether the calling thread may act on `object` itself: it is the object's
// own thread, or the object has none.
bool OwnsObject(Runner& runner, const CInsert& object) {
  ScriptThreadContext* own = runner.ThreadOf(object);
  return !own || own == ScriptThreadContext::Current();
}

// Texts handed out stay valid until the same function is called again on
// the same thread.
const char* Keep(std::string& slot, std::string text) {
  slot = std::move(text);
  return slot.c_str();
}

// Plays `object` as a play request would, on the calling thread.
void PlayHere(Runner& runner, const InsertPtr& object) {
  if (!object->CanPlay() || runner.IsStopRequested() || object->source.lock()) return;
  runner.PlayInsert(object, run_mode::kHandler, play_option::kOnlyActive | play_option::kSkipDisabled);
}

}  // namespace

ExtensionRunScope::ExtensionRunScope(Runner& runner) : runner_(runner) {
  std::unique_lock lock(RunLock());
  previous_ = registeredRun;
  registeredRun = &runner;
}

ExtensionRunScope::~ExtensionRunScope() {
  std::unique_lock lock(RunLock());
  if (registeredRun == &runner_) registeredRun = previous_;
}

void SetCallingExtensionObject(const std::shared_ptr<CInsert>& object) {
  if (ScriptThreadContext* ctx = ScriptThreadContext::Current()) ctx->currentExtensionObject = object;
  else ownThreadObject = object;
}

std::shared_ptr<CInsert> CallingExtensionObject() {
  if (ScriptThreadContext* ctx = ScriptThreadContext::Current()) return ctx->currentExtensionObject.lock();
  return ownThreadObject.lock();
}

}  // namespace kv

using namespace kv;

#define KV_EXPORT extern "C" __attribute__((visibility("default")))

// --- variables

namespace {

// A typed read: the lock-free path for names this thread found lately,
// else the lookup that reports a missing or mistyped variable.
template <class T, class U>
T Get(const char* name, T missing, bool (VariableStore::*tryGet)(std::string_view, U&),
      U (VariableStore::*get)(const std::string&)) {
  RunOfCaller run;
  if (!run.Live() || !name) return missing;
  U v{};
  if ((run->variables().*tryGet)(name, v)) return T(v);
  return T((run->variables().*get)(name));
}

template <class U>
void Set(const char* name, U value, bool (VariableStore::*trySet)(std::string_view, U),
         void (VariableStore::*set)(const std::string&, U)) {
  RunOfCaller run;
  if (!run.Live() || !name) return;
  if (!(run->variables().*trySet)(name, value)) (run->variables().*set)(name, value);
}

int16_t GetInt16(const char* name) {
  return Get<int16_t, uint16_t>(name, KV_NA_INT16, &VariableStore::TryGetInt16, &VariableStore::GetInt16);
}
void SetInt16(const char* name, uint16_t value) {
  Set<uint16_t>(name, value, &VariableStore::TrySetInt16, &VariableStore::SetInt16);
}
int32_t GetInt32(const char* name) {
  return Get<int32_t, uint32_t>(name, KV_NA_INT32, &VariableStore::TryGetInt32, &VariableStore::GetInt32);
}
void SetInt32(const char* name, uint32_t value) {
  Set<uint32_t>(name, value, &VariableStore::TrySetInt32, &VariableStore::SetInt32);
}

}  // namespace

KV_EXPORT int16_t kv_GetInt2(const char* name) { return GetInt16(name); }
KV_EXPORT uint16_t kv_GetWord(const char* name) { return uint16_t(GetInt16(name)); }
KV_EXPORT int16_t kv_GetBool(const char* name) { return GetInt16(name); }
KV_EXPORT void kv_SetInt2(const char* name, int16_t value) { SetInt16(name, uint16_t(value)); }
KV_EXPORT void kv_SetWord(const char* name, uint16_t value) { SetInt16(name, value); }
KV_EXPORT void kv_SetBool(const char* name, int16_t value) { SetInt16(name, uint16_t(value)); }
KV_EXPORT int32_t kv_GetInt4(const char* name) { return GetInt32(name); }
KV_EXPORT uint32_t kv_GetDWord(const char* name) { return uint32_t(GetInt32(name)); }
KV_EXPORT void kv_SetInt4(const char* name, int32_t value) { SetInt32(name, uint32_t(value)); }
KV_EXPORT void kv_SetDWord(const char* name, uint32_t value) { SetInt32(name, value); }

KV_EXPORT double kv_GetDouble(const char* name) {
  return Get<double, double>(name, KV_NA_DOUBLE, &VariableStore::TryGetDouble, &VariableStore::GetDouble);
}

KV_EXPORT void kv_SetDouble(const char* name, double value) {
  Set<double>(name, value, &VariableStore::TrySetDouble, &VariableStore::SetDouble);
}

// The variable's text is copied: strings change under a lock, so the
// variable's own buffer is never handed out.
KV_EXPORT const char* kv_GetString(const char* name) {
  thread_local std::string text;
  RunOfCaller run;
  if (!run.Live() || !name) return Keep(text, {});
  return Keep(text, run->variables().GetString(name));
}

KV_EXPORT void kv_SetString(const char* name, const char* value) {
  RunOfCaller run;
  if (!run.Live() || !name) return;
  run->variables().SetString(name, value ? value : "");
}

// --- stage objects

KV_EXPORT void kvo_GetPosition(const char* name, kv_Rect* rect) {
  RunOfCaller run;
  if (!run.Live() || !rect) return;
  if (InsertPtr o = FindNamed(*run.get(), name)) {
    const Rect at = o->GetStageRect();
    *rect = {at.left, at.top, at.right, at.bottom};
  }
}

KV_EXPORT void kvo_SetPosition(const char* name, kv_Rect rect) {
  RunOfCaller run;
  if (!run.Live()) return;
  InsertPtr o = FindNamed(*run.get(), name);
  // A rectangle past the picture bound would make a surface too large.
  if (!o || !WithinPictureBound(int64_t(rect.right) - rect.left, int64_t(rect.bottom) - rect.top)) return;
  o->MoveTo(run->Context(), rect.left, rect.top, rect.right, rect.bottom, false);
}

KV_EXPORT void kvo_Update(const char* name) {
  RunOfCaller run;
  if (!run.Live()) return;
  InsertPtr o = FindNamed(*run.get(), name);
  if (!o) return;
  if (OwnsObject(*run.get(), *o)) o->Invalidate(run->Context());
  else PostForObject(*run.get(), command::kUpdateObject, o);
}

KV_EXPORT void kvo_PutOnStage(const char* name) {
  RunOfCaller run;
  if (!run.Live()) return;
  InsertPtr o = FindNamed(*run.get(), name);
  auto* v = As<CVisibleInsert>(o.get());
  if (!v || !ScriptThreadContext::Current()) return;  // never from a thread of the extension's own
  ScriptThreadContext* own = run->ThreadOf(*o);
  if (own && own != ScriptThreadContext::Current()) return;
  std::unique_ptr<MotionPath> path = std::move(v->path);
  if (own) v->PutOnStage(run->Context());
  else PlayHere(*run.get(), o);
  if (!v->path) v->path = std::move(path);
}

KV_EXPORT void kvo_TakeOffStage(const char* name) {
  RunOfCaller run;
  if (!run.Live()) return;
  if (InsertPtr o = FindNamed(*run.get(), name)) o->TakeOffStage(run->Context());
}

namespace {

// Show and hide: at once on the object's own thread, else as a request.
int32_t ShowOrHide(const char* name, bool show) {
  RunOfCaller run;
  if (!run.Live()) return 0;
  InsertPtr o = FindNamed(*run.get(), name);
  if (!o) return 0;
  if (!run.Playing()) return 1;
  if (OwnsObject(*run.get(), *o)) {
    if (show) o->ShowInsert(*run.get());
    else o->HideInsert(*run.get());
  } else {
    PostForObject(*run.get(), show ? command::kShowHiddenObject : command::kHideObject, o);
  }
  return 1;
}

}  // namespace

KV_EXPORT int32_t kvo_Show(const char* name) { return ShowOrHide(name, true); }
KV_EXPORT int32_t kvo_Hide(const char* name) { return ShowOrHide(name, false); }

KV_EXPORT int32_t kvo_Play(const char* name) {
  RunOfCaller run;
  if (!run.Live()) return 0;
  InsertPtr o = FindNamed(*run.get(), name);
  if (!o) return 0;
  if (!run.Playing()) return 1;
  if (OwnsObject(*run.get(), *o) && ScriptThreadContext::Current()) {
    // A playing movie is left alone.
    if (o->GetKindName() == "Movie" && o->IsPlaying()) return 1;
    o->showMode = show_mode::kShowAndPlay;
    PlayHere(*run.get(), o);
  } else {
    o->playRequested.exchange(1);
    PostForObject(*run.get(), command::kPlayObject, o);
  }
  return 1;
}

KV_EXPORT int32_t kvo_Stop(const char* name) {
  RunOfCaller run;
  if (!run.Live()) return 0;
  InsertPtr o = FindNamed(*run.get(), name);
  if (!o) return 0;
  PostForObject(*run.get(), command::kStopObject, o);
  return 1;
}

KV_EXPORT const char* kvo_GetName(void) {
  FaultGuardPause unguarded;
  thread_local std::string text;
  InsertPtr self = CallingExtensionObject();
  return Keep(text, self ? self->GetName() : std::string());
}

KV_EXPORT const char* kvo_GetComment(const char* name) {
  thread_local std::string text;
  RunOfCaller run;
  if (!run.Live()) return Keep(text, {});
  InsertPtr o = FindNamed(*run.get(), name);
  return Keep(text, o ? o->comment : std::string());
}

KV_EXPORT const kv_Bitmap* kvo_GetlpDDS(void) {
  FaultGuardPause unguarded;
  auto* dll = As<ScDLL>(CallingExtensionObject().get());
  return dll ? dll->LastBitmap() : nullptr;
}

// --- project flow

namespace {

// The jumps and scene changes need a playing project and a calling object.
InsertPtr CallerForFlow(RunOfCaller& run) {
  if (!run.Playing()) return nullptr;
  return CallingExtensionObject();
}

void PostFlow(Runner& runner, ScriptThreadContext* target, uint16_t code, const std::string& argument,
              const InsertPtr& source, bool direct) {
  if (!target) return;
  auto r = std::make_unique<Request>();
  r->code = code;
  r->argument = argument;
  r->source = source;
  runner.PostRequest(target, std::move(r), direct);
}

}  // namespace

KV_EXPORT void kv_CallFreeStyle(const char* script) {
  RunOfCaller run;
  if (!run.Playing()) return;
  auto flow = std::make_shared<CFlow>();
  flow->command = command::kCallFreestyleScript;
  flow->argument = Name(script);
  flow->active = 1;
  if (InsertPtr self = CallingExtensionObject()) flow->owner = self;
  if (ScriptThreadContext* ctx = ScriptThreadContext::Current()) flow->thread = ctx->shared_from_this();
  run->RunGuarded(flow, run_mode::kScript);
}

KV_EXPORT void kv_GotoFreeStyle(const char* script) {
  RunOfCaller run;
  InsertPtr self = CallerForFlow(run);
  if (!self) return;
  ScriptThreadContext* target = run->ThreadOf(*self);
  if (!target) target = ScriptThreadContext::Current();
  PostFlow(*run.get(), target, command::kGoToFreestyleScript, Name(script), self, true);
}

KV_EXPORT void kv_GotoScene(const char* scene) {
  RunOfCaller run;
  InsertPtr self = CallerForFlow(run);
  if (!self) return;
  PostFlow(*run.get(), run->ProjectThread(), command::kGoToScene, Name(scene), self, true);
}

KV_EXPORT void kv_RunProject(const char* projectFile) {
  RunOfCaller run;
  InsertPtr self = CallerForFlow(run);
  if (!self) return;
  PostFlow(*run.get(), run->MainThread(), command::kRunNewProject, Name(projectFile), self, false);
}

KV_EXPORT int32_t kv_Wait(int32_t ms) {
  FaultGuardPause unguarded;
  const int64_t period = std::max<int64_t>(ms, 1);
  if (ScriptThreadContext::Current()) {
    Runner& runner = ScriptThreadContext::Current()->runner;
    if (runner.shuttingDown) return 0;
    return runner.WaitPeriod(period, true) ? 1 : 0;
  }
  // A thread of the extension's own has no port: it sleeps in short slices
  // and ends early when the run stops.
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(period);
  for (;;) {
    {
      RunOfCaller run;
      if (!run.get() || run->shuttingDown || run->abortRequested) return 0;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= end) return 1;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(end - now, std::chrono::milliseconds(10)));
  }
}

KV_EXPORT int32_t kv_GetRemoteResource(const char* name, char* buffer, int32_t size) {
  RunOfCaller run;
  std::string path;
  if (run.Live()) path = run->ResolveFile(run->ExpandNames(Name(name)));
  if (buffer && size > 0) {
    const size_t n = std::min<size_t>(path.size() + 1, size_t(size));
    std::memcpy(buffer, path.c_str(), n);  // cut short without its zero when it does not fit
  }
  return 1;
}

// Movies have no player in this build: the open fails as an animation
// device that cannot be loaded would.
KV_EXPORT int32_t AVIFXGetFileLength(const char* file, void* /*parent*/, int32_t* status) {
  if (status && *status != 0) return 0;
  // A run's names resolve against its project, as the movie device's do;
  // with no run the name is a path as it stands.
  const std::string name = file ? file : "";
  std::optional<std::string> host = name;
  RunOfCaller run;
  if (run.Live()) {
    auto resolved = run->Session().locator().RetrieveResource(run->ExpandNames(name));
    host = resolved ? run->Session().HostPath(*resolved) : std::nullopt;
  }
  uint32_t code = 0;
  int64_t length = 0;
  if (!host || host->empty()) {
    code = mci_err::kFileNotFound;
  } else {
    try {
      length = MovieDecoder::OpenFile(*host)->Info().lengthMs;
    } catch (const MovieError& e) {
      code = e.kind() == MovieError::Kind::kNotFound ? mci_err::kFileNotFound : mci_err::kInvalidFile;
    } catch (const std::bad_alloc&) {
      code = mci_err::kInternal;
    }
  }
  if (status) *status = int32_t(code);
  return code ? 0 : int32_t(std::clamp<int64_t>(length, 0, INT32_MAX));
}
