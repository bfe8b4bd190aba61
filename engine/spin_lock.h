// A lock for sections of a few instructions (a variable's value), cheaper
// than a mutex when nobody else holds it; a waiter yields its time slice.
#pragma once

#include <atomic>
#include <thread>

namespace kv {

class SpinLock {
 public:
  void lock() {
    for (int spins = 0; locked_.exchange(true, std::memory_order_acquire); ++spins)
      if (spins > 64) std::this_thread::yield();
  }
  void unlock() { locked_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> locked_{false};
};

}  // namespace kv
