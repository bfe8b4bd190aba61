// A presenter for tests: records every rectangle it is handed (and every
// invalidation) and keeps its own copy of the presented pixels, like a
// window would. Safe to use from several threads.
#pragma once

#include <mutex>
#include <vector>

#include "stage/hooks.h"

namespace kv {

class RecordingPresenter : public Presenter {
 public:
  void Present(const PixelBuffer& frame, const Rect& rect) override;
  void PresentFrame(const PixelBuffer& frame) override;
  void Invalidate(const Rect& rect) override;

  std::vector<Rect> Presented() const;
  std::vector<Rect> Invalidated() const;
  int FrameCount() const;
  // The pixels as last presented ("the window").
  PixelBuffer Screen() const;
  void Reset();

 private:
  mutable std::mutex lock_;
  std::vector<Rect> presented_;
  std::vector<Rect> invalidated_;
  int frames_ = 0;
  PixelBuffer screen_;
};

}  // namespace kv
