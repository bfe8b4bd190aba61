// The player's Orlan binding for one run: the engine instance with the
// "Korvel" library and its dispatcher, the Orlan lock, loading compiled code
// and source for Orlan inserts, running their subroutines, the error and
// yield callbacks, and the project's own Orlan object. The player creates
// one per run and hands it to the runner; inserts reach it through the run.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/orlan_service.h"
#include "ext/orlan_builtins.h"
#include "ext/orlan_files.h"
#include "ext/script_objects.h"
#include "orlan/engine.h"

namespace kv {

class CBasic;
class CStgDoc;
class FileDialog;
class Runner;

class OrlanBinding : public OrlanService {
 public:
  explicit OrlanBinding(Runner& runner);
  ~OrlanBinding() override;
  OrlanBinding(const OrlanBinding&) = delete;
  OrlanBinding& operator=(const OrlanBinding&) = delete;

  // Sets the engine up: option 0, the yield callback, the library and the
  // builtins. False after reporting 6800 or 6810.
  bool Initialize();

  Runner& runner() { return runner_; }
  orlan::Engine& engine() { return engine_; }
  // The one lock around every engine call that makes or drops script
  // objects and threads, and around loading code.
  std::recursive_mutex& lock() { return lock_; }

  // Loads the insert's code (compiled or source) when it holds none; the
  // errors are reported with ReportRunError. Answers whether code is held.
  bool LoadCode(CBasic& basic);
  // Loads compiled code from an .ebc file's bytes; 0 or the string id of the
  // failure, with the detail for the report.
  static uint32_t ReadCompiledCode(std::span<const uint8_t> file, std::vector<uint8_t>& code);

  // Runs subroutine `name` of the insert's script with `args` on the calling
  // thread. `shared`: the project object's calls, which share one thread.
  // Answers the thread's error result, or -1 when nothing ran.
  int RunSubroutine(CBasic& basic, std::string_view name, std::span<const orlan::Value> args = {},
                    bool shared = false);
  // Whether the insert's loaded script has a subroutine `name` that takes
  // `argc` arguments (a callback's prototype when one is registered).
  bool HasSubroutine(CBasic& basic, std::string_view name, int argc);

  // The project's own Orlan object: made when the run starts from the
  // project's Orlan program, or its file name with ".ebc". False when its
  // code exists and fails to load (the run must not start).
  bool StartProject(const CStgDoc& project, const std::string& projectPath);
  void EndProject();
  CBasic* ProjectObject() { return project_.get(); }

  void CallScriptSub(Runner& runner, CInsert* caller, const std::string& name) override;
  void CallProjectSub(Runner& runner, CInsert* caller, const std::string& name,
                      std::span<const SubArgument> args = {}) override;

  // Ends every script of the run and what its objects still run (the run is
  // ending).
  void StopAll();

  // Per-run state of the builtins.
  struct ScanCursor {
    std::weak_ptr<CStgDoc> script;
    int64_t index = -1;
    bool active = false;
  };
  ScanCursor scan;

  const BuiltinTable& builtins() const { return builtins_; }

  // The run's folders (host paths) for the file builtins: relative names
  // start from the project's, and the guard protects all four. Set before
  // scripts run; without it the project's folder is found from
  // rwProjectDirectory when a file builtin first needs it.
  void SetRunFolders(const std::string& project, const std::string& program, const std::string& temporary,
                     const std::string& runtime);
  FileContext Files();
  // The run's temporary folder (host path; empty before SetRunFolders).
  std::string TemporaryFolder();
  // A file of the temporary folder that goes when the binding does.
  void KeepTemporaryFile(const std::string& hostPath);
  // The dialog of kvBrowse and kvBrowseDir; null in runs without one.
  void SetFileDialog(FileDialog* dialog) { fileDialog_ = dialog; }
  FileDialog* fileDialog() const { return fileDialog_; }
  // The programs kvShellExecute started in this run.
  ProcessTable& processes() { return *processes_; }
  // The objects scripts made from the library's classes.
  HostObjectTable& objects() { return *objects_; }
  // The poster of the run's upload reports (set on the run's network hooks).
  const std::shared_ptr<ProjectSubPoster>& poster() const { return poster_; }

  // The engine's entry for one quick builtin: the call reaches `F` without
  // the lookup by id.
  template <QuickFn F>
  static bool QuickEntry(orlan::Thread& thread, uint32_t id, orlan::ArgBlock& args, void* extra) {
    return RunQuick(F, thread, id, args, extra);
  }

 private:
  void Dispatch(orlan::Thread& thread, uint32_t id, orlan::ArgBlock& args);
  // The engine's quick dispatcher: the builtin's QuickFn under the script's lock.
  static bool QuickDispatch(orlan::Thread& thread, uint32_t id, orlan::ArgBlock& args, void* extra);
  static bool RunQuick(QuickFn fn, orlan::Thread& thread, uint32_t id, orlan::ArgBlock& args, void* extra) {
    auto* self = static_cast<OrlanBinding*>(extra);
    BuiltinCall call{*self, self->runner_, thread, args, id};
    try {
      return fn(call);
    } catch (const std::exception&) {
      return false;  // the ordinary call reports it
    }
  }
  bool OnYield(orlan::Thread& thread);
  void OnError(orlan::Thread& thread, int number, uint32_t line, const std::string& text, CBasic& basic);
  std::shared_ptr<CBasic> ModuleOf(const std::string& path);
  int RunForEvent(CBasic& object, CInsert* caller, const std::string& name, bool shared,
                  std::span<const orlan::Value> args = {});
  // Remembers an insert that holds engine state, to release it with the engine.
  void Hold(CBasic& basic);

  Runner& runner_;
  orlan::Engine engine_;
  std::unique_ptr<HostObjectTable> objects_;  // goes before the engine
  std::recursive_mutex lock_;
  BuiltinTable builtins_;
  std::shared_ptr<CBasic> project_;
  // The one thread the project object's calls share.
  std::unique_ptr<orlan::Thread> sharedThread_;
  bool sharedBusy_ = false;
  std::vector<std::weak_ptr<CBasic>> holders_;
  // Orlan modules of scripts (command 32), by program path.
  std::vector<std::pair<std::string, std::shared_ptr<CBasic>>> modules_;
  std::mutex filesLock_;
  std::unique_ptr<FileGuard> guard_;  // made once, then only read
  std::string baseDir_;
  std::string temporary_;
  std::vector<std::string> temporaryFiles_;
  FileDialog* fileDialog_ = nullptr;
  std::unique_ptr<ProcessTable> processes_;
  std::shared_ptr<ProjectSubPoster> poster_;
};

// Installs quick builtin `F` under `id` with its own engine entry.
template <QuickFn F>
void SetQuick(BuiltinTable& table, uint32_t id) {
  table.SetQuick(id, F, &OrlanBinding::QuickEntry<F>);
}

}  // namespace kv
