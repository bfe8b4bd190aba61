#include "media/mci_slots.h"

namespace kv {

bool DeviceSlots::Take(int kind, Holder holder, const std::function<void(int)>& sleep, int boundMs) {
  constexpr int kSliceMs = 10;
  std::unique_lock lock(mutex_);
  auto it = slots_.find(kind);
  bool released = true;
  if (it != slots_.end() && it->second.player != holder.player) {
    Holder current = it->second;
    lock.unlock();
    if (current.thread == std::this_thread::get_id()) {
      if (current.stopNow) current.stopNow();
    } else {
      if (current.requestStop) current.requestStop();
      released = false;
      for (int waited = 0; waited < boundMs; waited += kSliceMs) {
        {
          std::lock_guard check(mutex_);
          auto now = slots_.find(kind);
          if (now == slots_.end() || now->second.player != current.player) {
            released = true;
            break;
          }
        }
        sleep(kSliceMs);
      }
    }
    lock.lock();
  }
  slots_[kind] = std::move(holder);
  return released;
}

void DeviceSlots::Release(int kind, uint64_t player) {
  std::lock_guard lock(mutex_);
  auto it = slots_.find(kind);
  if (it != slots_.end() && it->second.player == player) slots_.erase(it);
}

std::optional<uint64_t> DeviceSlots::Current(int kind) const {
  std::lock_guard lock(mutex_);
  auto it = slots_.find(kind);
  if (it == slots_.end()) return std::nullopt;
  return it->second.player;
}

}  // namespace kv
