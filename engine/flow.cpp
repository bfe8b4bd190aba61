#include "engine/flow.h"

#include <filesystem>

#include "persist/field_walk.h"
#include "persist/fields.h"
#include "engine/events.h"
#include "engine/runner.h"
#include "engine/stage_link.h"
#include "engine/strings.h"
#include "engine/launch.h"
#include "engine/media_service.h"
#include "engine/orlan_service.h"
#include "engine/print_service.h"
#include "engine/run_error.h"
#include "engine/trace.h"
#include "engine/variables.h"
#include "persist/document.h"
#include "persist/open_project.h"
#include "persist/project_session.h"
#include "persist/project_tree.h"
#include "platform/launcher.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

KV_IMPLEMENT_CLASS(CFlow, CInsert, 0)

CFlow::CFlow() = default;

void CFlow::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
  resolvedPath.clear();
  auxText.clear();
  releaseVariants = 0;
  requestParams.fill(0);
}

template <class W>
void CFlow::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  w.Version("flowVersion", flowVersion, 1, 1, "CFlow");
  w("command", command);
  w("commandValue", commandValue);
  w("eventCode", eventCode);
  w("argument", argument);
  if (W::kArchive && w.Filling()) owner.reset();
}

KV_FIELD_WALK_IO(CFlow)

void CFlow::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CFlow& o = Same<CFlow>(other);
  FieldTransfer::Copy(*this, o);
  resolvedPath = o.resolvedPath;
  auxText = o.auxText;
  releaseVariants = o.releaseVariants;
  requestParams = o.requestParams;
}

std::shared_ptr<CInsert> CFlow::GetOwner() {
  if (auto o = owner.lock()) return o;
  return shared_from_this();
}

const char* CommandNeeds(uint16_t code) {
  switch (code) {
    case 81:
      return "scanner and bitmap transfer";
    default:
      return nullptr;
  }
}

// --- behaviour

namespace {

// A command whose subsystem this build does not have yet refuses clearly.
[[noreturn]] void Missing(uint16_t code, const char* subsystem) {
  throw KVRunException(sid::kRunTimeError,
                       "command " + std::to_string(code) + " needs the " + subsystem);
}

// "Unable to spawn the external browser for resource '%s'..."
constexpr uint32_t kUnableToSpawnBrowser = 51504;
// Longer addresses than this are refused rather than handed to the desktop.
constexpr size_t kMaxAddressLength = 8192;
// The shell's "file not found" answer, shown when no handler could start.
constexpr unsigned kShellFileNotFound = 2;

bool IsThreadCopy(const InsertPtr& insert) { return insert && !insert->source.expired(); }

// The object a thread plays, as pausing and resuming all reach it: its copy
// when it has one, else the insert itself.
InsertPtr PlayedObject(ScriptThreadContext& thread) {
  InsertPtr played = thread.playedInsert.lock();
  if (!played) return nullptr;
  InsertPtr copy = played->clone.lock();
  return copy ? copy : played;
}

}  // namespace

// Resource bundles: compilation archives a script opens for lookup (49),
// closes (50) or unpacks whole into the cache (51); the numeric parameter is
// the archive's key. Files already taken from a bundle stay cached after it
// closes, so what shows keeps showing.
int CFlow::RunBundleCommand(Runner& runner) {
  const std::string name = runner.ExpandNames(argument);
  ResourceResolver& locator = runner.Session().locator();
  auto unprepared = [&]() -> int {
    runner.variables().SetLastError(2);
    throw KVRunException(sid::kUnableToPrepareKvg, "For: " + name);
  };
  if (name.empty()) unprepared();
  const std::string file = runner.ResolveFile(name);
  if (command == command::kCloseCompilation) {
    // Closing a bundle that is not open changes nothing; scripts can test it.
    if (file.empty() || !locator.CloseArchive(file)) runner.variables().SetLastError(2);
    return 1;
  }
  if (file.empty()) return unprepared();
  const int key = static_cast<int>(commandValue);
  bool ok = false;
  try {
    if (command == command::kUnpackCompilation)
      ok = locator.UnpackArchive(file, key);
    else
      ok = locator.IsArchiveOpen(file) || locator.OpenArchive(file, key);
  } catch (const std::exception&) {
    ok = false;  // an archive too large to index or extract is not prepared
  }
  if (!ok) return unprepared();
  return 1;
}

int CFlow::Run(Runner& runner, int32_t mode) {
  runMode = mode;
  if (delayMs) runner.DelayBeforeActing(*this, mode);
  if (runner.IsStopRequested()) return 1;
  return Execute(runner);
}

int CFlow::Execute(Runner& runner) {
  if (command == command::kNone) return 0;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  VariableStore& vars = runner.variables();
  InsertPtr self = GetOwner();
  auto expanded = [&] { return runner.ExpandNames(argument); };
  auto findObject = [&] { return runner.FindObject(argument, true); };
  // The owner, or its thread copy when it plays in a thread of its own.
  auto copyOrSelf = [&]() -> InsertPtr {
    if (!self) return nullptr;
    if (auto copy = self->clone.lock()) return copy;
    return self;
  };
  // Only the commands that play as "Play object" does (41, 48, 64) report a
  // missing object; the others leave rwLastError 2 from the lookup and
  // answer 1, so scripts can test the outcome.
  auto requireObject = [&]() -> InsertPtr {
    InsertPtr found = findObject();
    if (!found) throw KVRunException(sid::kUnableToLocateObject, expanded());
    return found;
  };
  // Loads the named script for a script-name command; null with the outcome
  // already reported or recorded.
  auto loadNamed = [&](uint16_t code, bool& inUse) -> DocPtr {
    std::string name = expanded();
    inUse = false;
    if (name.empty()) throw KVRunException(sid::kScriptNameBlank, {});
    if (runner.shuttingDown) return nullptr;
    std::string path = name;
    int kind = ResolveScriptPath(runner.Session(), name, path);
    resolvedPath = path;
    bool failed = false;
    DocPtr doc = runner.LoadScript(path, code, inUse, failed);
    if (inUse) {
      vars.SetLastError(5);
      return nullptr;
    }
    if (failed) {
      if (kind != kNodeProject) throw KVRunException(sid::kUnableToLocateScript, name);
      return nullptr;
    }
    return doc;
  };
  // The loaded script the argument names; rwLastError 2 when it is not loaded.
  auto loadedNamed = [&]() -> DocPtr {
    std::string name = expanded();
    std::string path = name;
    ResolveScriptPath(runner.Session(), name, path);
    DocPtr doc = runner.FindLoadedScript(path);
    if (!doc) vars.SetLastError(2);
    return doc;
  };
  auto makeCurrent = [&](const DocPtr& doc) {
    ctx->SetScript(doc);
    ctx->nextPosition = doc->items.empty() ? kNoPosition : 0;
    ctx->endPosition = static_cast<int64_t>(doc->items.size()) - 1;
  };

  if (const char* subsystem = CommandNeeds(command)) Missing(command, subsystem);
  if (!ctx) throw KVRunException(sid::kRunTimeError, "command " + std::to_string(command) + " needs a script thread");

  switch (command) {
    case command::kCallFreestyleScript: {
      bool inUse;
      DocPtr doc = loadNamed(command, inUse);
      if (!doc) return inUse ? 1 : 0;
      if (!ctx->PushFrame()) {
        runner.ReleaseScript(doc);
        runner.ReportRunError(this, sid::kTooManyNestedCalls, expanded());
        runner.AbortProject();
        return 0;
      }
      makeCurrent(doc);
      runner.RunScript(run_mode::kScript);
      ctx->PopFrame(true);
      if (ctx->currentScript) runner.TraceScript(*ctx, *ctx->currentScript);
      runner.ReleaseScript(doc);
      return 1;
    }
    case command::kStartLibraryObject:
    case command::kThreadLibraryObject:
      runner.ShowError(sid::kFunctionNotImplemented, LoadString(sid::kFunctionNotImplemented),
                       LoadString(sid::kAppName));
      return 1;
    case command::kThreadFreestyleScript: {
      bool inUse;
      DocPtr doc = loadNamed(command, inUse);
      if (!doc) return inUse ? 1 : 0;
      if (doc->isBackground) {
        vars.SetLastError(3);
        runner.ReleaseScript(doc);
        throw KVRunException(sid::kRunTimeError, " Cannot thread a Background");
      }
      auto thread = runner.StartScriptThread(doc);
      if (!thread) {
        runner.ReleaseScript(doc);
        vars.SetLastError(3);
        return 0;
      }
      // Wait briefly for the thread to come up, as callers expect it running.
      runner.clock().Wait(ctx->port.waiter(), runner.Now() + 100, [&] { return thread->ready.load(); });
      return 1;
    }
    case command::kSuspendThisScript:
    case command::kSuspendScript:
    case command::kResumeScript:
    case command::kJumpToTop:
    case command::kJumpToLabel:
    case command::kFlowReplaceEvent:
    case command::kFlowLeaveEvent:
    case command::kFlowRunEvent:
    case 61: {
      bool inUse;
      DocPtr doc = loadNamed(command, inUse);
      if (!doc) return inUse ? 1 : 0;
      DocPtr replaced = ctx->currentScript;
      makeCurrent(doc);
      // The script it replaces is released unless a caller still runs it.
      bool held = replaced == runner.project();
      for (int i = 0; i <= ctx->callDepth; ++i) held = held || ctx->callStack[i].script == replaced;
      if (replaced && replaced != doc && !held) runner.ReleaseScript(replaced);
      return 1;
    }
    case command::kResumePausedObject:
      if (InsertPtr t = findObject()) t->ResumeInsert(runner);
      return 1;
    case command::kResumeAllPaused:
    case command::kHaltCurrentThread:
    case command::kLeaveFreestyleScript: {
      // Each thread's object (as "Pause all objects." reached it) when
      // paused, else the thread itself.
      for (auto& t : runner.ScriptThreads()) {
        InsertPtr object = PlayedObject(*t);
        if (object && object->IsPaused()) {
          object->ResumeInsert(runner);
        } else if (t->paused) {
          t->paused = false;
          runner.clock().WakeAll();
        }
      }
      if (command == command::kResumeAllPaused) return 1;
      if (ctx->currentScript && !ctx->currentScript->items.empty())
        ctx->nextPosition = static_cast<int64_t>(ctx->currentScript->items.size()) - 1;
      // "Halt current thread." sends the key: it reaches the thread's window
      // at once, where no wait sees it, so the script ends where it stands.
      // "Leave this freestyle script." posts it, which also ends the wait the
      // thread is in.
      if (command == command::kLeaveFreestyleScript) ctx->port.PostKey(runner.stopKey);
      return 1;
    }
    case command::kHaltOtherThreads: {
      if (runner.IsStopRequested()) return 1;
      for (auto& t : runner.ScriptThreads())
        if (t.get() != ctx) runner.StopThread(*t);
      for (auto& t : runner.ScriptThreads())
        if (t.get() != ctx) runner.JoinThread(*t, kForever);
      return 1;
    }
    case command::kHaltProject:
      runner.AbortProject(false);
      return 1;
    case command::kAdvanceScript: {
      DocPtr doc = loadedNamed();
      if (!doc) return 1;
      for (auto& t : runner.ScriptThreads())
        if (t->currentScript == doc) t->port.PostKey(runner.stopKey);
      if (ScriptThreadContext* p = runner.ProjectThread(); p && p->currentScript == doc) p->port.PostKey(runner.stopKey);
      return 1;
    }
    case command::kGoToFreestyleScript:
    case command::kGoToScene:
    case 34:
    case 35:
    case 36:
      return runner.ChangeScene(*this, command);
    case command::kRestartProject:
      if (!ctx->isProjectThread) {
        auto r = std::make_unique<Request>();
        r->code = command::kRestartProject;
        runner.PostRequest(runner.ProjectThread(), std::move(r), false);
        return 1;
      }
      if (runner.IsStopRequested()) return 1;
      runner.RequestRestart();
      runner.AbortProject(false);
      return 1;
    case command::kRemoveAllObjectsInScript: {
      DocPtr doc = loadedNamed();
      if (!doc) return 1;
      if (doc->useCount > 0)
        runner.StopScriptInserts(doc);
      else
        runner.ReleaseScript(doc);
      return 1;
    }
    case command::kAdvanceThisThread:
      ctx->port.PostKey(runner.stopKey);
      return 1;
    case command::kDisableObject:
      if (InsertPtr t = findObject()) t->Disable(runner);
      return 1;
    case command::kEnableObject:
      if (InsertPtr t = findObject()) t->Enable(runner);
      return 1;
    case command::kRetreatThisScript:
      if (self && self->thread.lock()) {
        ctx->stepBackPending = true;
      } else {
        vars.SetLastError(3);
      }
      return 1;
    case command::kWaitForAdvance:
      while (!runner.IsStopRequested() && self && self->thread.lock()) {
        Message m = runner.PumpMessage(true, kForever);
        if (m.IsKeyDown() && m.key == runner.stopKey) break;
      }
      return 1;
    case command::kPreloadScript: {
      bool inUse;
      DocPtr doc = loadNamed(command, inUse);
      if (!doc) return inUse ? 1 : 0;
      if (!ctx->isProjectThread && GetNodeKind(runner.Session(), doc->pathName) != kNodeFreestyle) {
        runner.ReportRunError(this, sid::kPreloadNonFreestyle, {});
        return 0;
      }
      if (!ctx->PushFrame()) {
        runner.ReportRunError(this, sid::kTooManyNestedCalls, expanded());
        runner.AbortProject();
        return 0;
      }
      ctx->currentScript = doc;
      if (!runner.IsStopRequested())
        for (auto& obj : doc->items)
          if (auto insert = std::dynamic_pointer_cast<CInsert>(obj); insert && insert->active &&
                                                                       insert->runState != run_state::kDisabled)
            insert->PreloadCopy(runner);
      ctx->PopFrame(true);
      return 1;
    }
    case command::kJumpToLabelInScript: {
      if (!self || !self->thread.lock()) {
        vars.SetLastError(3);
        return 1;
      }
      if (IsThreadCopy(self) || ctx->traceName.rfind("script:", 0) == 0) {
        if (ctx->privateScript) runner.ReportRunError(this, sid::kThreadedJump, argument);
      }
      if (runner.shuttingDown && ctx->currentScript)
        ctx->nextPosition = static_cast<int64_t>(ctx->currentScript->items.size()) - 1;
      ctx->pendingLabel = expanded();
      ctx->labelJumpPending = true;
      return 1;
    }
    case command::kPlayObject:
    case command::kInitializeObject:
    case command::kPlayThisObject: {
      InsertPtr target = command == command::kPlayThisObject ? self : requireObject();
      if (!target) return 0;
      // A name finds a playing thread copy; playing goes through its source,
      // which hands the request to the copy's thread.
      if (command != command::kPlayThisObject)
        if (InsertPtr source = target->source.lock()) target = source;
      if (target->GetCategory() == 1 && target->IsPlaying()) {
        target->playRequested.exchange(0);
        vars.SetLastError(5);
        return 1;
      }
      target->playRequested.exchange(0);
      if (command != command::kInitializeObject) target->showMode = show_mode::kShowAndPlay;
      runner.PlayInsert(target, run_mode::kHandler, play_option::kOnlyActive | play_option::kSkipDisabled);
      return 1;
    }
    case command::kPauseObject:
      if (InsertPtr t = findObject()) t->PauseInsert(runner);
      return 1;
    case command::kPauseAllObjects:
      for (auto& t : runner.ScriptThreads())
        if (InsertPtr object = PlayedObject(*t)) object->PauseInsert(runner);
      return 1;
    case command::kRunNewProject: {
      // The run ends for the new project only once its file is found; a
      // name that finds none leaves this project playing.
      const std::string name = expanded();
      const std::string file = name.empty() ? std::string() : runner.ResolveFile(name);
      std::error_code error;
      if (file.empty() || !std::filesystem::is_regular_file(file, error)) {
        runner.sceneChanging = false;
        throw KVRunException(sid::kErrorReadingFile, name);
      }
      runner.RequestNewProject(file);
      runner.AbortProject(false);
      return 1;
    }
    case command::kGotoUrl: {
      // The desktop's handler opens the address (or document); a failure
      // shows the browser message with the shell's code, as opening a web
      // page does.
      const std::string target = expanded();
      DocumentOpener* opener = runner.Documents();
      if (!opener) Missing(command, "desktop's handler of addresses");
      const bool sensible = !target.empty() && target.size() <= kMaxAddressLength;
      if (!sensible || !opener->Open(target)) {
        const bool tooLong = target.size() > kMaxAddressLength;
        std::string text = FormatString(kUnableToSpawnBrowser, tooLong ? target.substr(0, 64) + "..." : target);
        if (const size_t at = text.find("%u"); at != std::string::npos) text.replace(at, 2, std::to_string(kShellFileNotFound));
        runner.ShowError(kUnableToSpawnBrowser, text, LoadString(sid::kAppName));
        vars.SetLastError(2);
        return 1;
      }
      if (runner.trace()) runner.trace()->Launch("xdg-open", {target});
      return 1;
    }
    case command::kPrintStage: {
      PrintService* printer = runner.Printer();
      if (!printer) Missing(command, "printing");
      // What plays holds still while the stage is printed.
      std::vector<InsertPtr> paused;
      for (auto& t : runner.ScriptThreads())
        if (InsertPtr object = PlayedObject(*t); object && !object->IsPaused()) {
          object->PauseInsert(runner);
          paused.push_back(object);
        }
      printer->Print(runner, PrintRequest::kStage, nullptr);
      for (const InsertPtr& object : paused)
        if (object->IsPaused()) object->ResumeInsert(runner);
      return 1;
    }
    case command::kPrintObjectDomain:
    case command::kPrintObjectAlone: {
      PrintService* printer = runner.Printer();
      if (!printer) Missing(command, "printing");
      InsertPtr target = findObject();
      if (!target) return 1;
      // A name finds the copy that plays; its sprite is what shows.
      if (InsertPtr copy = target->clone.lock()) target = copy;
      // Only an object that shows can be printed, alone or with the stage.
      if (!target->IsShown()) throw KVRunException(sid::kPrintObjectNotOnStage, expanded());
      printer->Print(runner, command == command::kPrintObjectAlone ? PrintRequest::kObjectAlone
                                                                    : PrintRequest::kObjectWithStage,
                     target);
      return 1;
    }
    case command::kOpenCompilation:
    case command::kUnpackCompilation:
    case command::kCloseCompilation:
      return RunBundleCommand(runner);
    case command::kLaunchExecutable: {
      auto launch = std::make_shared<CLaunch>();
      launch->program = expanded();
      launch->closeOnStop = 0;
      launch->active = 1;
      launch->thread = ctx->shared_from_this();
      launch->SetRunning(1);
      if (!launch->Run(runner, run_mode::kScript)) vars.SetLastError(2);
      return 1;
    }
    case command::kStopObject:
    case command::kStopThisObject: {
      InsertPtr target = command == command::kStopThisObject ? self : findObject();
      if (!target) return 1;
      if (target->playRequested.exchange(0)) {
        target->SetRunning(0);
      } else {
        target->StopIfPlaying(runner.Context());
      }
      return 1;
    }
    case command::kSaveProject: {
      // Only a project file that exists and may be written is saved: a
      // read-only one is left as it is, and none is made. (A request carries
      // no completion event and the host hears of no save here.)
      DocPtr project = runner.project();
      if (project && !project->pathName.empty()) {
        auto host = ResolveHostPath(project->pathName, runner.Session().drives, runner.Session().projectDir);
        std::error_code error;
        const auto status = host ? std::filesystem::status(*host, error) : std::filesystem::file_status{};
        if (host && std::filesystem::is_regular_file(status) &&
            (status.permissions() & std::filesystem::perms::owner_write) != std::filesystem::perms::none)
          project->SaveDocument(*host, runner.Messages());
      }
      return 1;
    }
    case command::kWriteScript:
    case command::kAppendToScript: {
      // Loaded by name like the other script commands, in use or not. One
      // it loads stays loaded, as a preloaded one does (an append is then
      // there for the write that follows); one loaded before keeps its uses.
      std::string path = expanded();
      ResolveScriptPath(runner.Session(), expanded(), path);
      const bool wasLoaded = runner.FindLoadedScript(path) != nullptr;
      bool inUse;
      DocPtr doc = loadNamed(command, inUse);
      if (!doc) return inUse ? 1 : 0;
      if (command == command::kAppendToScript) {
        if (self) doc->items.push_back(self);
      } else if (auto host = ResolveHostPath(doc->pathName, runner.Session().drives, runner.Session().projectDir)) {
        doc->SaveDocument(*host, runner.Messages());
      }
      if (wasLoaded) runner.ReleaseScript(doc);
      return 1;
    }
    case command::kNothing:
    case command::kMoveInTree:
      return 1;
    case command::kPauseThisObject:
      if (self) self->PauseInsert(runner);
      return 1;
    // --- the stage
    case command::kRemoveObject:
      if (InsertPtr t = findObject()) t->HideAndRedraw(runner.Context());
      return 1;
    case command::kHideObject:
      if (InsertPtr t = findObject()) t->HideInsert(runner);
      return 1;
    case command::kShowHiddenObject:
      if (InsertPtr t = findObject()) t->ShowInsert(runner);
      return 1;
    case command::kRemoveThisObject:
      if (InsertPtr t = copyOrSelf()) t->HideAndRedraw(runner.Context());
      return 1;
    case command::kShowThisObject:
      if (InsertPtr t = copyOrSelf()) t->ShowInsert(runner);
      return 1;
    case command::kHideThisObject:
      if (InsertPtr t = copyOrSelf()) t->HideInsert(runner);
      return 1;
    case command::kClearTheStage:
      if (runner.sceneLoading) {
        runner.ReportRunError(this, sid::kHideAllWhileLoading, expanded());
        return 1;
      }
      if (StageLink* stage = runner.Stage()) stage->ClearStage();
      return 1;
    case command::kChangeFile:
      if (self) {
        self->ChangeContent(runner.Context(), expanded());
        runner.RaiseEvent(*self, event::kFileChange, 0, nullptr);
      }
      return 1;
    case command::kUpdateObject:
      if (!self || !self->Invalidate(runner.Context())) vars.SetLastError(2);
      return 1;
    case command::kClickObject:
      if (self) self->SimulateClick(runner.Context());
      return 1;
    case command::kMoveObjectToCursor:
      if (InsertPtr t = findObject())
        if (StageLink* stage = runner.Stage()) stage->MoveToCursor(*t);
      return 1;
    case command::kDragWithMouse:
      if (InsertPtr t = findObject())
        if (StageLink* stage = runner.Stage()) stage->StartDrag(*t);
      return 1;
    case command::kDragStage:
      if (StageLink* stage = runner.Stage())
        stage->StartFrameDrag();
      else
        vars.SetLastError(2);
      return 1;
    case command::kOleDragDrop: {
      const std::string name = expanded();
      InsertPtr target = name.empty() || EqualsNoCase(name, "THIS") ? self : findObject();
      if (!target) return 1;
      if (InsertPtr copy = target->clone.lock()) target = copy;
      // Only what shows can be picked up.
      if (!target->IsShown())
        throw KVRunException(sid::kRunTimeError, "Cannot drag an object that is not on the Stage: " + target->name);
      StageLink* stage = runner.Stage();
      if (!stage || !stage->StartContentDrag(*target)) vars.SetLastError(2);
      return 1;
    }
    case command::kPlaySoundInObject:
    case command::kPlayThisObjectsSound: {
      InsertPtr object = command == command::kPlayThisObjectsSound ? self : requireObject();
      MediaService* media = runner.Media();
      if (!object || !media || !media->PlayAttachedSound(runner, *object)) vars.SetLastError(2);
      return 1;
    }
    case command::kStopSoundInObject:
    case command::kStopThisObjectsSound: {
      InsertPtr object = command == command::kStopThisObjectsSound ? self : findObject();
      MediaService* media = runner.Media();
      if (!object || !media || !media->StopAttachedSound(runner, *object)) vars.SetLastError(2);
      return 1;
    }
    case command::kCallOrlanScriptSub:
    case command::kCallOrlanProjectSub: {
      OrlanService* orlan = runner.Orlan();
      if (!orlan) Missing(command, "Orlan binding");
      if (command == command::kCallOrlanScriptSub) {
        if (IsThreadCopy(self)) runner.ReportRunError(this, sid::kThreadedUseProjectSubs, expanded());
        orlan->CallScriptSub(runner, self ? self.get() : this, expanded());
      } else {
        orlan->CallProjectSub(runner, self ? self.get() : this, expanded(), subArgs);
      }
      return 1;
    }
    case command::kMciString: {
      MediaService* media = runner.Media();
      if (!media) Missing(command, "media");
      const uint32_t result = media->SendMciString(runner, self.get(), expanded(), nullptr);
      if (result != 0) vars.SetLastError(static_cast<int32_t>(result));
      return 1;
    }
    case command::kSetStartTime:
      if (self) self->SetProperty(runner.Context(), Property::kStartTime, requestNumber);
      return 1;
    case command::kSetEndTime:
      if (self) self->SetProperty(runner.Context(), Property::kEndTime, requestNumber);
      return 1;
    case command::kResumeThisObject:
      if (self) self->ResumeInsert(runner);
      return 1;
    case command::kProcessPicture: {
      // Type, value, second value, then the rectangle's corners as pairs of
      // 16-bit halves (left and top, right and bottom; -1 for an edge).
      const auto& p = requestParams;
      auto low = [](int32_t v) { return int(int16_t(uint32_t(v) & 0xFFFF)); };
      auto high = [](int32_t v) { return int(int16_t(uint32_t(v) >> 16)); };
      StageLink* stage = runner.Stage();
      if (!self || !stage)
        vars.SetLastError(2);
      else
        stage->ProcessPicture(*self, p[0], p[1], p[2], low(p[3]), high(p[3]), low(p[4]), high(p[4]));
      return 1;
    }
    default:
      throw KVRunException(sid::kRunTimeError, "command " + std::to_string(command) + " is not known");
  }
}

}  // namespace kv
