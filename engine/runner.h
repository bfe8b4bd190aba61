// The script runner: plays scripts on the project thread and on script
// threads, carries requests between threads, waits while serving messages,
// raises events, and stops, restarts or aborts the run. One Runner exists
// per run; behaviour reaches it as an argument, and a thread finds its own
// context through ScriptThreadContext::Current().
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/clock.h"
#include "engine/message_port.h"
#include "engine/play_context.h"
#include "engine/random.h"
#include "engine/request.h"
#include "engine/run_error.h"
#include "engine/variables.h"

namespace kv {

class CFlow;
class CInsert;
class CStgDoc;
class ClipboardService;
class DocumentOpener;
class MediaService;
class MessageBoxService;
class OrlanService;
class PrintService;
class ProgramLauncher;
class ProjectSession;
class Runner;
class StageLink;
class TraceSink;
using InsertPtr = std::shared_ptr<CInsert>;
using DocPtr = std::shared_ptr<CStgDoc>;

inline constexpr int64_t kNoPosition = -1;
inline constexpr int kMaxCallFrames = 50;

// PlayInsert options.
namespace play_option {
inline constexpr int kOnlyActive = 1;
inline constexpr int kSkipDisabled = 2;
inline constexpr int kSkipOwnThread = 4;
inline constexpr int kOnlyOwnThread = 8;
inline constexpr int kThisThread = 16;
inline constexpr int kNewThread = 32;
}  // namespace play_option

// Run modes passed to Run.
namespace run_mode {
inline constexpr int32_t kScript = 2;
inline constexpr int32_t kHandler = 6;
inline constexpr int32_t kInitialize = 7;
}  // namespace run_mode

struct CallFrame {
  DocPtr script;
  int64_t next = kNoPosition;
  int64_t end = kNoPosition;
};

// One engine thread: its port, its registry flags and its execution
// context. Owned by the runner's registry (shared) and by its OS thread.
class ScriptThreadContext : public std::enable_shared_from_this<ScriptThreadContext> {
 public:
  ScriptThreadContext(Runner& runner, std::string traceName, uint32_t seed);
  ~ScriptThreadContext();
  static std::shared_ptr<ScriptThreadContext> Create(Runner& runner, std::string traceName, uint32_t seed);

  // Whether `link` names this thread; compares owners, so it costs no count.
  bool Is(const std::weak_ptr<ScriptThreadContext>& link) const {
    return !link.owner_before(self) && !self.owner_before(link);
  }

  // The context of the calling thread; null on a thread that runs no scripts.
  // Inline: builtins ask for it on every call.
  static ScriptThreadContext* Current() { return current_; }
  static void SetCurrent(ScriptThreadContext* context) { current_ = context; }
  // The trace's name of the calling thread: "main" on one that runs no scripts.
  static std::string CurrentTraceName() { return current_ ? current_->traceName : "main"; }

  Runner& runner;
  ThreadPort port;
  const std::string traceName;  // "project", "main", "script:NAME"
  RandomSource random;
  bool isProjectThread = false;
  bool isMainThread = false;

  std::weak_ptr<ScriptThreadContext> self;
  std::thread osThread;
  // Joins the OS thread once, whoever asks first (the runner's shutdown and
  // an abort may both); never from the thread itself.
  void JoinOs();
  std::atomic<bool> ready{false};
  std::atomic<bool> done{false};
  std::atomic<bool> abortFlag{false};
  std::atomic<bool> paused{false};  // a gate at the next pump
  std::weak_ptr<CInsert> playedInsert;
  // An object thread's copy of `playedInsert`, set once before `ready`; the
  // launching thread watches it without touching the insert's own link.
  std::weak_ptr<CInsert> playedCopy;
  DocPtr privateScript;

  // The execution context, touched by the owning thread only.
  bool stepBackPending = false;
  bool labelJumpPending = false;
  bool haltRequested = false;
  std::string pendingLabel;
  DocPtr currentScript;
  int64_t nextPosition = kNoPosition;
  int64_t endPosition = kNoPosition;
  InsertPtr currentInsert;
  int64_t playingIndex = kNoPosition;  // the loop's index of the insert it plays
  std::array<CallFrame, kMaxCallFrames> callStack;
  int callDepth = -1;
  std::weak_ptr<CInsert> currentExtensionObject;
  // Non-zero while an Orlan subroutine runs on this thread.
  int basicState = 0;
  // The event and stage point of the request being executed.
  uint32_t eventCode = 0;
  int32_t eventX = -1, eventY = -1;

 private:
  static inline thread_local ScriptThreadContext* current_ = nullptr;
  std::mutex joinMutex_;

 public:

  // Push fails when the 50 frames are used; Pop with `restore` puts the
  // caller's script and positions back.
  bool PushFrame();
  bool PopFrame(bool restore, DocPtr* saved = nullptr);
  void SetScript(DocPtr script);
};

// What the host gives a run.
struct RunnerServices {
  Clock* clock = nullptr;
  MessageBoxService* messages = nullptr;
  TraceSink* trace = nullptr;  // may be null
  // Seeds: with `seeded`, each thread's generator from `seed` and its start
  // order; otherwise from the clock.
  bool seeded = false;
  uint32_t seed = 0;
  // Loads a script document by stored name; null when it cannot be read
  // (the loader reports nothing; the runner does).
  std::function<DocPtr(const std::string& path)> loadScript;
  // Expands the name-substitution macros of a stored name.
  std::function<std::string(const std::string&)> expandNames;
  // Starting programs and opening documents (the launch insert); may be null.
  ProgramLauncher* launcher = nullptr;
  DocumentOpener* documents = nullptr;
  // The system clipboard (the desktop's, or the player's own); may be null.
  ClipboardService* clipboard = nullptr;
  // The stage of the run; null in runs without one (engine tests).
  StageLink* stage = nullptr;
  // Sound and MCI; null: the run has no sound layer.
  MediaService* media = nullptr;
  // The Orlan binding; null: the run has none (set once it exists).
  OrlanService* orlan = nullptr;
  // Printing the stage; null: the run cannot print.
  PrintService* printer = nullptr;
  // The local host file a stored name stands for (name macros expanded,
  // fetched or extracted by the resource locator); empty when there is none.
  std::function<std::string(const std::string& name)> resolveFile;
  // The run's open project with its locator and play state; null: the
  // runner keeps an empty one of its own (engine tests).
  ProjectSession* session = nullptr;
};

class Runner {
 public:
  Runner(RunnerServices services, RuntimeFacts facts);
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // The global run state.
  std::atomic<bool> playerRunning{false};
  std::atomic<bool> shuttingDown{false};
  std::atomic<bool> abortRequested{false};
  std::atomic<bool> sceneChanging{false};
  std::atomic<bool> sceneLoading{false};
  std::atomic<bool> restartRequested{false};
  uint32_t stopKey = 0x1B;

  Clock& clock() { return *services_.clock; }
  TraceSink* trace() { return services_.trace; }
  ProgramLauncher* Launcher() { return services_.launcher; }
  DocumentOpener* Documents() { return services_.documents; }
  ClipboardService* Clipboard() { return services_.clipboard; }
  StageLink* Stage() { return services_.stage; }
  // The stage is made once the runner exists (it needs the runner).
  void SetStage(StageLink* stage) { services_.stage = stage; }
  MediaService* Media() { return services_.media; }
  MessageBoxService& Messages() { return *services_.messages; }
  OrlanService* Orlan() { return services_.orlan; }
  PrintService* Printer() { return services_.printer; }
  // Printing needs the stage, so it is installed once the stage exists.
  void SetPrinter(PrintService* printer) { services_.printer = printer; }
  // The binding needs the runner, so it is installed once both exist.
  void SetOrlan(OrlanService* orlan) { services_.orlan = orlan; }
  // The open project, its tree and the resource locator of this run.
  ProjectSession& Session() { return *services_.session; }
  std::string ResolveFile(const std::string& name) {
    return services_.resolveFile ? services_.resolveFile(name) : std::string();
  }
  // The run's typed services; the player fills the slots once they exist.
  PlayContext& Context() { return context_; }
  VariableStore& variables() { return variables_; }
  const DocPtr& project() const { return project_; }
  int64_t Now() { return clock().NowMs(); }

  // Starts the project thread on `project` (its items are the start script),
  // and the main thread's port for commands that run there.
  void Start(DocPtr project, std::shared_ptr<ScriptThreadContext> mainThread);
  // Whether the project thread has ended; the exit status of the run
  // (0 ended, 3 aborted).
  bool Ended() const { return ended_.load(); }
  void RequestRestart();
  // "Run New Project": the host file of the project that replaces this one
  // once the run has ended; Take answers it (empty: none) and forgets it.
  void RequestNewProject(const std::string& hostFile);
  std::string TakeNewProject();
  int ExitStatus() const { return aborted_.load() ? 3 : 0; }
  // Stops every thread and joins them (the end of a run, however it ends).
  void Shutdown();

  // --- the thread's own operations
  bool IsStopRequested();
  void RunScript(int32_t mode);
  void RunInsertList(int32_t mode);
  bool PlayInsert(const InsertPtr& insert, int32_t mode, int options);
  // Runs `insert->Run` reporting failures; answers Run's result (0 on error).
  int RunGuarded(const InsertPtr& insert, int32_t mode);
  Message PumpMessage(bool executeRequests, int64_t timeoutMs);
  // Pumps (executing requests) until the stop key, a stop request, `counter`
  // dropping to 0 or a directly handed request answering non-zero.
  void WaitForAdvance(const std::atomic<int>* counter);
  // Pumps until `ms` have passed; false when the stop key or a stop ended it.
  bool WaitPeriod(int64_t ms, bool executeRequests = true);
  void DelayBeforeActing(CInsert& insert, int32_t mode);
  // Reports through the Yes/No question; answers true to continue.
  bool ReportRunError(CInsert* insert, uint32_t stringId, const std::string& detail);
  // `failure`: the run ends with the aborted status (a question answered No,
  // the stop key); the halt command ends it normally.
  void AbortProject(bool failure = true);
  void StopScriptInserts(const DocPtr& script);
  // A miss sets rwLastError 2 unless `quiet` (the MCI insert's lookup).
  InsertPtr FindObject(const std::string& name, bool includeDisabled = false, bool quiet = false);

  // --- requests and events
  bool PostRequest(ScriptThreadContext* target, std::unique_ptr<Request> request, bool direct);
  int ExecuteRequest(std::unique_ptr<Request> request);
  int RaiseEvent(CInsert& insert, uint32_t eventCode, int kind, std::shared_ptr<CFlow> handler, int32_t x = -1,
                 int32_t y = -1);
  void RegisterForEvents(CInsert& insert);
  ScriptThreadContext* ThreadOf(const CInsert& insert);
  ScriptThreadContext* ProjectThread() { return projectThread_.get(); }
  ScriptThreadContext* MainThread() { return mainThread_.get(); }

  // --- threads
  // Starts a script thread for a freestyle script (command 2); null when it
  // cannot be started.
  std::shared_ptr<ScriptThreadContext> StartScriptThread(const DocPtr& script);
  std::vector<std::shared_ptr<ScriptThreadContext>> ScriptThreads();
  void StopThread(ScriptThreadContext& thread);
  // Waits (pumping the caller's port) until the thread has ended.
  void JoinThread(ScriptThreadContext& thread, int64_t firstLimitMs);
  size_t LiveScriptThreads();

  // --- scripts
  // Loads (or finds loaded) a script by stored name for the commands.
  DocPtr LoadScript(const std::string& name, uint16_t code, bool& alreadyInUse, bool& failed);
  void ReleaseScript(const DocPtr& script);
  DocPtr FindLoadedScript(const std::string& path);
  std::string ExpandNames(const std::string& text);
  // Commands 16, 34, 35, 36 and 53 on the project thread.
  int ChangeScene(CFlow& flow, uint16_t code);
  // The scene or script the project thread runs.
  DocPtr CurrentScene();

  // --- user-visible messages
  // Shows a Yes/No question; true for Yes. Traced.
  bool AskYesNo(uint32_t textId, const std::string& text, const std::string& title);
  void ShowError(uint32_t textId, const std::string& text, const std::string& title);
  void TraceRun(ScriptThreadContext& thread, const CStgDoc& script, int64_t index, const CInsert& insert);
  void TraceScript(ScriptThreadContext& thread, const CStgDoc& script);

  uint32_t NextSeed();

 private:
  friend class ScriptThreadContext;
  void ProjectThreadMain();
  void ScriptThreadMain(std::shared_ptr<ScriptThreadContext> self);
  void ObjectThreadMain(std::shared_ptr<ScriptThreadContext> self, InsertPtr insert);
  std::shared_ptr<ScriptThreadContext> StartObjectThread(const InsertPtr& insert);
  void EndOfScript(ScriptThreadContext& ctx);
  void LeaveScript(ScriptThreadContext& ctx);
  void Register(const std::shared_ptr<ScriptThreadContext>& thread);
  // Registers and starts `thread` running `body`; false once the run is ending.
  bool LaunchThread(const std::shared_ptr<ScriptThreadContext>& thread, std::function<void()> body);
  ScriptThreadContext* TargetOfCommand(CInsert& raiser, CFlow& handler, uint16_t command, int kind,
                                       bool& direct, InsertPtr& namedObject);
  void WakeEveryone();

  std::unique_ptr<ProjectSession> ownSession_;
  RunnerServices services_;
  VariableStore variables_;
  RuntimeFacts facts_;
  PlayContext context_;
  DocPtr project_;
  std::shared_ptr<ScriptThreadContext> projectThread_;
  std::shared_ptr<ScriptThreadContext> mainThread_;
  std::atomic<bool> ended_{false};
  // Set once by Shutdown and never cleared: a restart of the project (which
  // clears shuttingDown) must not undo the end of the run.
  std::mutex endLock_;
  bool runEnding_ = false;
  std::atomic<bool> aborted_{false};
  std::mutex newProjectLock_;
  std::string newProject_;  // guarded by newProjectLock_
  std::atomic<int> abortCount_{0};
  std::atomic<uint32_t> threadsStarted_{0};

  std::recursive_mutex eventLock_;
  std::mutex registryLock_;
  std::vector<std::shared_ptr<ScriptThreadContext>> threads_;
  std::recursive_mutex releaseLock_;
  std::mutex loadedLock_;
  std::vector<DocPtr> loaded_;
};

}  // namespace kv
