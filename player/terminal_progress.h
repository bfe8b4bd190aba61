// The download progress of a run without a window, as one line on a
// terminal that is rewritten in place and ended when the download ends.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

#include "net/hooks.h"
#include "net/progress_model.h"

namespace kv {

class TerminalProgress : public ProgressSink {
 public:
  // `to` is written only while a download runs; the caller decides that it
  // is a terminal.
  explicit TerminalProgress(FILE* to) : to_(to) {}

  void StartProgress() override;
  void SetProgressTotal(uint32_t bytes) override;
  void SetProgressText(const std::string& text, uint32_t bytesSoFar) override;
  void EndProgress() override;

 private:
  void Draw();
  FILE* to_;
  std::mutex mutex_;  // the client reports from its own thread
  ProgressModel model_;
  std::string shown_;  // the line on the terminal now, to clear it
};

}  // namespace kv
