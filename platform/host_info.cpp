#include "platform/host_info.h"

namespace kv {
namespace {
bool IsKeyCode(int virtualKey) { return virtualKey > 0 && virtualKey < 256; }
}  // namespace

void TrackedKeyState::SetDown(int virtualKey, bool down) {
  if (IsKeyCode(virtualKey)) down_[static_cast<size_t>(virtualKey)].store(down, std::memory_order_relaxed);
}

void TrackedKeyState::ReleaseAll() {
  for (auto& key : down_) key.store(false, std::memory_order_relaxed);
}

bool TrackedKeyState::IsDown(int virtualKey) const {
  return IsKeyCode(virtualKey) && down_[static_cast<size_t>(virtualKey)].load(std::memory_order_relaxed);
}

}  // namespace kv
