#include "net/hooks.h"

namespace kv {

void NetHooks::SetStopPredicate(const StopPredicate* predicate) {
  std::lock_guard guard(lock_);
  stop_ = predicate;
}

bool NetHooks::StopRequested() const {
  // Asked under the lock, so End never returns while a predicate is in use.
  std::lock_guard guard(lock_);
  return ended_ || (stop_ != nullptr && stop_->StopRequested());
}

void NetHooks::End() {
  std::lock_guard guard(lock_);
  ended_ = true;
  stop_ = nullptr;
  progress_ = nullptr;
  poster_.reset();
}

void NetHooks::SetProgressSink(ProgressSink* sink) {
  std::lock_guard guard(lock_);
  progress_ = sink;
}

ProgressSink* NetHooks::Progress() const {
  std::lock_guard guard(lock_);
  return progress_;
}

void NetHooks::SetReportPoster(std::shared_ptr<ReportPoster> poster) {
  std::lock_guard guard(lock_);
  poster_ = std::move(poster);
}

std::shared_ptr<ReportPoster> NetHooks::Poster() const {
  std::lock_guard guard(lock_);
  return poster_;
}

}  // namespace kv
