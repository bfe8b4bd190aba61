// The page-flip thread of exclusive full-screen presentation (stageMode 2):
// while it runs the compositor only collects changed rectangles, and the
// thread presents them, a whole frame at a time, at most once per
// rwPageFlipDelay milliseconds and only when something changed. While a
// message box shows over the stage, at most one more whole frame goes out
// (bringing the flip parity back to 0), then changed rectangles are copied
// one by one, so the box and the stage share what is displayed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace kv {

class Compositor;

class PageFlipThread {
 public:
  enum class State { kStopped, kRunning, kStopping };
  // Delays outside this range are taken at its nearest end: 0 would spin,
  // and a script's huge value must not freeze the screen.
  static constexpr int64_t kMinDelayMs = 1;
  static constexpr int64_t kMaxDelayMs = 1000;

  // `delayMs` is read anew on every pass. `wholeFrames` is false when the
  // window cannot take whole frames (rectangles are copied then).
  PageFlipThread(Compositor& compositor, std::function<int64_t()> delayMs, bool wholeFrames = true);
  ~PageFlipThread();
  PageFlipThread(const PageFlipThread&) = delete;
  PageFlipThread& operator=(const PageFlipThread&) = delete;

  // Starts the thread and switches the compositor to collecting; false when
  // it already runs (only one such thread runs).
  bool Start();
  // Ends the thread after its current pass and presents directly again.
  void Stop();
  State state() const { return state_.load(); }

  // Set by the message box while it shows over the stage.
  void SetMessageShowing(bool on) { messageShowing_ = on; }
  bool MessageShowing() const { return messageShowing_.load(); }
  // The window lost what it showed (re-exposed): the next pass recomposes
  // and presents the whole stage.
  void SurfaceLost();

  // One presentation step; nothing when nothing changed. The thread calls
  // it; tests call it directly.
  void FlipOnce();

  int FlipParity() const { return parity_.load(); }
  uint64_t WholeFrames() const { return wholeFramesSent_.load(); }
  uint64_t RectangleFlushes() const { return rectangleFlushes_.load(); }

 private:
  void Loop();

  Compositor& compositor_;
  std::function<int64_t()> delayMs_;
  bool wholeFrames_;
  std::atomic<State> state_{State::kStopped};
  std::atomic<bool> messageShowing_{false};
  std::atomic<bool> lost_{false};
  std::atomic<int> parity_{0};
  std::atomic<uint64_t> wholeFramesSent_{0};
  std::atomic<uint64_t> rectangleFlushes_{0};
  std::mutex wakeLock_;
  std::condition_variable wake_;
  std::thread thread_;
};

}  // namespace kv
