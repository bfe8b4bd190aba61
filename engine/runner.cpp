// The run's owner side of the runner: construction, start and shutdown,
// and finding objects by name.
#include "engine/runner.h"

#include <utility>

#include <ctime>

#include "engine/insert.h"
#include "persist/document.h"
#include "persist/project_session.h"
#include "platform/text.h"

namespace kv {

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

void Runner::RequestNewProject(const std::string& hostFile) {
  std::lock_guard lock(newProjectLock_);
  newProject_ = hostFile;
}

std::string Runner::TakeNewProject() {
  std::lock_guard lock(newProjectLock_);
  return std::exchange(newProject_, {});
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

}  // namespace kv
