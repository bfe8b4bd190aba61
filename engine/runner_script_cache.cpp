// The scripts a run has loaded: found by name, counted while in use, and
// released when the last user leaves.
#include "engine/runner.h"

#include <algorithm>

#include "persist/document.h"
#include "platform/text.h"

namespace kv {

// --- scripts

DocPtr Runner::FindLoadedScript(const std::string& path) {
  std::lock_guard lock(loadedLock_);
  for (auto& doc : loaded_)
    if (EqualsNoCase(doc->pathName, path)) return doc;
  return nullptr;
}

DocPtr Runner::LoadScript(const std::string& path, uint16_t code, bool& alreadyInUse, bool& failed) {
  alreadyInUse = false;
  failed = false;
  std::lock_guard release(releaseLock_);
  if (DocPtr doc = FindLoadedScript(path)) {
    if (doc->useCount > 0 && code != 60 && code != 63) {
      alreadyInUse = true;
      return doc;
    }
    ++doc->useCount;
    return doc;
  }
  if (project_ && EqualsNoCase(path, project_->pathName)) return project_;
  DocPtr doc = services_.loadScript ? services_.loadScript(path) : nullptr;
  if (!doc) {
    failed = true;
    return nullptr;
  }
  doc->useCount = 1;
  {
    std::lock_guard lock(loadedLock_);
    loaded_.push_back(doc);
  }
  // Names are looked up afresh under the scripts now loaded.
  variables_.Invalidate();
  return doc;
}

void Runner::ReleaseScript(const DocPtr& script) {
  if (!script || script == project_) return;
  std::lock_guard release(releaseLock_);
  if (script->useCount > 1) {
    --script->useCount;
    return;
  }
  if (script->isBackground) {
    script->useCount = 0;
    return;
  }
  {
    std::lock_guard lock(loadedLock_);
    loaded_.erase(std::remove(loaded_.begin(), loaded_.end(), script), loaded_.end());
  }
  variables_.Invalidate();
}

}  // namespace kv
