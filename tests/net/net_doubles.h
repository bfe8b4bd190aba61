// Test doubles for the HTTP client's hooks: a recording progress window, a
// switchable stop test, a report recorder that can be waited on, and a
// progress callback that records every code.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <unistd.h>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "net/hooks.h"
#include "platform/log.h"
#include "platform/settings.h"

namespace kv::test {

class RecordingSink : public ProgressSink {
 public:
  void StartProgress() override { events.push_back("start"); }
  void SetProgressTotal(uint32_t bytes) override { events.push_back("total " + std::to_string(bytes)); }
  void SetProgressText(const std::string& text, uint32_t done) override {
    events.push_back("text " + text + " @" + std::to_string(done));
  }
  void EndProgress() override { events.push_back("end"); }
  std::vector<std::string> events;
};

class SwitchStop : public StopPredicate {
 public:
  bool StopRequested() const override { return stop.load(); }
  std::atomic<bool> stop{false};
};

struct Report {
  std::string callback;
  std::string text;
  int32_t number;
  bool operator==(const Report&) const = default;
};

class RecordingPoster : public ReportPoster {
 public:
  void PostReport(const std::string& callback, const std::string& text, int32_t number) override {
    std::lock_guard lock(mutex_);
    reports_.push_back({callback, text, number});
    changed_.notify_all();
  }
  // Waits (bounded) until `count` reports have arrived; returns them all.
  std::vector<Report> WaitFor(size_t count, int ms = 5000) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return reports_.size() >= count; });
    return reports_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Report> reports_;
};

// The hooks of the tests' transfers, as a run's would be.
inline const std::shared_ptr<NetHooks>& Net() {
  static const auto hooks = std::make_shared<NetHooks>();
  return hooks;
}

// Set a hook of Net() for one test and clear it again.
struct StopScope {
  explicit StopScope(const StopPredicate* p) { Net()->SetStopPredicate(p); }
  ~StopScope() { Net()->SetStopPredicate(nullptr); }
};
struct SinkScope {
  explicit SinkScope(ProgressSink* s) { Net()->SetProgressSink(s); }
  ~SinkScope() { Net()->SetProgressSink(nullptr); }
};
struct PosterScope {
  explicit PosterScope(std::shared_ptr<ReportPoster> p) { Net()->SetReportPoster(std::move(p)); }
  ~PosterScope() { Net()->SetReportPoster(nullptr); }
};

struct CodeRecorder {
  std::vector<std::pair<int, uint32_t>> codes;
  int answer = 0;  // what the callback answers (disk-full retries)
  static int Callback(int code, void* data, uint32_t value) {
    auto* self = static_cast<CodeRecorder*>(data);
    self->codes.emplace_back(code, value);
    return code == 11 ? self->answer-- : 0;
  }
};

// Turns the log on into a file of its own for one test.
class LogCapture {
 public:
  LogCapture() : path_(std::filesystem::temp_directory_path() / ("kvnetlog" + std::to_string(::getpid()) + ".log")) {
    std::filesystem::remove(path_);
    store_.SetInt("Logging", "Enabled", 1);
    store_.SetString("Logging", "OutputFile", path_.string());
    SettingsStore::SetProcess(&store_);
    ResetLogForTesting();
  }
  ~LogCapture() {
    SettingsStore::SetProcess(nullptr);
    ResetLogForTesting();
    std::filesystem::remove(path_);
  }
  std::string Text() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  std::filesystem::path path_;
  SettingsStore store_{""};
};

}  // namespace kv::test
