#include "platform/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

#include "platform/settings.h"

namespace kv {
namespace {

struct LogState {
  std::mutex lock;
  bool logChecked = false;
  bool logEnabled = false;
  std::string logPath;
  bool logHeaderWritten = false;
};

LogState& State() {
  static LogState state;
  return state;
}

std::atomic<bool> g_plugin{false};

std::string ProgramPath() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string HeaderTime() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&now, &tm);
  char date[128];
  std::strftime(date, sizeof date, "%A, %B %d, %Y at ", &tm);
  char hour[8];
  std::snprintf(hour, sizeof hour, "%d", tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12);  // "%#I": no leading zero
  char rest[32];
  std::strftime(rest, sizeof rest, ":%M:%S %p", &tm);
  return std::string(date) + hour + rest;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

void SetLogPluginMode(bool plugin) { g_plugin = plugin; }

void ResetLogForTesting() {
  LogState& s = State();
  std::lock_guard lock(s.lock);
  s.logChecked = false;
  s.logEnabled = false;
  s.logPath.clear();
  s.logHeaderWritten = false;
}

void Log(const char* format, ...) {
  LogState& s = State();
  std::lock_guard lock(s.lock);
  if (!s.logChecked) {
    s.logChecked = true;
    s.logEnabled = GetSetting("Logging", "Enabled", 0) != 0;
    if (s.logEnabled) s.logPath = GetSetting("Logging", "OutputFile", std::string("korvel.log"));
  }
  if (!s.logEnabled) return;

  int fd = ::open(s.logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // Other player processes append to the same file; the lock keeps lines whole.
  ::flock(fd, LOCK_EX);
  if (!s.logHeaderWritten) {
    s.logHeaderWritten = true;
    const char* mode = g_plugin ? "Enabled" : "Disabled";
    char header[6000];
    std::snprintf(header, sizeof header,
                  "--------------------------------------------------------------------------------\r\n"
                  "Korvel Logging File\r\n  Opened at %s\r\n  Base executable: \"%s\"\r\n  Plugin mode: %s\r\n"
                  "  Plugin services: %s\r\n",
                  HeaderTime().c_str(), ProgramPath().c_str(), mode, mode);
    WriteAll(fd, header);
  }
  char line[1025];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  WriteAll(fd, std::string(line) + "\r\n");
  ::flock(fd, LOCK_UN);
  ::close(fd);
}

}  // namespace kv
