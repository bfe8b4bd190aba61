#include "platform/launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "platform/message_box.h"
#include "platform/text.h"

namespace kv {
namespace {

bool IsArgumentBlank(char c) { return c == ' ' || c == '\t'; }

// The program name as the startup code reads argv[0]: quotes group, no escapes.
std::string ProgramWord(std::string_view line, size_t& at) {
  std::string word;
  bool quoted = false;
  for (; at < line.size() && (quoted || !IsArgumentBlank(line[at])); ++at) {
    if (line[at] == '"')
      quoted = !quoted;
    else
      word += line[at];
  }
  return word;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Closes every descriptor from 3 up except the two the child still needs
// (both above 2).
void CloseAllBut(int keepA, int keepB, unsigned fallbackLimit) {
  unsigned lo = static_cast<unsigned>(std::min(keepA, keepB));
  unsigned hi = static_cast<unsigned>(std::max(keepA, keepB));
  auto closeRange = [](unsigned first, unsigned last) { return first > last || ::close_range(first, last, 0) == 0; };
  if (closeRange(3, lo - 1) && closeRange(lo + 1, hi - 1) && closeRange(hi + 1, ~0U)) return;
  // Kernels before 5.9 have no close_range.
  for (unsigned fd = 3; fd < fallbackLimit; ++fd)
    if (fd != lo && fd != hi) ::close(static_cast<int>(fd));
}

// Moves a new descriptor above the standard three, so that setting up the
// child's standard input cannot overwrite it (the parent may run with some
// of them closed).
bool AboveStdio(int& fd) {
  if (fd > 2) return true;
  int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  ::close(fd);
  fd = moved;
  return fd > 2;
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void RunChild(const char* path, char* const* argv, const char* workDir, int goFd, int errorFd,
                           int nullFd, unsigned fallbackLimit) {
  ::setpgid(0, 0);
  // The program starts in the run's folder; the player's own never moves.
  if (*workDir && ::chdir(workDir) != 0) {
    // It still starts, in the player's directory, as after a failed change.
  }
  struct sigaction defaults {};
  defaults.sa_handler = SIG_DFL;
  for (int s = 1; s < NSIG; ++s) ::sigaction(s, &defaults, nullptr);
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::dup2(nullFd, 0);
  CloseAllBut(goFd, errorFd, fallbackLimit);
  char go = 0;
  ssize_t n;
  do n = ::read(goFd, &go, 1);
  while (n < 0 && errno == EINTR);
  // The parent closed without resuming: end without ever running the program.
  if (n != 1) ::_exit(127);
  ::execv(path, argv);
  int code = errno;
  ssize_t written = ::write(errorFd, &code, sizeof code);
  (void)written;  // nothing more a child can do about a failed report
  ::_exit(127);
}

class PosixProgram : public LaunchedProgram {
 public:
  PosixProgram(pid_t pid, int goFd, int errorFd) : pid_(pid), go_(goFd), error_(errorFd) {
#ifdef SYS_pidfd_open
    pidfd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#endif
  }

  ~PosixProgram() override {
    if (!reaped_) {
      if (!resumed_) {
        // It has not run and never will; the kill only makes the end certain.
        CloseFd(go_);
        ::kill(-pid_, SIGKILL);
        Reap();
      } else if (!Running()) {
        Reap();
      } else {
        // Left to run, as a launched program may be; reaped when it ends.
        std::thread([pid = pid_] {
          while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
          }
        }).detach();
      }
    }
    CloseFd(go_);
    CloseFd(error_);
    CloseFd(pidfd_);
  }

  int Resume() override {
    if (resumed_) return 0;
    resumed_ = true;
    char go = 1;
    // No SIGPIPE when the child is already gone.
    ssize_t sent = ::send(go_, &go, 1, MSG_NOSIGNAL);
    (void)sent;  // a child that died before exec shows as not running
    CloseFd(go_);
    int code = 0;
    ssize_t n;
    do n = ::read(error_, &code, sizeof code);
    while (n < 0 && errno == EINTR);
    CloseFd(error_);
    return n == static_cast<ssize_t>(sizeof code) ? code : 0;
  }

  bool Running() override {
    if (ended_) return false;
    siginfo_t info{};
    // WNOWAIT keeps the zombie, so the process group id stays ours to signal.
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid_)
      ended_ = true;
    return !ended_;
  }

  bool Wait(int ms) override {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    while (Running()) {
      int left = -1;
      if (ms >= 0) {
        auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (rest <= 0) return false;
        left = static_cast<int>(rest);
      }
      if (pidfd_ >= 0) {
        pollfd p{pidfd_, POLLIN, 0};
        ::poll(&p, 1, left);
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(left < 0 ? 5 : std::min(left, 5)));
      }
    }
    return true;
  }

  void Close(int waitMs) override {
    if (reaped_) return;
    if (!resumed_) CloseFd(go_);
    if (Running()) {
      ::kill(-pid_, SIGTERM);
      if (!Wait(waitMs)) ::kill(-pid_, SIGKILL);
    }
    Reap();
  }

  void AskToEnd() override {
    if (!reaped_ && resumed_ && Running()) ::kill(-pid_, SIGTERM);
  }

  int Pid() const override { return pid_; }

 private:
  void Reap() {
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    ended_ = true;
  }

  pid_t pid_;
  int go_;
  int error_;
  int pidfd_ = -1;
  bool resumed_ = false;
  bool ended_ = false;
  bool reaped_ = false;
};

class RecordedProgram : public LaunchedProgram {
 public:
  explicit RecordedProgram(std::shared_ptr<RecordingLauncher::Started> started) : started_(std::move(started)) {}
  int Resume() override {
    started_->resumed = true;
    return 0;
  }
  bool Running() override { return !started_->ended; }
  bool Wait(int) override { return started_->ended; }
  void Close(int waitMs) override {
    if (started_->closeWaitMs < 0) started_->closeWaitMs = std::max(waitMs, 0);
    started_->ended = true;
  }
  void AskToEnd() override {}
  int Pid() const override { return 0; }

 private:
  std::shared_ptr<RecordingLauncher::Started> started_;
};

}  // namespace

bool CloseApplication(LaunchedProgram* program, bool askUser, const std::string& text, MessageBoxService& boxes,
                      const CloseTimes& times) {
  if (!program || !program->Running()) return true;
  program->AskToEnd();
  if (program->Wait(times.politeMs)) return true;
  if (!askUser) {
    program->Close(0);
    return !program->Running();
  }
  static const std::vector<std::string> kChoices = {"&Terminate now, and risk possible data loss",
                                                     "&Ignore and continue with normal processing",
                                                     "&Wait for 5 seconds and try to terminate again"};
  for (;;) {
    switch (boxes.Choose(text, "Terminate Application", kChoices)) {
      case 0:
        program->Close(0);
        return !program->Running();
      case 2:
        if (program->Wait(times.waitMs)) return true;
        program->AskToEnd();
        if (program->Wait(times.againMs)) return true;
        break;
      default:
        return false;
    }
  }
}

namespace {

bool IsExecutableFile(const std::string& path, int& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = errno;
    return false;
  }
  if (!S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0) {
    error = EACCES;
    return false;
  }
  return true;
}

}  // namespace

// "http:", "mailto:" and the like; a drive letter is a single letter.
bool IsAddress(std::string_view target) {
  size_t colon = target.find(':');
  if (colon == std::string_view::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    char c = target[i];
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && (i == 0 || !((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'))) return false;
  }
  return true;
}

// The host path a "file:" address names: "file:/p", "file:///p" or
// "file://localhost/p", its %XX escapes decoded. Nothing for another host or
// a broken escape.
std::optional<std::string> LocalPathOfFileAddress(std::string_view address) {
  std::string_view rest = address.substr(address.find(':') + 1);
  if (rest.starts_with("//")) {
    rest.remove_prefix(2);
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !EqualsNoCase(host, "localhost")) return std::nullopt;
    rest.remove_prefix(slash);
  }
  if (!rest.starts_with('/')) return std::nullopt;
  // The query or fragment is no part of the file's name; an escaped "?" or
  // "#" is, so they are cut before the escapes are decoded.
  rest = rest.substr(0, rest.find_first_of("?#"));
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      path += rest[i];
      continue;
    }
    if (i + 2 >= rest.size() || !std::isxdigit(static_cast<unsigned char>(rest[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(rest[i + 2])))
      return std::nullopt;
    path += static_cast<char>(std::stoi(std::string(rest.substr(i + 1, 2)), nullptr, 16));
    i += 2;
  }
  return path;
}

std::string FileAddressOfHostPath(const std::string& hostPath) {
  static const char* const kHex = "0123456789ABCDEF";
  std::string address = "file://";
  for (unsigned char c : hostPath) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                       c == '-' || c == '_' || c == '.' || c == '~';
    if (plain) {
      address += char(c);
    } else {
      address += '%';
      address += kHex[c >> 4];
      address += kHex[c & 15];
    }
  }
  return address;
}

bool XdgDocumentOpener::MayOpenHostPath(const std::string& hostPath) const { return !mayOpen_ || mayOpen_(hostPath); }

std::vector<std::string> SplitArguments(std::string_view text) {
  std::vector<std::string> out;
  size_t i = 0;
  const size_t n = text.size();
  for (;;) {
    while (i < n && IsArgumentBlank(text[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsArgumentBlank(text[i]))) {
      char c = text[i];
      if (c == '\\') {
        size_t j = i;
        while (j < n && text[j] == '\\') ++j;
        size_t count = j - i;
        if (j < n && text[j] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2) {
            arg += '"';
            ++j;
          }
        } else {
          arg.append(count, '\\');
        }
        i = j;
      } else if (c == '"') {
        if (quoted && i + 1 < n && text[i + 1] == '"') {
          arg += '"';
          ++i;
          quoted = false;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg += c;
        ++i;
      }
    }
    out.push_back(std::move(arg));
  }
  return out;
}

LaunchCommand CommandFromLine(std::string_view line, const std::function<bool(const std::string&)>& isProgram) {
  size_t start = 0;
  while (start < line.size() && IsArgumentBlank(line[start])) ++start;
  LaunchCommand command;
  size_t rest = std::string_view::npos;
  if (start < line.size() && line[start] != '"') {
    // An unquoted name may hold blanks: the shortest run of words that names
    // a program wins, as the system's process creation searched.
    for (size_t at = start; at <= line.size(); ++at) {
      bool wordEnd = at == line.size() || (IsArgumentBlank(line[at]) && !IsArgumentBlank(line[at - 1]));
      if (!wordEnd) continue;
      std::string candidate(line.substr(start, at - start));
      if (isProgram(candidate)) {
        command.program = candidate;
        rest = at;
        break;
      }
    }
  }
  if (rest == std::string_view::npos) {
    rest = start;
    command.program = ProgramWord(line, rest);
  }
  for (std::string& arg : SplitArguments(line.substr(rest))) command.arguments.push_back(Cp1252ToUtf8(arg));
  return command;
}

PosixLauncher::PosixLauncher(const DriveMap& drives, std::string baseDir)
    : drives_(drives), baseDir_(std::move(baseDir)) {}

std::string PosixLauncher::HostProgram(const std::string& storedName, int& error) const {
  error = ENOENT;
  std::string_view name = Trim(storedName);
  if (name.empty()) return {};
  if (name.find_first_of("\\/:") == std::string_view::npos) {
    // A bare name comes from PATH only, never from the project's folder.
    const char* env = std::getenv("PATH");
    std::string_view dirs = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
    std::string host = Cp1252ToUtf8(name);
    while (!dirs.empty()) {
      size_t colon = dirs.find(':');
      std::string dir(dirs.substr(0, colon));
      dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
      std::string candidate = (dir.empty() ? "." : dir) + "/" + host;
      int candidateError = 0;
      if (IsExecutableFile(candidate, candidateError)) return candidate;
      if (candidateError == EACCES) error = EACCES;
    }
    return {};
  }
  auto host = ResolveHostPath(name, drives_, baseDir_.empty() ? CurrentHostDir() : baseDir_);
  if (!host || !IsExecutableFile(*host, error)) return {};
  return *host;
}

bool PosixLauncher::IsProgram(const std::string& storedName) {
  int error = 0;
  return !HostProgram(storedName, error).empty();
}

LaunchResult PosixLauncher::Start(const LaunchCommand& command) {
  int error = 0;
  std::string path = HostProgram(command.program, error);
  if (path.empty()) return {nullptr, error};
  // Everything the child needs is built before fork: it may not allocate.
  std::vector<std::string> args{path};
  args.insert(args.end(), command.arguments.begin(), command.arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  rlimit limit{};
  unsigned fallbackLimit = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                               ? static_cast<unsigned>(std::min<rlim_t>(limit.rlim_cur, 1u << 20))
                               : 1u << 16;

  int go[2] = {-1, -1};
  int report[2] = {-1, -1};
  int nullFd = -1;
  auto fail = [&](int code) {
    for (int* fd : {&go[0], &go[1], &report[0], &report[1], &nullFd}) CloseFd(*fd);
    return LaunchResult{nullptr, code};
  };
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, go) != 0) return fail(errno);
  if (::pipe2(report, O_CLOEXEC) != 0) return fail(errno);
  nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (nullFd < 0) return fail(errno);
  for (int* fd : {&go[0], &go[1], &report[0], &report[1], &nullFd})
    if (!AboveStdio(*fd)) return fail(errno);
  pid_t pid = ::fork();
  if (pid < 0) return fail(errno);
  if (pid == 0) RunChild(path.c_str(), argv.data(), baseDir_.c_str(), go[0], report[1], nullFd, fallbackLimit);
  // Both sides set the group, so it exists whichever runs first.
  ::setpgid(pid, pid);
  CloseFd(go[0]);
  CloseFd(report[1]);
  CloseFd(nullFd);
  return {std::make_unique<PosixProgram>(pid, go[1], report[0]), 0};
}

LaunchResult RecordingLauncher::Start(const LaunchCommand& command) {
  if (failNext != 0) {
    int code = failNext;
    failNext = 0;
    return {nullptr, code};
  }
  auto started = std::make_shared<Started>();
  started->command = command;
  started_.push_back(started);
  return {std::make_unique<RecordedProgram>(started), 0};
}

bool RecordingLauncher::IsProgram(const std::string& storedName) {
  return std::any_of(programs.begin(), programs.end(),
                     [&](const std::string& p) { return EqualsNoCase(p, storedName); });
}

XdgDocumentOpener::XdgDocumentOpener(ProgramLauncher& launcher, const DriveMap& drives, std::string baseDir,
                                     Confinement mayOpen)
    : launcher_(launcher), drives_(drives), baseDir_(std::move(baseDir)), mayOpen_(std::move(mayOpen)) {}

LaunchCommand XdgDocumentOpener::CommandFor(const std::string& target) const {
  std::string_view name = Trim(target);
  if (name.empty()) return {};
  if (IsAddress(name)) {
    const std::string address = Cp1252ToUtf8(name);
    if (mayOpen_ && EqualsNoCase(name.substr(0, name.find(':')), "file")) {
      std::optional<std::string> path = LocalPathOfFileAddress(address);
      if (!path || !mayOpen_(*path)) return {};
    }
    return {"xdg-open", {address}};
  }
  auto host = ResolveHostPath(name, drives_, baseDir_.empty() ? CurrentHostDir() : baseDir_);
  struct stat st {};
  if (!host || ::stat(host->c_str(), &st) != 0) return {};
  if (mayOpen_ && !mayOpen_(*host)) return {};
  return {"xdg-open", {*host}};
}

bool XdgDocumentOpener::Open(const std::string& target) {
  LaunchCommand command = CommandFor(target);
  if (command.program.empty()) return false;
  LaunchResult started = launcher_.Start(command);
  // The handler is left to run; its handle going away reaps it when it ends.
  return started.program && started.program->Resume() == 0;
}

}  // namespace kv
