// HttpGet of a 200 MB file from nginx on 127.0.0.1, as a ratio to `curl -o`
// of the same file in the same run (curl's time / ours: 1.0 is as fast).
// nginx runs as a non-daemon child with a configuration of our own on a free
// loopback port and is stopped at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/net/transfer_bench.h"
#include "net/http.h"
#include "net/socket.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr size_t kFileSize = 200u << 20;

struct Fixture {
  fs::path dir;
  uint16_t port = 0;
  pid_t nginx = 0;
  std::string url;
  std::vector<double> oursSeconds, curlSeconds;
};

Fixture& F() {
  static Fixture f;
  return f;
}

uint16_t FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

pid_t Spawn(const std::vector<std::string>& args, bool quiet) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : 0;
}

bool Accepts(uint16_t port) {
  try {
    kv::CBlockingSocket s;
    s.Create();
    s.Connect(kv::CBlockingSocket::GetHostByName("127.0.0.1", port), 1);
    return true;
  } catch (const kv::CBlockingSocketException&) {
    return false;
  }
}

bool StartNginx() {
  Fixture& f = F();
  std::string tmpl = (fs::temp_directory_path() / "kvnginxXXXXXX").string();
  f.dir = ::mkdtemp(tmpl.data());
  fs::create_directories(f.dir / "www");
  fs::permissions(f.dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  kv::bench::WritePatternFile(f.dir / "www" / "big.bin", kFileSize);
  f.port = FreePort();
  const std::string d = f.dir.string();
  std::ofstream(f.dir / "nginx.conf") << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
                                      << "pid " << d << "/nginx.pid;\nerror_log " << d << "/error.log;\n"
                                      << "events { worker_connections 16; }\n"
                                      << "http {\n  access_log off;\n  sendfile on;\n  tcp_nopush on;\n"
                                      << "  client_body_temp_path " << d << "/body;\n"
                                      << "  proxy_temp_path " << d << "/proxy;\n"
                                      << "  fastcgi_temp_path " << d << "/fastcgi;\n"
                                      << "  uwsgi_temp_path " << d << "/uwsgi;\n"
                                      << "  scgi_temp_path " << d << "/scgi;\n"
                                      << "  server {\n    listen 127.0.0.1:" << f.port << ";\n"
                                      << "    root " << d << "/www;\n  }\n}\n";
  f.nginx = Spawn({"nginx", "-e", d + "/error.log", "-p", d, "-c", d + "/nginx.conf"}, true);
  for (int i = 0; f.nginx && i < 100 && !Accepts(f.port); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  f.url = "http://127.0.0.1:" + std::to_string(f.port) + "/big.bin";
  return f.nginx && Accepts(f.port);
}

void StopNginx() {
  Fixture& f = F();
  if (f.nginx) {
    ::kill(f.nginx, SIGTERM);
    ::waitpid(f.nginx, nullptr, 0);
  }
  fs::remove_all(f.dir);
}

bool FetchOurs(const std::string& out) {
  kv::UrlRecord url;
  kv::ParseUrl(F().url, url);
  kv::HttpFileOutput file(out);
  if (file.Open() != 0) return false;
  kv::HttpStatus status;
  uint32_t bytes = 0;
  int error = 0;
  const kv::NetHooks net;
  bool ok = kv::HttpGet(net, url, &file, status, nullptr, nullptr, &bytes, false, error);
  return file.Finish() == 0 && ok && bytes == kFileSize;
}

bool FetchCurl(const std::string& out) {
  pid_t pid = Spawn({"curl", "-s", "-o", out, F().url}, false);
  int st = 0;
  return pid && ::waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0 &&
         fs::file_size(out) == kFileSize;
}

template <bool (*Fetch)(const std::string&)>
void Run(benchmark::State& state, std::vector<double>& seconds, const char* name) {
  const std::string out = (F().dir / name).string();
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    if (!Fetch(out)) {
      state.SkipWithError("download failed");
      return;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(s);
    seconds.push_back(s);
    fs::remove(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}

void BM_Curl(benchmark::State& state) { Run<FetchCurl>(state, F().curlSeconds, "curl.out"); }
void BM_HttpGet(benchmark::State& state) { Run<FetchOurs>(state, F().oursSeconds, "ours.out"); }

BENCHMARK(BM_Curl)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HttpGet)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!StartNginx()) {
    std::fprintf(stderr, "bench_http_get: nginx did not start\n");
    StopNginx();
    return 1;
  }
  FetchCurl((F().dir / "warm.out").string());  // the file into the page cache before anyone is timed
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  double ours = kv::bench::Median(F().oursSeconds), curl = kv::bench::Median(F().curlSeconds);
  if (ours > 0 && curl > 0)
    std::printf("HttpGet vs curl -o, 200 MB from nginx on loopback: ratio %.2f (curl %.0f ms / HttpGet %.0f ms, "
                "medians of 5)\n", curl / ours, curl * 1000, ours * 1000);
  StopNginx();
  return 0;
}
