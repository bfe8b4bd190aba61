// The table of host objects scripts hold: one box per live handle, shared
// by every copy of a reference. Used by the engine only.
#pragma once

#include <mutex>
#include <unordered_map>

#include "orlan/engine.h"

namespace kv::orlan {

// One box per live handle. A box whose count reached 0 may still be listed
// until its release takes the table's lock, so a lookup takes a reference
// only while the count is above 0, and otherwise makes a new box.
class ObjectTable final : public ObjectRegistry {
 public:
  explicit ObjectTable(Engine& engine) : engine_(engine) {}
  ~ObjectTable() {
    // Boxes a host still holds outlive the engine: they stop reporting here.
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [handle, box] : live_) box->owner = nullptr;
  }

  bool BoxFor(uint32_t handle, int library, int hostClass, Value& out) {
    out.Clear();  // what it held may be a box of this table, whose release takes the lock
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = live_.find(handle);
    if (it != live_.end()) {
      ObjectObj* box = it->second;
      bool known = box->hostClass >= 0 && hostClass >= 0;
      if (known && (box->library != library || box->hostClass != hostClass)) return false;
      if (TryRetain(*box)) {
        if (box->hostClass < 0) box->library = library, box->hostClass = hostClass;
        out.SetHeap(Tag::Object, box);
        return true;
      }
    }
    auto box = std::make_unique<ObjectObj>();
    box->handle.store(handle);
    box->library = library;
    box->hostClass = hostClass;
    box->owner = this;
    live_[handle] = box.get();
    out.SetHeap(Tag::Object, box.release());
    return true;
  }

  void Released(ObjectObj& box) override {
    uint32_t handle = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      handle = box.handle.load();
      auto it = live_.find(handle);
      if (handle == 0 || it == live_.end() || it->second != &box) return;
      live_.erase(it);
    }
    if (engine_.objectReleased) engine_.objectReleased(box.library, box.hostClass, handle);
  }

  void Clear(uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = live_.find(handle);
    if (it == live_.end()) return;
    it->second->handle.store(0);  // every copy of the reference shares the box
    live_.erase(it);
  }

  bool Contains(uint32_t handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.count(handle) != 0;
  }

  uint32_t NewHandle() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (;;) {
      uint32_t h = next_++;
      if (h != 0 && live_.count(h) == 0) return h;
    }
  }

 private:
  static bool TryRetain(ObjectObj& box) {
    int32_t n = box.refs.load(std::memory_order_relaxed);
    while (n > 0)
      if (box.refs.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel)) return true;
    return false;
  }

  Engine& engine_;
  mutable std::mutex mutex_;
  std::unordered_map<uint32_t, ObjectObj*> live_;
  uint32_t next_ = 1;
};

}  // namespace kv::orlan
