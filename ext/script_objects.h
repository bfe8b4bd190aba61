// The objects scripts make from the library's classes (`New kboXMLReader`
// ...): one table per run links each live object to the handle its script
// reference carries, and the callbacks the objects and uploads make reach a
// subroutine of the project's Orlan module through request 33.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/request.h"
#include "net/hooks.h"

namespace kv {

class CVarsItem;
class Runner;

namespace orlan {
class Engine;
}

enum class HostClassId : uint8_t { kXmlReader, kFileBrowser, kTwain };

class HostObject {
 public:
  explicit HostObject(HostClassId cls) : cls_(cls) {}
  virtual ~HostObject() = default;
  HostObject(const HostObject&) = delete;
  HostObject& operator=(const HostObject&) = delete;

  HostClassId cls() const { return cls_; }
  uint32_t handle() const { return handle_; }
  // Set once the object is unlinked: members called meanwhile find nothing.
  bool deleted() const { return deleted_.load(); }
  // Ends what the object still runs (a worker thread) and waits for it.
  virtual void Shutdown() {}

 private:
  friend class HostObjectTable;
  const HostClassId cls_;
  uint32_t handle_ = 0;
  std::atomic<bool> deleted_{false};
};

class HostObjectTable {
 public:
  explicit HostObjectTable(orlan::Engine& engine) : engine_(engine) {}
  ~HostObjectTable() { ShutdownAll(); }

  // Links `object` under a new handle, unique across classes (the engine
  // gives every live host object its own), and answers it.
  uint32_t Add(const std::shared_ptr<HostObject>& object);
  // The live object of that class with that handle; null for a handle that
  // was dropped, never given, or names an object of another class.
  std::shared_ptr<HostObject> Find(uint32_t handle, HostClassId cls) const;
  template <class T>
  std::shared_ptr<T> Get(uint32_t handle, HostClassId cls) const {
    return std::static_pointer_cast<T>(Find(handle, cls));
  }
  size_t CountOf(HostClassId cls) const;
  // The last script reference died: the object is unlinked and shut down.
  void Release(uint32_t handle);
  // The run ends: every object is unlinked and shut down.
  void ShutdownAll();

 private:
  orlan::Engine& engine_;
  mutable std::mutex lock_;
  std::vector<std::shared_ptr<HostObject>> live_;  // in the order they were made
};

// Posts request 33 to the run's main script thread: a call of the project's
// Orlan subroutine `name` with `args`. False when there is no name or the
// thread cannot take it.
bool PostProjectSubCall(Runner& runner, const std::string& name, std::vector<SubArgument> args);

// The run's poster of upload reports: each report calls the project's
// subroutine with (text, number). Upload threads may outlive the run: once
// detached it neither posts nor reads variables.
class ProjectSubPoster final : public ReportPoster {
 public:
  explicit ProjectSubPoster(Runner& runner) : runner_(&runner) {}
  void PostReport(const std::string& callback, const std::string& text, int32_t number) override;
  // The numeric value of a script variable while the run lasts; 0 after.
  double ReadNumber(const CVarsItem& item);
  void Detach();

 private:
  std::mutex lock_;
  Runner* runner_;
};

}  // namespace kv
