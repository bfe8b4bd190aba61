// One current MCI player per device kind (wave, sequencer, CD): a player that
// starts takes its kind's slot, stopping the current holder first. Used by the
// sound inserts' MCI players, which live on their inserts' threads.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace kv {

class DeviceSlots {
 public:
  struct Holder {
    uint64_t player = 0;
    std::thread::id thread;
    std::function<void()> requestStop;  // asks the holder's thread (posts its stop message)
    std::function<void()> stopNow;      // stops the holder's device from the calling thread
  };

  // Takes `kind`'s slot. A holder on another thread is asked to stop and
  // waited for, `sleep(10)` at a time, at most `boundMs`; a holder on the
  // calling thread is stopped directly, as it could never answer a request
  // while this thread waits. Answers false when the wait ran out; the slot
  // is taken all the same.
  bool Take(int kind, Holder holder, const std::function<void(int)>& sleep, int boundMs = 2000);
  void Release(int kind, uint64_t player);
  std::optional<uint64_t> Current(int kind) const;

 private:
  mutable std::mutex mutex_;
  std::map<int, Holder> slots_;
};

}  // namespace kv
