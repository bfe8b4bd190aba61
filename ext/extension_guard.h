// Faults inside an extension's code (a bad pointer, a division by zero) end
// the call instead of the player: while the guard runs code of the
// extension, the synchronous fault signals of the calling thread jump back
// to it. Player code that the extension calls back into runs unguarded.
#pragma once

#include <string>

namespace kv {

// Runs `fn(data)`; false with `fault` naming the signal when the code faulted.
bool CallCatchingFaults(void (*fn)(void*), void* data, std::string& fault);

// The same for a callable.
template <class F>
bool CallCatchingFaults(F&& f, std::string& fault) {
  return CallCatchingFaults([](void* p) { (*static_cast<F*>(p))(); }, &f, fault);
}

// While it lives, faults on this thread are not the extension's: a callback
// holds one so that a fault of the player is never taken for the caller's.
class FaultGuardPause {
 public:
  FaultGuardPause();
  ~FaultGuardPause();
  FaultGuardPause(const FaultGuardPause&) = delete;
  FaultGuardPause& operator=(const FaultGuardPause&) = delete;

 private:
  void* saved_;
};

}  // namespace kv
