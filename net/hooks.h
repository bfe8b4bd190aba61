// What the socket layer and the HTTP client need from the rest of the player,
// as small interfaces: the engine's shutdown test, the download progress
// window and the poster of upload reports. The shell and the engine install
// the real ones; tests install doubles. Unset hooks do nothing.
#pragma once

#include <cstdint>
#include <memory>
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

// Process-wide hooks; the caller keeps the object alive while installed.
void SetStopPredicate(const StopPredicate* predicate);
bool StopRequested();

void SetProgressSink(ProgressSink* sink);
ProgressSink* CurrentProgressSink();

void SetReportPoster(std::shared_ptr<ReportPoster> poster);
std::shared_ptr<ReportPoster> CurrentReportPoster();

}  // namespace kv
