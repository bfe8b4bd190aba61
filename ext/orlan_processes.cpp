// Programs and documents a script starts, kept by handle until they end.
#include "ext/orlan_files.h"

#include "engine/run_error.h"
#include "engine/strings.h"
#include "platform/launcher.h"
#include "platform/text.h"

namespace kv {

// --- processes

ProcessTable::ProcessTable(ProgramLauncher* launcher, DocumentOpener* documents)
    : launcher_(launcher), documents_(documents) {}

ProcessTable::~ProcessTable() = default;

std::optional<int32_t> ProcessTable::Execute(const std::string& target) {
  if (Trim(target).empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  std::erase_if(programs_, [](auto& entry) { return !entry.second->Running(); });
  if (launcher_) {
    LaunchCommand command = launcher_->Command(target);
    if (!command.program.empty() && launcher_->IsProgram(command.program)) {
      if (nextHandle_ == INT32_MAX) return std::nullopt;  // handles are never reused
      LaunchResult started = launcher_->Start(command);
      if (!started.program) return std::nullopt;
      if (started.program->Resume() != 0) {
        started.program->Close(0);
        return std::nullopt;
      }
      const int32_t handle = nextHandle_++;
      programs_.emplace(handle, std::move(started.program));
      last_ = handle;
      return handle;
    }
  }
  if (!documents_) throw KVRunException(sid::kExecutionFailed, target + " (no document opener in this run)");
  return documents_->Open(target) ? std::optional<int32_t>(0) : std::nullopt;
}

bool ProcessTable::Terminate(int32_t handle) {
  std::lock_guard lock(mutex_);
  auto it = programs_.find(handle);
  if (it == programs_.end()) return false;
  // Ended at once, as a process is terminated; the exit status is the signal's.
  it->second->Close(0);
  programs_.erase(it);
  if (last_ == handle) last_ = 0;
  return true;
}

int32_t ProcessTable::last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

size_t ProcessTable::size() const {
  std::lock_guard lock(mutex_);
  return programs_.size();
}

}  // namespace kv
