#include "net/hooks.h"

#include <atomic>
#include <mutex>

namespace kv {
namespace {

std::atomic<const StopPredicate*> g_stop{nullptr};
std::atomic<ProgressSink*> g_progress{nullptr};

struct PosterSlot {
  std::mutex lock;
  std::shared_ptr<ReportPoster> poster;
};

PosterSlot& Poster() {
  static PosterSlot slot;
  return slot;
}

}  // namespace

void SetStopPredicate(const StopPredicate* predicate) { g_stop = predicate; }

bool StopRequested() {
  const StopPredicate* p = g_stop.load();
  return p != nullptr && p->StopRequested();
}

void SetProgressSink(ProgressSink* sink) { g_progress = sink; }
ProgressSink* CurrentProgressSink() { return g_progress.load(); }

void SetReportPoster(std::shared_ptr<ReportPoster> poster) {
  std::lock_guard lock(Poster().lock);
  Poster().poster = std::move(poster);
}

std::shared_ptr<ReportPoster> CurrentReportPoster() {
  std::lock_guard lock(Poster().lock);
  return Poster().poster;
}

}  // namespace kv
