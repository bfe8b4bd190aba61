#include "tests/stage/test_presenter.h"

namespace kv {

void RecordingPresenter::Present(const PixelBuffer& frame, const Rect& rect) {
  std::lock_guard lock(lock_);
  presented_.push_back(rect);
  if (screen_.IsNull() || screen_.Width() != frame.Width() || screen_.Height() != frame.Height())
    screen_ = PixelBuffer(frame.Width(), frame.Height(), frame.Format());
  CopyRect(screen_, frame, rect);
}

void RecordingPresenter::PresentFrame(const PixelBuffer& frame) {
  Present(frame, frame.Bounds());
  std::lock_guard lock(lock_);
  ++frames_;
}

void RecordingPresenter::Invalidate(const Rect& rect) {
  std::lock_guard lock(lock_);
  invalidated_.push_back(rect);
}

std::vector<Rect> RecordingPresenter::Presented() const {
  std::lock_guard lock(lock_);
  return presented_;
}

std::vector<Rect> RecordingPresenter::Invalidated() const {
  std::lock_guard lock(lock_);
  return invalidated_;
}

int RecordingPresenter::FrameCount() const {
  std::lock_guard lock(lock_);
  return frames_;
}

PixelBuffer RecordingPresenter::Screen() const {
  std::lock_guard lock(lock_);
  return screen_.Clone();
}

void RecordingPresenter::Reset() {
  std::lock_guard lock(lock_);
  presented_.clear();
  invalidated_.clear();
  frames_ = 0;
}

}  // namespace kv
