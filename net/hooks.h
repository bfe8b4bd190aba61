// What the socket layer and the HTTP client need from the rest of the player,
// as small interfaces: the run's stop test, the download progress window and
// the poster of upload reports, held per run in a NetHooks. The player and
// the shell set the real ones; tests set doubles.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace kv {

// True once the player is shutting down (or a test wants waits to end).
class StopPredicate {
 public:
  virtual ~StopPredicate() = default;
  virtual bool StopRequested() const = 0;
};

// The download progress window. SetProgressText gets a format that still holds
// one "%s" place, which the window fills itself.
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void StartProgress() = 0;
  virtual void SetProgressTotal(uint32_t bytes) = 0;
  virtual void SetProgressText(const std::string& text, uint32_t bytesSoFar) = 0;
  virtual void EndProgress() = 0;
};

// Hands an upload report to the project's main script thread as a call of the
// named script subroutine with a text and a 32-bit number.
class ReportPoster {
 public:
  virtual ~ReportPoster() = default;
  virtual void PostReport(const std::string& callback, const std::string& text, int32_t number) = 0;
};

// One run's network hooks: its stop test, its download progress window, the
// poster of its upload reports and its upload settings. The player owns one
// per run (shared with upload threads that may outlive it) and passes it to
// every transfer; tools and tests make their own. Unset hooks do nothing.
class NetHooks {
 public:
  // Borrowed; cleared by End before the predicate goes.
  void SetStopPredicate(const StopPredicate* predicate);
  // The run's stop: every wait of this run's transfers ends within a slice.
  bool StopRequested() const;
  // The run is over: waits still running end at once and nothing more is
  // reported, although upload threads may hold the hooks a little longer.
  void End();

  void SetProgressSink(ProgressSink* sink);
  ProgressSink* Progress() const;

  void SetReportPoster(std::shared_ptr<ReportPoster> poster);
  std::shared_ptr<ReportPoster> Poster() const;

  // Time-out in seconds of each connect, send and receive wait of HttpGet.
  void SetTimeout(int seconds) { timeout_ = seconds; }
  int Timeout() const { return timeout_.load(); }

  // The upload gate: -1 idle, 0 one upload running, above 0 counting calls
  // refused meanwhile.
  std::atomic<int32_t> uploadCounter{-1};

 private:
  mutable std::mutex lock_;
  const StopPredicate* stop_ = nullptr;
  bool ended_ = false;
  ProgressSink* progress_ = nullptr;
  std::shared_ptr<ReportPoster> poster_;
  std::atomic<int> timeout_{kDefaultNetTimeout};

 public:
  static constexpr int kDefaultNetTimeout = 15;
};

}  // namespace kv
