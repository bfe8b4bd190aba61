// The player as a user meets it: from starting korvel on the demo project
// to its first idle frame written (headless, virtual clock), with the run's
// peak memory. A child process per run, so each start is a cold one. The
// hosted start does the same with every file asked of a host over a local
// socket (the baseline is the plain start). And --record of a 640 x 480
// stage showing a movie, against real time.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "net/host_connection.h"

extern char** environ;

namespace {

// Runs korvel in `dir`; answers the child's peak resident set in KiB, or -1
// when it failed. `cpu` gets the child's processor time in seconds.
long RunKorvel(std::vector<std::string> args, const char* dir, double* cpu = nullptr) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, dir);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid;
  const int err = posix_spawn(&pid, KV_KORVEL, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  if (cpu) {
    *cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return usage.ru_maxrss;
}

// Runs korvel on the demo until it is first idle; `hosted` adds the
// arguments of a hosted start.
long PlayDemoOnce(const std::string& frames, std::vector<std::string> hosted = {}) {
  std::vector<std::string> args = {KV_KORVEL, "--headless", "--virtual-clock", "--until-idle", "--render", frames};
  args.insert(args.end(), hosted.begin(), hosted.end());
  args.push_back("demo.kvp");
  return RunKorvel(std::move(args), KV_DEMO_DIR);
}

void BM_DemoStartToFirstFrame(benchmark::State& state) {
  const std::string frames = (std::filesystem::temp_directory_path() / "korvel-bench-frames").string();
  long peak = 0;
  for (auto _ : state) {
    const long rss = PlayDemoOnce(frames);
    if (rss < 0) {
      state.SkipWithError("korvel failed on the demo project");
      return;
    }
    peak = std::max(peak, rss);
  }
  state.counters["peak_rss_MiB"] = double(peak) / 1024.0;
  std::filesystem::remove_all(frames);
}
BENCHMARK(BM_DemoStartToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

void BM_HostedDemoStartToFirstFrame(benchmark::State& state) {
  const std::string frames = (std::filesystem::temp_directory_path() / "korvel-bench-hosted").string();
  long requests = 0;
  for (auto _ : state) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
      state.SkipWithError("no socket pair");
      return;
    }
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);  // the player gets only its own end
    long asked = 0;
    std::thread host([&asked, fd = fds[0]] {
      kv::host::HostConnection connection(fd);
      kv::host::ServePlayer(connection, [&asked](const std::string& name, const std::string&) {
        ++asked;
        auto rel = kv::host::RelativeResourcePath(name, "");
        std::optional<std::string> file;
        if (rel && std::filesystem::is_regular_file(std::string(KV_DEMO_DIR) + "/" + *rel))
          file = std::string(KV_DEMO_DIR) + "/" + *rel;
        return file;
      });
    });
    const long rss = PlayDemoOnce(frames, {"/plugin", "bench", "/server", "fd:" + std::to_string(fds[1])});
    close(fds[1]);
    host.join();
    if (rss < 0) {
      state.SkipWithError("korvel failed on the hosted demo project");
      return;
    }
    requests = asked;
  }
  state.counters["requests"] = double(requests);
  std::filesystem::remove_all(frames);
}
BENCHMARK(BM_HostedDemoStartToFirstFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);

// Ten seconds of the run recorded headless on the virtual clock; the
// counters are how many times faster than real time the recording is made,
// by the wall clock and by the run's processor time (which a shared machine
// does not inflate).
void BM_Record640x480(benchmark::State& state, const char* ext) {
  constexpr double kRunSeconds = 10;
  const std::string file = (std::filesystem::temp_directory_path() / "korvel-bench-record.").string() + ext;
  double cpuTotal = 0;
  for (auto _ : state) {
    double cpu = 0;
    if (RunKorvel({KV_KORVEL, "--headless", "--virtual-clock", "--until", "10000", "--record", file, "record.kvp"},
                  KV_RECORD_DIR, &cpu) < 0) {
      state.SkipWithError("korvel failed to record");
      return;
    }
    cpuTotal += cpu;
  }
  const double runs = double(state.iterations());
  state.counters["times_real_time"] = benchmark::Counter(kRunSeconds * runs, benchmark::Counter::kIsRate);
  state.counters["times_real_time_cpu"] = kRunSeconds * runs / cpuTotal;
  std::filesystem::remove(file);
}
BENCHMARK_CAPTURE(BM_Record640x480, mp4, "mp4")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK_CAPTURE(BM_Record640x480, mkv, "mkv")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
