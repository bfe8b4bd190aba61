#include "ext/script_objects.h"

#include <algorithm>

#include "engine/commands.h"
#include "engine/runner.h"
#include "engine/var.h"
#include "engine/variables.h"
#include "orlan/engine.h"

namespace kv {

uint32_t HostObjectTable::Add(const std::shared_ptr<HostObject>& object) {
  std::lock_guard lock(lock_);
  object->handle_ = engine_.NewObjectHandle();
  live_.push_back(object);
  return object->handle_;
}

std::shared_ptr<HostObject> HostObjectTable::Find(uint32_t handle, HostClassId cls) const {
  if (handle == 0) return nullptr;
  std::lock_guard lock(lock_);
  for (const auto& o : live_)
    if (o->handle_ == handle) return o->cls_ == cls && !o->deleted() ? o : nullptr;
  return nullptr;
}

size_t HostObjectTable::CountOf(HostClassId cls) const {
  std::lock_guard lock(lock_);
  return static_cast<size_t>(std::count_if(live_.begin(), live_.end(), [cls](const auto& o) { return o->cls_ == cls; }));
}

void HostObjectTable::Release(uint32_t handle) {
  std::shared_ptr<HostObject> gone;
  {
    std::lock_guard lock(lock_);
    auto it = std::find_if(live_.begin(), live_.end(), [handle](const auto& o) { return o->handle_ == handle; });
    if (it == live_.end()) return;
    gone = std::move(*it);
    live_.erase(it);
  }
  gone->deleted_ = true;
  gone->Shutdown();
}

void HostObjectTable::ShutdownAll() {
  std::vector<std::shared_ptr<HostObject>> all;
  {
    std::lock_guard lock(lock_);
    all.swap(live_);
  }
  for (auto& o : all) {
    o->deleted_ = true;
    o->Shutdown();
  }
}

bool PostProjectSubCall(Runner& runner, const std::string& name, std::vector<SubArgument> args) {
  if (name.empty() || runner.shuttingDown) return false;
  auto r = std::make_unique<Request>();
  r->code = command::kCallOrlanProjectSub;
  r->argument = name;
  r->subArgs = std::move(args);
  return runner.PostRequest(runner.MainThread(), std::move(r), false);
}

void ProjectSubPoster::PostReport(const std::string& callback, const std::string& text, int32_t number) {
  std::lock_guard lock(lock_);
  if (runner_) PostProjectSubCall(*runner_, callback, {SubArgument{true, text, 0}, SubArgument{false, {}, number}});
}

double ProjectSubPoster::ReadNumber(const CVarsItem& item) {
  std::lock_guard lock(lock_);
  if (!runner_ || item.type == var_type::kString) return 0;
  return runner_->variables().ToDouble(item);
}

void ProjectSubPoster::Detach() {
  std::lock_guard lock(lock_);
  runner_ = nullptr;
}

}  // namespace kv
