#include "stage/page_flip.h"

#include <algorithm>
#include <chrono>

#include "stage/compositor.h"

namespace kv {

PageFlipThread::PageFlipThread(Compositor& compositor, std::function<int64_t()> delayMs, bool wholeFrames)
    : compositor_(compositor), delayMs_(std::move(delayMs)), wholeFrames_(wholeFrames) {}

PageFlipThread::~PageFlipThread() { Stop(); }

bool PageFlipThread::Start() {
  State expected = State::kStopped;
  if (!state_.compare_exchange_strong(expected, State::kRunning)) return false;
  if (thread_.joinable()) thread_.join();
  compositor_.SetPageFlipCollecting(true);
  thread_ = std::thread([this] { Loop(); });
  return true;
}

void PageFlipThread::Stop() {
  State expected = State::kRunning;
  if (state_.compare_exchange_strong(expected, State::kStopping)) {
    std::lock_guard lock(wakeLock_);
    wake_.notify_all();
  }
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  if (state_.load() == State::kStopping) {
    // What was collected but not yet shown goes out before direct
    // presentation resumes.
    compositor_.SetPageFlipCollecting(false);
    compositor_.FlipFlush(false);
    state_ = State::kStopped;
  }
}

void PageFlipThread::SurfaceLost() { lost_ = true; }

void PageFlipThread::FlipOnce() {
  if (lost_.exchange(false)) {
    // The whole stage is composed again; in collecting mode the update
    // only marks it for this pass.
    std::lock_guard lock(compositor_.Lock());
    compositor_.Update({0, 0, compositor_.Width(), compositor_.Height()});
  }
  if (compositor_.DirtyRects().empty()) return;
  if (wholeFrames_ && (!messageShowing_ || parity_ == 1)) {
    compositor_.FlipFlush(true);
    parity_ ^= 1;
    ++wholeFramesSent_;
  } else {
    compositor_.FlipFlush(false);
    ++rectangleFlushes_;
  }
}

void PageFlipThread::Loop() {
  while (state_.load() == State::kRunning) {
    FlipOnce();
    const int64_t delay = std::clamp(delayMs_ ? delayMs_() : int64_t{30}, kMinDelayMs, kMaxDelayMs);
    std::unique_lock lock(wakeLock_);
    wake_.wait_for(lock, std::chrono::milliseconds(delay), [this] { return state_.load() != State::kRunning; });
  }
}

}  // namespace kv
