#include "ext/orlan_binding.h"

#include <filesystem>

#include "engine/flow.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/trace.h"
#include "engine/variables.h"
#include "ext/basic_insert.h"
#include "ext/korvel_library.h"
#include "orlan/codefile.h"
#include "orlan/compiler.h"
#include "platform/message_box.h"
#include "persist/document.h"
#include "persist/project_session.h"
#include "persist/project_tree.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

static_assert(BuiltinTable::kSize == kDispatchTableSize);

namespace {

// Under the virtual clock a running script lets time move by this much at
// each yield, so input due meanwhile (the stop key) reaches it.
constexpr int64_t kVirtualYieldSliceMs = 10;

std::string WithDetail(uint32_t id, const std::string& detail) {
  std::string text = LoadString(id);
  if (!detail.empty()) text += " " + detail;
  return text;
}

void ShowOrlanError(Runner& runner, uint32_t id, const std::string& detail) {
  runner.ShowError(id, WithDetail(id, detail), LoadString(sid::kOrlanError));
}

// The subroutine fits a call with `argc` arguments: a Sub whose required
// parameters are all given.
bool FitsCall(const orlan::ScriptObject& script, std::string_view name, int argc) {
  const int f = script.FindSub(name);
  if (f < 0) return false;
  const orlan::Function& fn = script.program().functions[f];
  if (fn.isFunction || static_cast<int>(fn.params.size()) < argc) return false;
  int required = 0;
  for (const auto& p : fn.params)
    if (!p.optional) ++required;
  return required <= argc;
}

// MsgBox's button and icon codes, and its answers, as the language numbers them.
MsgAnswer ShowScriptBox(MessageBoxService& boxes, const std::string& prompt, int buttons, const std::string& title) {
  static constexpr MsgButtons kButtons[] = {MsgButtons::Ok,          MsgButtons::OkCancel, MsgButtons::RetryCancel,
                                            MsgButtons::YesNoCancel, MsgButtons::YesNo,    MsgButtons::RetryCancel};
  static constexpr MsgIcon kIcons[] = {MsgIcon::None, MsgIcon::Error, MsgIcon::Question, MsgIcon::Exclamation,
                                       MsgIcon::Information};
  const int b = buttons & 0xF, i = (buttons >> 4) & 0xF;
  return boxes.ShowWithId(0, prompt, title.empty() ? std::string(LoadString(sid::kAppName)) : title,
                          b < 6 ? kButtons[b] : MsgButtons::Ok, i < 5 ? kIcons[i] : MsgIcon::None);
}

int ScriptAnswer(MsgAnswer a) {
  switch (a) {
    case MsgAnswer::Ok: return 1;
    case MsgAnswer::Cancel: return 2;
    case MsgAnswer::Abort: return 3;
    case MsgAnswer::Retry: return 4;
    case MsgAnswer::Ignore: return 5;
    case MsgAnswer::Yes: return 6;
    case MsgAnswer::No: return 7;
  }
  return 1;
}

}  // namespace

// --- BuiltinCall

CBasic* BuiltinCall::Caller() const { return static_cast<CBasic*>(thread.UserData()); }

std::shared_ptr<CInsert> BuiltinCall::FindObject(const std::string& name) const {
  if (CBasic* basic = Caller(); basic && (name.empty() || EqualsNoCase(name, "THIS"))) {
    std::shared_ptr<CInsert> raiser;
    {
      std::lock_guard lock(binding.lock());
      raiser = basic->eventObject.lock();
    }
    return raiser ? raiser : basic->shared_from_this();
  }
  // A lookup that asked the user must not let the script run on meanwhile.
  thread.HoldYield(true);
  std::shared_ptr<CInsert> found;
  try {
    found = runner.FindObject(name);
  } catch (...) {
    thread.HoldYield(false);
    throw;
  }
  thread.HoldYield(false);
  return found;
}

void BuiltinCall::Fail(const std::string& text, int number) const { thread.RaiseError(number, text); }

void BuiltinCall::StopScript() const { thread.Stop(true); }

bool BuiltinCall::Post(ScriptThreadContext* target, uint16_t code, const std::string& argument,
                       const std::shared_ptr<CInsert>& source, bool direct) const {
  auto r = std::make_unique<Request>();
  r->code = code;
  r->argument = argument;
  r->source = source;
  return runner.PostRequest(target, std::move(r), direct);
}

// --- the binding

OrlanBinding::OrlanBinding(Runner& runner)
    : runner_(runner),
      objects_(std::make_unique<HostObjectTable>(engine_)),
      processes_(std::make_unique<ProcessTable>(runner.Launcher(), runner.Documents())) {}

OrlanBinding::~OrlanBinding() {
  StopAll();
  std::lock_guard lock(lock_);
  // Engine threads and script objects die before the engine they belong to,
  // even in inserts that outlive the run.
  for (auto& weak : holders_)
    if (auto basic = weak.lock()) basic->ReleaseEngineState();
  sharedThread_.reset();
  if (project_) project_->ReleaseEngineState();
  for (auto& m : modules_) m.second->ReleaseEngineState();
  std::error_code ec;
  for (const std::string& file : temporaryFiles_) std::filesystem::remove(file, ec);
}

bool OrlanBinding::Initialize() {
  engine_.SetOption(0, 0x100000);
  engine_.SetYieldCallback([this](orlan::Thread& t) { return OnYield(t); });
  engine_.objectReleased = [this](int, int, uint32_t handle) { objects_->Release(handle); };
  poster_ = std::make_shared<ProjectSubPoster>(runner_);
  if (runner_.Context().net) runner_.Context().net->SetReportPoster(poster_);
  // A script's MsgBox is the run's message box.
  engine_.msgBox = [this](const std::string& prompt, int buttons, const std::string& title) {
    return ScriptAnswer(ShowScriptBox(runner_.Messages(), prompt, buttons, title));
  };
  // Debug.Print is a trace line naming the thread and the object whose code printed.
  engine_.debugPrint = [this](orlan::Thread& t, const std::string& text) {
    if (TraceSink* trace = runner_.trace()) {
      const auto* basic = static_cast<const CBasic*>(t.UserData());
      trace->Print(ScriptThreadContext::CurrentTraceName(), basic ? basic->name : std::string(), text);
    }
  };
  InstallVariableBuiltins(builtins_);
  InstallFlowBuiltins(builtins_);
  InstallTreeBuiltins(builtins_);
  InstallRemoteBuiltins(builtins_);
  InstallStageBuiltins(builtins_);
  InstallMediaBuiltins(builtins_);
  InstallFileBuiltins(builtins_);
  InstallObjectBuiltins(builtins_);
  InstallUploadBuiltins(builtins_);
  InstallScanBuiltins(builtins_);
  std::string error;
  std::unique_ptr<orlan::HostLibrary> lib =
      BuildKorvelLibrary(error, [this](uint32_t id) { return builtins_.GetQuick(id) != nullptr; });
  if (lib)
    for (orlan::HostProc& p : lib->procs) p.quickEntry = builtins_.GetQuickEntry(p.id);
  if (!lib || !engine_.RegisterLibrary(
                  kKorvelLibraryName, std::move(lib),
                  [this](orlan::Thread& t, uint32_t id, orlan::ArgBlock& a, void*) { Dispatch(t, id, a); }, this,
                  &OrlanBinding::QuickDispatch)) {
    runner_.ShowError(sid::kKorvelExtensionError, WithDetail(sid::kKorvelExtensionError, error),
                      LoadString(sid::kInternalProgramError));
    return false;
  }
  return true;
}

void OrlanBinding::SetRunFolders(const std::string& project, const std::string& program,
                                 const std::string& temporary, const std::string& runtime) {
  std::lock_guard lock(filesLock_);
  guard_ = std::make_unique<FileGuard>(FileGuard::ForRun(project, program, temporary, runtime, runner_.Session().drives));
  baseDir_ = project;
  temporary_ = temporary;
}

void OrlanBinding::KeepTemporaryFile(const std::string& hostPath) {
  std::lock_guard lock(filesLock_);
  temporaryFiles_.push_back(hostPath);
}

std::string OrlanBinding::TemporaryFolder() {
  std::lock_guard lock(filesLock_);
  return temporary_;
}

FileContext OrlanBinding::Files() {
  std::lock_guard lock(filesLock_);
  if (!guard_) {
    std::string project;
    if (auto dir = runner_.variables().FindRuntime("rwProjectDirectory"))
      project = ResolveHostPath(runner_.variables().Text(*dir), runner_.Session().drives, {}).value_or(std::string());
    guard_ = std::make_unique<FileGuard>(FileGuard::ForRun(project, {}, {}, {}, runner_.Session().drives));
    baseDir_ = project;
  }
  return FileContext{runner_.Session().drives, baseDir_, *guard_};
}

void OrlanBinding::Dispatch(orlan::Thread& thread, uint32_t id, orlan::ArgBlock& args) {
  BuiltinFn fn = builtins_.Get(id);
  if (!fn) {
    thread.RaiseError(kBuiltinError, MissingBuiltinText(id));
    return;
  }
  BuiltinCall call{*this, runner_, thread, args, id};
  try {
    fn(call);
  } catch (const KVRunException& e) {
    thread.RaiseError(kBuiltinError, WithDetail(e.id, e.Detail()));
  } catch (const std::exception& e) {
    thread.RaiseError(kBuiltinError, std::string(BuiltinNameOf(id)) + ": " + e.what());
  }
}

bool OrlanBinding::QuickDispatch(orlan::Thread& thread, uint32_t id, orlan::ArgBlock& args, void* extra) {
  QuickFn fn = static_cast<OrlanBinding*>(extra)->builtins_.GetQuick(id);
  return fn && RunQuick(fn, thread, id, args, extra);
}

bool OrlanBinding::OnYield(orlan::Thread& thread) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (runner_.shuttingDown || runner_.abortRequested || (ctx && ctx->abortFlag)) {
    thread.Stop(true);
    return false;
  }
  if (!ctx) return false;
  Clock& clock = runner_.clock();
  const int64_t now = clock.NowMs();
  const int64_t deadline = clock.IsVirtual() ? now + kVirtualYieldSliceMs : now;
  bool pending = false;
  for (;;) {
    Message m = runner_.PumpMessage(true, deadline);
    if (!m) break;
    pending = true;
    if (m.IsKeyDown() && m.key == runner_.stopKey) {
      thread.Stop(true);
      return false;
    }
  }
  if (runner_.shuttingDown || runner_.IsStopRequested()) thread.Stop(true);
  return pending;
}

void OrlanBinding::OnError(orlan::Thread&, int number, uint32_t line, const std::string& text, CBasic& basic) {
  std::string message = orlan::FormatScriptError(number, line, text);
  {
    // The compositing thread reads the text to draw it.
    std::lock_guard lock(lock_);
    basic.errorText = message;
  }
  basic.errorFlag = true;
  auto show = runner_.variables().FindRuntime("rwbShowBasicErrors");
  if (show && runner_.variables().ToDouble(*show) != 0) {
    if (!runner_.shuttingDown) {
      const std::string named = basic.name.empty() ? message : basic.name + " " + message;
      runner_.ShowError(sid::kOrlanRuntimeError, named, LoadString(sid::kOrlanRuntimeError));
    }
    if (runner_.playerRunning) runner_.AbortProject();
  } else {
    basic.dropThread = true;
  }
}

uint32_t OrlanBinding::ReadCompiledCode(std::span<const uint8_t> file, std::vector<uint8_t>& code) {
  std::span<const uint8_t> block;
  switch (orlan::EbcCodeBlock(file, block)) {
    case orlan::EbcStatus::Ok: break;
    case orlan::EbcStatus::OlderVersion: return sid::kOlderScriptVersion;
    default: return sid::kUnknownFileType;
  }
  code.assign(block.begin(), block.end());
  return 0;
}

void OrlanBinding::Hold(CBasic& basic) {
  auto self = std::static_pointer_cast<CBasic>(basic.shared_from_this());
  for (auto& weak : holders_)
    if (!weak.owner_before(self) && !self.owner_before(weak)) return;
  std::erase_if(holders_, [](const std::weak_ptr<CBasic>& w) { return w.expired(); });
  holders_.push_back(self);
}

bool OrlanBinding::LoadCode(CBasic& basic) {
  std::lock_guard lock(lock_);
  if (!basic.code.empty()) return true;
  // The project's object and the scripts' modules sit in no script: their
  // reports name no insert.
  CBasic* reported = basic.document ? &basic : nullptr;
  const std::string name = runner_.ExpandNames(basic.scriptPath);
  const std::string host = runner_.ResolveFile(name);
  std::string bytes;
  if (host.empty() || !ReadHostFile(host, bytes)) {
    runner_.ReportRunError(reported, sid::kUnableToOpenFile, name);
    return false;
  }
  std::vector<uint8_t> code;
  if (name.size() >= 4 && EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".ebs")) {
    orlan::CompileResult r = orlan::Compile(bytes);
    if (!r.ok()) {
      const auto& e = r.errors.front();
      runner_.ReportRunError(reported, sid::kUnknownFileType,
                             name + "(" + std::to_string(e.line) + "): " + e.message);
      return false;
    }
    code = orlan::WriteCodeBlock(r.program);
  } else {
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (uint32_t id = ReadCompiledCode(std::span(data, bytes.size()), code)) {
      runner_.ReportRunError(reported, id, name);
      return false;
    }
  }
  basic.code = std::move(code);
  Hold(basic);
  return true;
}

bool OrlanBinding::HasSubroutine(CBasic& basic, std::string_view name, int argc) {
  std::lock_guard lock(lock_);
  if (!basic.script) return false;
  for (const char* proto : {"kvoRender", "kvoAction"})
    if (EqualsNoCase(name, proto)) return engine_.HasSubroutine(*basic.script, name, proto);
  return FitsCall(*basic.script, name, argc);
}

int OrlanBinding::RunSubroutine(CBasic& basic, std::string_view name, std::span<const orlan::Value> args,
                                bool shared) {
  std::unique_lock lock(lock_);
  const int32_t wasRunning = basic.running.exchange(1);
  // Put back unless someone stopped the insert meanwhile.
  struct RestoreRunning {
    CBasic& basic;
    int32_t was;
    ~RestoreRunning() {
      int32_t ours = 1;
      basic.running.compare_exchange_strong(ours, was);
    }
  } restore{basic, wasRunning};
  if (basic.code.empty()) {
    lock.unlock();
    ShowOrlanError(runner_, sid::kNoCompiledFile, {});
    return -1;
  }
  std::string error;
  if (!basic.script) {
    basic.script = engine_.LoadScript(basic.code, error);
    if (!basic.script) {
      lock.unlock();
      ShowOrlanError(runner_, sid::kErrorCreatingScriptObject, error);
      return -1;
    }
    Hold(basic);
  }
  const int argc = static_cast<int>(args.size());
  bool fits = false;
  {
    bool callback = false;
    for (const char* proto : {"kvoRender", "kvoAction"})
      if (EqualsNoCase(name, proto)) {
        callback = true;
        fits = engine_.HasSubroutine(*basic.script, name, proto);
      }
    if (!callback) fits = FitsCall(*basic.script, name, argc);
  }
  if (!fits) {
    lock.unlock();
    ShowOrlanError(runner_, sid::kSubroutineMissing, std::string(name));
    return -1;
  }
  // The insert's own thread (the project object's shared one) is re-aimed
  // when free; a busy one leaves this call a fresh thread of its own.
  std::unique_ptr<orlan::Thread>& slot = shared ? sharedThread_ : basic.thread;
  bool& slotBusy = shared ? sharedBusy_ : basic.threadBusy;
  std::unique_ptr<orlan::Thread> own;
  orlan::Thread* thread = nullptr;
  if (!slotBusy && slot && &slot->script() == basic.script.get() && slot->Retarget(name)) {
    thread = slot.get();
  } else if (!slotBusy) {
    slot = engine_.CreateThread(basic.script, name, error);
    thread = slot.get();
  } else {
    own = engine_.CreateThread(basic.script, name, error);
    thread = own.get();
  }
  if (!thread) {
    basic.script.reset();
    lock.unlock();
    ShowOrlanError(runner_, sid::kErrorCreatingThread, error);
    return -1;
  }
  const bool usesSlot = thread == slot.get();
  if (usesSlot) slotBusy = true;
  thread->SetUserData(&basic);
  thread->SetErrorCallback(
      [this](orlan::Thread& t, int number, uint32_t line, const std::string& text, void* data) {
        OnError(t, number, line, text, *static_cast<CBasic*>(data));
      },
      &basic);
  lock.unlock();

  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  const int wasState = ctx ? ctx->basicState : 0;
  if (ctx) ctx->basicState = 1;
  const int result = thread->Run(args);
  if (ctx) ctx->basicState = wasState;

  lock.lock();
  if (usesSlot) {
    slotBusy = false;
    // After a silent error the next call starts on a fresh thread.
    if (basic.dropThread) slot.reset();
  }
  basic.dropThread = false;
  own.reset();
  return result;
}

bool OrlanBinding::StartProject(const CStgDoc& project, const std::string& projectPath) {
  std::string path = ProjectOrlanFile(project.projectTree);
  if (path.empty()) {
    const size_t slash = projectPath.find_last_of("\\/");
    const size_t dot = projectPath.find_last_of('.');
    path = (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? projectPath.substr(0, dot)
                                                                                     : projectPath) +
           ".ebc";
  }
  auto object = std::make_shared<CBasic>();
  object->Reset();
  object->scriptPath = path;
  {
    std::lock_guard lock(lock_);
    project_ = object;
  }
  const std::string host = runner_.ResolveFile(runner_.ExpandNames(path));
  std::error_code ec;
  // A project without its own Orlan code runs with an object that holds none.
  if (host.empty() || !std::filesystem::is_regular_file(host, ec)) return true;
  return LoadCode(*object);
}

void OrlanBinding::EndProject() {
  std::shared_ptr<CBasic> ending;
  {
    std::lock_guard lock(lock_);
    if (!sharedBusy_) sharedThread_.reset();
    if (project_ && !project_->threadBusy) project_->ReleaseEngineState();
    ending = std::move(project_);
  }
  // Destroyed outside the Orlan lock: an insert's sprite goes under the stage
  // lock, which drawing takes before the Orlan lock.
  ending.reset();
}

void OrlanBinding::StopAll() {
  engine_.ForEachThread([](orlan::Thread& t) { t.Stop(true); });
  objects_->ShutdownAll();
  if (poster_) poster_->Detach();
}

std::shared_ptr<CBasic> OrlanBinding::ModuleOf(const std::string& path) {
  std::lock_guard lock(lock_);
  for (auto& [p, m] : modules_)
    if (EqualsNoCase(p, path)) return m;
  auto module = std::make_shared<CBasic>();
  module->Reset();
  module->scriptPath = path;
  modules_.emplace_back(path, module);
  return module;
}

int OrlanBinding::RunForEvent(CBasic& object, CInsert* caller, const std::string& name, bool shared,
                              std::span<const orlan::Value> args) {
  // A handler of another object calls in: "THIS" names that object meanwhile.
  std::shared_ptr<CInsert> raiser;
  if (caller && !dynamic_cast<CFlow*>(caller)) raiser = caller->shared_from_this();
  std::weak_ptr<CInsert> before;
  {
    std::lock_guard lock(lock_);
    before = object.eventObject;
    object.eventObject = raiser;
  }
  const int result = RunSubroutine(object, name, args, shared);
  std::lock_guard lock(lock_);
  object.eventObject = before;
  return result;
}

void OrlanBinding::CallScriptSub(Runner& runner, CInsert* caller, const std::string& name) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  std::optional<std::string> program;
  if (ctx && ctx->currentScript) program = GetOrlanFile(runner.Session(), ctx->currentScript->pathName);
  // A script without an Orlan program of its own calls into the project's.
  if (!program) return CallProjectSub(runner, caller, name);
  std::shared_ptr<CBasic> module = ModuleOf(*program);
  if (!LoadCode(*module)) return;
  RunForEvent(*module, caller, name, false);
}

void OrlanBinding::CallProjectSub(Runner&, CInsert* caller, const std::string& name,
                                  std::span<const SubArgument> args) {
  std::shared_ptr<CBasic> object;
  {
    std::lock_guard lock(lock_);
    object = project_;
  }
  if (!object) {
    ShowOrlanError(runner_, sid::kNoCompiledFile, {});
    return;
  }
  std::vector<orlan::Value> values;
  values.reserve(args.size());
  for (const SubArgument& a : args) values.push_back(a.isText ? orlan::Value::Str(a.text) : orlan::Value::Lng(a.number));
  RunForEvent(*object, caller, name, true, values);
}

}  // namespace kv
