// The Orlan BASIC engine as the player drives it: engine instances, host
// libraries declared and registered with a dispatcher, script objects made
// from code blocks, threads that run a subroutine on the calling OS thread,
// and the argument accessors host functions use. The player's Orlan binding
// and orlanc's run mode are its callers.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "orlan/bytecode.h"
#include "orlan/value.h"

namespace kv::orlan {

class ArgBlock;
class Engine;
class Thread;
class ObjectTable;

// Tried first, with the script's lock held, for procedures declared with
// kQuickFlag: it answers a call that cannot block, take a lock a drawing
// thread holds or call back into a script (true), or declines (false,
// having written nothing) and the call goes to the dispatcher as any other.
// Arguments are the script's variables themselves, read and written under
// the lock.
using QuickDispatcher = bool (*)(Thread& thread, uint32_t id, ArgBlock& args, void* extra);

// Accessor value for a property without a getter or setter.
inline constexpr uint16_t kNoAccessor = 0xFFFF;
// Declaration flag that adds an overload to a name already declared.
inline constexpr uint32_t kOverloadFlag = 0x4001;
// Declaration flag of a procedure the library's quick dispatcher may answer
// while the script's lock stays held (see Engine::RegisterLibrary).
inline constexpr uint32_t kQuickFlag = 0x10000;

// A value type in a declaration, numbered as OLE Automation variants; a
// record is 15 with the record type's name.
struct HostType {
  uint16_t vt = 12;
  std::string record;
  static constexpr uint16_t kInteger = 2, kLong = 3, kDouble = 5, kString = 8, kObject = 9, kBoolean = 11,
                            kVariant = 12, kRecord = 15;
};

struct HostProc {
  std::string name;
  uint32_t id = 0;
  bool isFunction = false;
  HostType result;
  int minArgs = 0, maxArgs = 0;
  std::vector<HostType> args;
  bool quick = false;  // declared with kQuickFlag
  // This procedure's own quick entry, taken before the library's quick
  // dispatcher when the library gives one (it saves the lookup by id).
  QuickDispatcher quickEntry = nullptr;
};

struct HostProperty {
  std::string name;
  uint16_t setId = kNoAccessor, getId = kNoAccessor;
  HostType type;
};

struct HostClass {
  std::string name;
  uint32_t constructorId = 0;
  std::vector<HostProc> methods;  // subroutine and function methods
  std::vector<HostProperty> properties;
};

// A finished library declaration: what the host offers to scripts.
struct HostLibrary {
  std::vector<std::unique_ptr<RecordType>> records;
  std::vector<HostProc> procs;      // overloads share a name
  std::vector<HostProc> callbacks;  // prototypes of subroutines the host calls
  std::vector<HostClass> classes;
  const RecordType* FindRecord(std::string_view name) const;
  const HostProc* FindCallback(std::string_view name) const;
};

// Builds a HostLibrary declaration by declaration, in the order the host
// makes them. Any inconsistency makes Finish fail and names it in `error`.
class LibraryBuilder {
 public:
  void AddRecordType(std::string name);
  void AddField(std::string name, HostType type);  // to the last record type
  void AddFunction(uint32_t flags, std::string name, uint32_t id, HostType result, int minArgs, int maxArgs,
                   std::vector<HostType> types);
  void AddSub(uint32_t flags, std::string name, uint32_t id, int minArgs, int maxArgs, std::vector<HostType> types);
  void AddCallback(std::string name, int minArgs, int maxArgs, std::vector<HostType> types);
  void AddClass(std::string name, uint32_t constructorId);
  void AddMethod(std::string name, uint32_t id, int minArgs, int maxArgs, std::vector<HostType> types);
  void AddFunctionMethod(std::string name, uint32_t id, HostType result, int minArgs, int maxArgs,
                         std::vector<HostType> types);
  void AddProperty(uint32_t flags, std::string name, uint16_t setId, uint16_t getId, HostType type);
  std::unique_ptr<HostLibrary> Finish(std::string& error);

 private:
  void Fail(std::string message);
  bool CheckType(const HostType& t);
  std::unique_ptr<HostLibrary> lib_ = std::make_unique<HostLibrary>();
  std::string error_;
};

// A record passed to the host, by reference: writes reach the script.
class RecordRef {
 public:
  explicit RecordRef(RecordObj* rec = nullptr) : rec_(rec) {}
  bool valid() const { return rec_ != nullptr; }
  const RecordType* type() const { return rec_ ? rec_->type : nullptr; }
  int FieldCount() const { return rec_ ? static_cast<int>(rec_->fields.size()) : 0; }
  int32_t GetLong(int field) const;
  int16_t GetInteger(int field) const;
  double GetDouble(int field) const;
  std::string GetString(int field) const;
  void SetLong(int field, int32_t v);
  void SetInteger(int field, int16_t v);
  void SetDouble(int field, double v);
  void SetString(int field, std::string v);

 private:
  Value* Field(int field) const;
  RecordObj* rec_;
};

// The arguments of one host call. Slot 0 is a function's result, 1..n the
// arguments (for class members slot 1 is the object). Conversions follow the
// language's rules; a value that does not convert reads as 0 or "" and
// marks the call with a type mismatch raised when the host returns.
// The slots are the calling thread's own copies, read before the call: the
// host runs without the script's lock, and what it sets reaches by-reference
// arguments when it returns (records field by field, the fields it changed).
class ArgBlock {
 public:
  ArgBlock(Thread& thread, Value* slots, int count) : thread_(thread), slots_(slots), count_(count) {}
  int Count() const { return count_ - 1; }  // arguments, without the result slot
  bool IsMissing(int i) const;
  int16_t GetInteger(int i) const;
  int32_t GetLong(int i) const;
  double GetDouble(int i) const;
  std::string GetString(int i) const;
  // A String argument without a copy: valid until the host returns; empty
  // for Missing. The engine converts String parameters before the call.
  std::string_view StringView(int i) const;
  bool GetBoolean(int i) const;
  RecordRef GetRecord(int i) const;
  uint32_t GetObject(int i) const;  // 0 for Nothing
  void SetInteger(int i, int16_t v);
  void SetLong(int i, int32_t v);
  void SetDouble(int i, double v);
  void SetString(int i, std::string v);
  void SetBoolean(int i, bool v);
  // An object of the named host class (0 is Nothing). A handle names one
  // object: a handle live under another class raises error 5 in the script.
  void SetObject(int i, uint32_t handle, std::string_view className = {});
  // The slot itself; the host may change it, so it counts as written.
  Value& Slot(int i) const;
  Thread& thread() const { return thread_; }
  // Whether the host wrote slot i (by a setter or through Slot).
  bool Written(int i) const { return i >= 64 || (written_ >> i & 1) != 0; }

 private:
  bool InRange(int i) const { return i >= 0 && i < count_; }
  Value& Peek(int i) const;
  void MarkWritten(int i) const {
    if (i < 64) written_ |= uint64_t{1} << i;
  }
  Thread& thread_;
  Value* slots_;
  int count_;
  mutable uint64_t written_ = 0;
};

// Host calls arrive here with (thread, dispatch id, argument block, extra).
using Dispatcher = std::function<void(Thread& thread, uint32_t id, ArgBlock& args, void* extra)>;
// Called while scripts run; answers whether host messages are pending.
using YieldCallback = std::function<bool(Thread& thread)>;
using ErrorCallback = std::function<void(Thread& thread, int number, uint32_t line, const std::string& text, void* data)>;

// A loaded script: the verified program, its module variables and its links
// to the host libraries. Shared by the threads that run its subroutines.
class ScriptObject {
 public:
  ScriptObject(Engine& engine, Program program);
  bool Link(std::string& error);

  Engine& engine() { return engine_; }
  const Program& program() const { return program_; }
  int FindSub(std::string_view name) const;
  // Whether `v` is one of the program's constants (never written).
  bool IsConstant(const Value* v) const {
    const Value* k = program_.constants.data();
    return std::less_equal<const Value*>()(k, v) && std::less<const Value*>()(v, k + program_.constants.size());
  }
  Value DefaultFor(const TypeRef& t, const std::vector<ArrayObj::Dim>& dims) const;
  const RecordType* Record(int index) const { return records_[index]; }
  // How a call enters a procedure: `plain` when no parameter is Optional, no
  // local needs a start value and the result starts as a scalar, so a call
  // with every argument present only sets the result slot.
  struct EntryInfo {
    bool plain = false;
    uint16_t params = 0;
    uint16_t registers = 0;
    const Function* fn = nullptr;
    Value result;
  };
  const EntryInfo* Entries() const { return entries_.data(); }
  int ClassOfType(int index) const { return typeClass_[index]; }

  struct ImportLink {
    int library = -1;  // index of the registered library
    std::vector<const HostProc*> overloads;
    bool isDeclare = false;
    // With one overload, what every call of it needs, kept here so a call
    // does not walk from the link to the procedure and its library for it.
    const HostProc* only = nullptr;
    QuickDispatcher quick = nullptr;  // `only`'s own or the library's, when `only` is quick
    void* quickExtra = nullptr;
    Value result;                 // the result slot's start value
    Tag resultTag = Tag::Empty;   // a result already of the declared scalar type
    // Set when `only` takes at most kScalarArgs arguments, each of a scalar
    // type: then any argument but a Record is accepted, and one already of
    // its tag needs no conversion.
    static constexpr int kScalarArgs = 4;
    bool scalarArgs = false;
    uint8_t minArgs = 0, maxArgs = 0;
    std::array<Tag, kScalarArgs> argTags{};
  };

  std::vector<Value> globals;
  std::vector<ImportLink> imports;
  // One script thread runs at a time; others wait and take turns.
  std::mutex gil;
  std::atomic<int> waiters{0};
  std::atomic<std::thread::id> gilOwner{};

 private:
  Engine& engine_;
  Program program_;
  std::vector<std::unique_ptr<RecordType>> ownRecords_;
  std::vector<const RecordType*> records_;
  std::vector<int> typeClass_;  // per record slot: host class index, or -1
  std::vector<EntryInfo> entries_;
};

struct Frame {
  const Function* fn = nullptr;
  Value* base = nullptr;
  const Ins* ip = nullptr;  // where this frame continues
  uint16_t handler = 0;
  uint8_t onError = 0;  // 0 none, 1 Resume Next, 2 GoTo handler
  bool inHandler = false;
  uint32_t errPc = 0;
  uint32_t lastLabel = 0;  // the numeric line label reached last, for Erl
};

// The call frames in one block sized for the deepest nesting allowed: a call
// neither checks capacity nor moves frames, and the depth is a pointer.
class FrameStack {
 public:
  explicit FrameStack(size_t capacity) : data_(new Frame[capacity]), top_(data_.get()), limit_(top_ + capacity) {}
  bool empty() const { return top_ == data_.get(); }
  bool full() const { return top_ == limit_; }
  size_t size() const { return static_cast<size_t>(top_ - data_.get()); }
  Frame& back() { return top_[-1]; }
  const Frame& back() const { return top_[-1]; }
  // The caller checks full() first.
  void push(const Function* fn, Value* base, const Ins* ip) { *top_++ = Frame{fn, base, ip}; }
  void pop_back() { --top_; }

 private:
  std::unique_ptr<Frame[]> data_;
  Frame* top_;
  Frame* limit_;
};

// One script thread: runs one subroutine (and what it calls) to its end on
// the OS thread that calls Run. Stop may come from any OS thread.
class Thread {
 public:
  Thread(Engine& engine, std::shared_ptr<ScriptObject> script, int function);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Runs the subroutine; returns 0 or the number of the error that ended it.
  // A thread that is running already (on another OS thread, or further up
  // this one) is left alone: a fresh thread of the same subroutine, with
  // this one's user data and callbacks, runs instead and answers.
  int Run(std::span<const Value> args = {});
  // Points a finished thread at another subroutine of its script.
  bool Retarget(std::string_view name);
  // Ends the run at its next check: abort makes the error result 18.
  void Stop(bool abort);
  bool IsActive() const { return active_.load(); }
  // For host functions that block: whether the run was told to stop, and a
  // wait of at most `timeout` that Stop ends at once (true when stopped).
  bool StopRequested() const { return stop_.load(std::memory_order_relaxed); }
  bool WaitForStop(std::chrono::milliseconds timeout);
  int ErrorResult() const { return errorResult_; }

  void SetUserData(void* data) { userData_ = data; }
  void* UserData() const { return userData_; }
  void SetErrorCallback(ErrorCallback cb, void* data) {
    errorCallback_ = std::move(cb);
    errorData_ = data;
  }
  // Holds off the yield callback between HoldYield(true) and HoldYield(false).
  void HoldYield(bool hold) { holdYield_ = hold; }
  // Raises a run-time error in the script once the current host call returns.
  void RaiseError(int number, std::string description = {});
  ScriptObject& script() { return *script_; }
  Engine& engine() { return engine_; }
  const std::string& SubName() const;

  // Lets other threads of the script run while the host blocks.
  class Unlock {
   public:
    explicit Unlock(Thread& t);
    ~Unlock();

   private:
    Thread& t_;
    bool unlocked_;
  };

  // The Err object and library state (runtime functions use them).
  int errNumber = 0;
  std::string errDescription, errSource;
  uint32_t errLine = 0;
  uint32_t errErl = 0;  // Erl: the numeric line label before the error
  uint32_t rndSeed = 0x50000;
  float lastRnd = 0;
  void Yield();  // DoEvents
  uint32_t CurrentLine() const;
  void ClearError() {
    errNumber = 0;
    errErl = 0;
    errDescription.clear();
    errSource.clear();
  }
  // Every value of the running frames; the caller holds the script's lock.
  void VisitValues(const std::function<void(Value&)>& fn);

 private:
  friend class ArgBlock;
  friend class Engine;
  friend class ThreadLease;
  bool Claim() { return !active_.exchange(true); }
  int RunClaimed(std::span<const Value> args);
  void Execute();
  bool HandleError(const ScriptError& e);
  void PushFrame(int index, Value* base, int nargs);
  void PushFrameSlow(const Function* fn, Value* base, int nargs);
  void PopFrame();
  void Poll();
  void CallHost(Value* base, int import, int nargs);
  void CallMember(Value* base, const std::string& name, int nargs, int kind);
  void NewObject(Value* dst, const std::string& cls);
  void Dispatch(int library, uint32_t id, Value* base, int count, int firstArg = 1, const HostType* types = nullptr);
  void CheckPending();
  void LockScript();
  void UnlockScript();

  Engine& engine_;
  std::shared_ptr<ScriptObject> script_;
  int function_;
  std::vector<Value> stack_;  // never resized: frames point into it
  const Value* stackEnd_;
  FrameStack frames_;
  // GoSub return points of every frame, innermost last; `frame` is the
  // owner's depth (frames_.size() when it ran GoSub).
  struct GoSubReturn {
    size_t frame;
    const Ins* ip;
  };
  std::vector<GoSubReturn> gosubs_;
  std::atomic<bool> stop_{false}, abort_{false};
  std::atomic<bool> active_{false};
  std::mutex stopMutex_;
  std::condition_variable stopCv_;
  int errorResult_ = 0;
  void* userData_ = nullptr;
  ErrorCallback errorCallback_;
  void* errorData_ = nullptr;
  bool holdYield_ = false;
  bool locked_ = false;
  int64_t lastYieldNs_ = 0;
  int pendingError_ = 0;
  std::string pendingText_;
};

// A thread claimed for one run (Engine::LeaseThread): no other caller can
// start or re-target it until the lease runs it or ends. A fresh thread made
// for the lease dies with it.
class ThreadLease {
 public:
  ThreadLease() = default;
  ThreadLease(ThreadLease&& o) noexcept;
  ThreadLease& operator=(ThreadLease&& o) noexcept;
  ~ThreadLease();
  explicit operator bool() const { return thread_ != nullptr; }
  Thread* operator->() const { return thread_; }
  Thread& operator*() const { return *thread_; }
  // Whether the lease made its own thread because the reusable one was busy.
  bool IsFresh() const { return fresh_ != nullptr; }
  int Run(std::span<const Value> args = {});

 private:
  friend class Engine;
  void Release();
  Thread* thread_ = nullptr;
  std::unique_ptr<Thread> fresh_;
  bool claimed_ = false;
};

// Told when the last script reference to a host object dies: (library index,
// class index or -1, handle). Called on the OS thread that dropped the
// reference, possibly inside the script's lock: it must not wait for
// another script thread.
using ObjectReleasedCallback = std::function<void(int library, int hostClass, uint32_t handle)>;

// An engine instance: registered host libraries, options, callbacks and the
// registry of threads.
class Engine {
 public:
  Engine();
  ~Engine();

  bool RegisterLibrary(std::string name, std::unique_ptr<HostLibrary> lib, Dispatcher dispatcher, void* extra = nullptr,
                       QuickDispatcher quick = nullptr);
  // Verifies and loads a code block (the bytes after the .ebc header).
  std::shared_ptr<ScriptObject> LoadScript(std::span<const uint8_t> codeBlock, std::string& error);
  // Compiles source and loads it (.ebs handed to the player).
  std::shared_ptr<ScriptObject> LoadSource(std::string_view source, std::string& error);
  std::shared_ptr<ScriptObject> LoadProgram(Program program, std::string& error);
  // Whether the script has a subroutine `name` fitting the host's callback prototype.
  bool HasSubroutine(const ScriptObject& script, std::string_view name, std::string_view prototype) const;
  // Whether the script has a subroutine (a Sub, not a Function) called `name`.
  bool HasSubroutine(const ScriptObject& script, std::string_view name) const;
  std::unique_ptr<Thread> CreateThread(std::shared_ptr<ScriptObject> script, std::string_view name, std::string& error);
  // A thread ready to run `name`: `own` re-targeted when it is idle and of
  // this script (made when empty or of another idle script), otherwise a
  // fresh thread that the lease owns. An empty lease and `error` when the
  // script has no such subroutine.
  ThreadLease LeaseThread(std::unique_ptr<Thread>& own, std::shared_ptr<ScriptObject> script, std::string_view name,
                          std::string& error);

  void SetOption(int code, uint32_t value);
  uint32_t Option(int code) const;
  void SetYieldCallback(YieldCallback cb) { yield_ = std::move(cb); }
  const YieldCallback& yieldCallback() const { return yield_; }
  // Host output of Debug.Print (with the printing thread, whose user data
  // names its host object), MsgBox and InputBox.
  std::function<void(Thread&, const std::string&)> debugPrint;
  std::function<int(const std::string& prompt, int buttons, const std::string& title)> msgBox;
  std::function<std::string(const std::string& prompt, const std::string& title, const std::string& def)> inputBox;

  // Local time as a date serial (days since 30 December 1899, the time of day
  // as the fraction) for Now, Date, Time and Timer; unset reads the wall clock.
  std::function<double()> clock;

  // Running threads, first to last, for the host's walks.
  void ForEachThread(const std::function<void(Thread&)>& fn);
  // Makes every script reference to a host object Nothing (the host destroyed
  // it); the release callback is then not called for it.
  void ClearObjectReferences(uint32_t handle);
  // A handle no live host object has, unique across classes; never 0.
  uint32_t NewObjectHandle();
  // Whether a script still refers to the object `handle`.
  bool IsObjectReferenced(uint32_t handle) const;
  ObjectReleasedCallback objectReleased;

  struct Library {
    std::string name;
    std::unique_ptr<HostLibrary> lib;
    Dispatcher dispatcher;
    void* extra;
    QuickDispatcher quick;
  };
  const std::vector<Library>& libraries() const { return libraries_; }
  // Finds a host class by name: (library, class index) or (-1, -1).
  std::pair<int, int> FindClass(std::string_view name) const;

 private:
  friend class Thread;
  friend class ScriptObject;
  friend class ArgBlock;
  // The one box of `handle` for a script value; false when the handle is
  // live under another class.
  bool ObjectBox(uint32_t handle, int library, int hostClass, Value& out);
  void AddThread(Thread* t);
  void RemoveThread(Thread* t);
  std::vector<Library> libraries_;
  YieldCallback yield_;
  uint32_t options_[32] = {};
  std::mutex threadsMutex_;
  std::vector<Thread*> threads_;
  std::mutex scriptsMutex_;
  std::vector<std::weak_ptr<ScriptObject>> scripts_;
  std::unique_ptr<ObjectTable> objects_;
};

// The accessors every quick host call uses, inline so such a call costs no
// more calls than the host's own.
inline Value& ArgBlock::Peek(int i) const { return Deref(slots_[i]); }

inline Value& ArgBlock::Slot(int i) const {
  MarkWritten(i);
  Value& s = slots_[i];
  // A constant handed over in place: the host writes its own copy.
  if (s.tag == Tag::Ref && thread_.script_->IsConstant(s.ref)) s = *s.ref;
  return Deref(s);
}

inline std::string_view ArgBlock::StringView(int i) const {
  if (!InRange(i) || Peek(i).tag != Tag::String) return {};
  return StrOf(Peek(i));
}

// Set in place: a temporary Value stored half and read whole stalls the
// store forwarding on every host call.
inline void ArgBlock::SetInteger(int i, int16_t v) {
  if (InRange(i)) Slot(i).SetInt(Tag::Integer, v);
}
inline void ArgBlock::SetLong(int i, int32_t v) {
  if (InRange(i)) Slot(i).SetInt(Tag::Long, v);
}
inline void ArgBlock::SetDouble(int i, double v) {
  if (InRange(i)) Slot(i).SetDouble(v);
}
inline void ArgBlock::SetBoolean(int i, bool v) {
  if (InRange(i)) Slot(i).SetInt(Tag::Boolean, v ? -1 : 0);
}

// "Error %d (Line %u): %s" filled in, as the player shows a script error.
std::string FormatScriptError(int number, uint32_t line, const std::string& text);

}  // namespace kv::orlan
