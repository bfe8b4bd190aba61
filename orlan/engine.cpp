// The engine the player drives: loading programs, leasing threads to run
// their subroutines, options, and the handles of host objects.
#include "orlan/engine.h"

#include "orlan/codefile.h"
#include "orlan/compiler.h"
#include "orlan/engine_internal.h"
#include "orlan/object_table.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv::orlan {

namespace {
constexpr uint32_t kScriptErrorFormat = 31477;
}  // namespace

std::string FormatScriptError(int number, uint32_t line, const std::string& text) {
  std::string fmt = LoadString(kScriptErrorFormat);
  std::string out;
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] == '%' && i + 1 < fmt.size()) {
      char c = fmt[++i];
      if (c == 'd') out += std::to_string(number);
      else if (c == 'u') out += std::to_string(line);
      else if (c == 's') out += text;
      else out += c;
    } else {
      out += fmt[i];
    }
  }
  return out;
}

// ---- the engine ----

Engine::Engine() : objects_(std::make_unique<ObjectTable>(*this)) { options_[0] = 0; }

Engine::~Engine() = default;

bool Engine::ObjectBox(uint32_t handle, int library, int hostClass, Value& out) {
  return objects_->BoxFor(handle, library, hostClass, out);
}

uint32_t Engine::NewObjectHandle() { return objects_->NewHandle(); }

bool Engine::IsObjectReferenced(uint32_t handle) const { return handle != 0 && objects_->Contains(handle); }

bool Engine::RegisterLibrary(std::string name, std::unique_ptr<HostLibrary> lib, Dispatcher dispatcher, void* extra,
                             QuickDispatcher quick) {
  if (!lib) return false;
  for (const auto& l : libraries_)
    if (EqualsNoCase(l.name, name)) return false;
  libraries_.push_back(Library{std::move(name), std::move(lib), std::move(dispatcher), extra, quick});
  return true;
}

std::pair<int, int> Engine::FindClass(std::string_view name) const {
  if (name.empty()) return {-1, -1};
  for (size_t l = 0; l < libraries_.size(); ++l) {
    const auto& classes = libraries_[l].lib->classes;
    for (size_t c = 0; c < classes.size(); ++c)
      if (EqualsNoCase(classes[c].name, name)) return {static_cast<int>(l), static_cast<int>(c)};
  }
  return {-1, -1};
}

std::shared_ptr<ScriptObject> Engine::LoadProgram(Program program, std::string& error) {
  // Compiled programs pass the same verifier as loaded code blocks.
  if (!VerifyProgram(program, error)) return nullptr;
  auto script = std::make_shared<ScriptObject>(*this, std::move(program));
  if (!script->Link(error)) return nullptr;
  std::lock_guard<std::mutex> lock(scriptsMutex_);
  scripts_.erase(std::remove_if(scripts_.begin(), scripts_.end(), [](const auto& w) { return w.expired(); }), scripts_.end());
  scripts_.push_back(script);
  return script;
}

std::shared_ptr<ScriptObject> Engine::LoadScript(std::span<const uint8_t> codeBlock, std::string& error) {
  Program program;
  if (!ReadCodeBlock(codeBlock, program, error)) return nullptr;
  return LoadProgram(std::move(program), error);
}

std::shared_ptr<ScriptObject> Engine::LoadSource(std::string_view source, std::string& error) {
  CompileResult r = Compile(source);
  if (!r.ok()) {
    error = Join(Join("(", std::to_string(r.errors[0].line)), Join("): ", r.errors[0].message));
    return nullptr;
  }
  return LoadProgram(std::move(r.program), error);
}

bool Engine::HasSubroutine(const ScriptObject& script, std::string_view name, std::string_view prototype) const {
  int f = script.FindSub(name);
  if (f < 0) return false;
  const Function& fn = script.program().functions[f];
  if (fn.isFunction) return false;
  const HostProc* proto = nullptr;
  for (const auto& l : libraries_)
    if (!proto) proto = l.lib->FindCallback(prototype);
  if (!proto) return false;
  int required = 0;
  for (const auto& p : fn.params)
    if (!p.optional) ++required;
  if (required > proto->maxArgs || static_cast<int>(fn.params.size()) < proto->minArgs) return false;
  for (size_t i = 0; i < fn.params.size() && i < proto->args.size(); ++i) {
    const TypeRef& t = fn.params[i].type;
    VarType want = VarTypeOfHost(proto->args[i]);
    if (t.isArray) return false;
    if (t.vt != VarType::Variant && t.vt != want) return false;
  }
  return true;
}

namespace {
// The procedure a new run starts at, or -1 with the reason in `error`.
int SubroutineIndex(const ScriptObject* script, std::string_view name, std::string& error) {
  if (!script) {
    error = "No script object";
    return -1;
  }
  int f = script->FindSub(name);
  if (f < 0) error = Join("Subroutine missing: ", std::string(name));
  return f;
}
}  // namespace

bool Engine::HasSubroutine(const ScriptObject& script, std::string_view name) const {
  int f = script.FindSub(name);
  return f >= 0 && !script.program().functions[f].isFunction;
}

ThreadLease Engine::LeaseThread(std::unique_ptr<Thread>& own, std::shared_ptr<ScriptObject> script, std::string_view name,
                                std::string& error) {
  ThreadLease lease;
  int f = SubroutineIndex(script.get(), name, error);
  if (f < 0) return lease;
  if (own && own->script_ != script && !own->IsActive()) own.reset();
  if (!own) own = std::make_unique<Thread>(*this, script, f);
  if (own->script_ == script && own->Claim()) {
    own->function_ = f;
    lease.thread_ = own.get();
    lease.claimed_ = true;
  } else {
    lease.fresh_ = std::make_unique<Thread>(*this, std::move(script), f);
    lease.thread_ = lease.fresh_.get();
  }
  return lease;
}

ThreadLease::ThreadLease(ThreadLease&& o) noexcept
    : thread_(std::exchange(o.thread_, nullptr)), fresh_(std::move(o.fresh_)), claimed_(std::exchange(o.claimed_, false)) {}

ThreadLease& ThreadLease::operator=(ThreadLease&& o) noexcept {
  if (this != &o) {
    Release();
    thread_ = std::exchange(o.thread_, nullptr);
    fresh_ = std::move(o.fresh_);
    claimed_ = std::exchange(o.claimed_, false);
  }
  return *this;
}

ThreadLease::~ThreadLease() { Release(); }

void ThreadLease::Release() {
  if (claimed_) thread_->active_.store(false);
  claimed_ = false;
  fresh_.reset();
  thread_ = nullptr;
}

int ThreadLease::Run(std::span<const Value> args) {
  if (!thread_) return err::kSubNotDefined;
  if (!claimed_) return thread_->Run(args);
  claimed_ = false;  // the run ends the claim
  return thread_->RunClaimed(args);
}

std::unique_ptr<Thread> Engine::CreateThread(std::shared_ptr<ScriptObject> script, std::string_view name, std::string& error) {
  int f = SubroutineIndex(script.get(), name, error);
  if (f < 0) return nullptr;
  return std::make_unique<Thread>(*this, std::move(script), f);
}

void Engine::SetOption(int code, uint32_t value) {
  if (code >= 0 && code < 32) options_[code] = value;
}

uint32_t Engine::Option(int code) const { return code >= 0 && code < 32 ? options_[code] : 0; }

void Engine::AddThread(Thread* t) {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  threads_.push_back(t);
}

void Engine::RemoveThread(Thread* t) {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  threads_.erase(std::remove(threads_.begin(), threads_.end(), t), threads_.end());
}

void Engine::ForEachThread(const std::function<void(Thread&)>& fn) {
  std::vector<Thread*> running;
  {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    for (Thread* t : threads_)
      if (t->IsActive()) running.push_back(t);
  }
  for (Thread* t : running) fn(*t);
}

void Engine::ClearObjectReferences(uint32_t handle) {
  // Host objects have one box per handle, shared by every copy of the
  // reference, so no script value needs visiting and no script lock is taken
  // (a host holding its own lock here cannot deadlock against a script).
  if (handle != 0) objects_->Clear(handle);
}

}  // namespace kv::orlan
