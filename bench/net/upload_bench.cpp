// A 100 MB multipart upload (kvHTTPUploadMultipartForm's transfer) to a sink
// on 127.0.0.1, as a ratio to `curl -F` posting the same file to the same sink
// in the same run (curl's time / ours: 1.0 is as fast). The sink reads the
// request to the end its Content-Length gives and answers one status line.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/net/transfer_bench.h"
#include "net/hooks.h"
#include "net/upload.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr size_t kFileSize = 100u << 20;

// Accepts connections one after the other until closed.
class Sink {
 public:
  Sink() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 4) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      std::perror("upload bench: sink");
      std::exit(1);
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~Sink() {
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    thread_.join();
  }
  uint16_t port() const { return port_; }
  uint64_t lastBodyBytes() const { return lastBody_; }

 private:
  void Serve() {
    std::vector<char> buf(1 << 20);
    for (;;) {
      int c = ::accept(fd_, nullptr, nullptr);
      if (c < 0) return;
      std::string head;
      uint64_t body = 0, want = 0;
      bool inBody = false;
      for (;;) {
        ssize_t n = ::recv(c, buf.data(), buf.size(), 0);
        if (n <= 0) break;
        if (inBody) {
          body += uint64_t(n);
        } else {
          head.append(buf.data(), size_t(n));
          size_t end = head.find("\r\n\r\n");
          if (end == std::string::npos) continue;
          inBody = true;
          body = head.size() - (end + 4);
          std::string lower = head.substr(0, end);
          std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
          size_t at = lower.find("content-length:");
          if (at != std::string::npos) want = std::strtoull(lower.c_str() + at + 15, nullptr, 10);
        }
        if (inBody && body >= want) break;
      }
      lastBody_ = body;
      const char answer[] = "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n";
      (void)!::send(c, answer, sizeof answer - 1, MSG_NOSIGNAL);
      ::close(c);
    }
  }
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<uint64_t> lastBody_{0};
  std::thread thread_;
};

struct Fixture {
  fs::path dir, file;
  std::unique_ptr<Sink> sink;
  std::vector<double> oursSeconds, curlSeconds;
};
Fixture& F() {
  static Fixture f;
  return f;
}

// The final report of an upload ends the wait for it.
class Waiter : public kv::ReportPoster {
 public:
  void PostReport(const std::string&, const std::string& text, int32_t number) override {
    if (text.empty() && number > 0) return;  // a piece
    std::lock_guard lock(m_);
    final_ = text;
    done_ = true;
    cv_.notify_all();
  }
  std::string Wait() {
    std::unique_lock lock(m_);
    cv_.wait(lock, [this] { return done_; });
    done_ = false;
    return final_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool done_ = false;
  std::string final_;
};

bool UploadOurs() {
  auto net = std::make_shared<kv::NetHooks>();
  auto waiter = std::make_shared<Waiter>();
  net->SetReportPoster(waiter);
  kv::MultipartUploadArgs args;
  args.host = "http://127.0.0.1:" + std::to_string(F().sink->port()) + "/";
  args.filePath = F().file.string();
  args.callback = "Done";
  args.target = "/up";
  args.title = "T";
  if (!kv::HttpUploadMultipartForm(net, args)) return false;
  const std::string line = waiter->Wait();
  return line.rfind("HTTP/1.0 200", 0) == 0 && F().sink->lastBodyBytes() > kFileSize;
}

bool UploadCurl() {
  const std::string url = "http://127.0.0.1:" + std::to_string(F().sink->port()) + "/up";
  const std::string file = "File=@" + F().file.string();
  std::vector<std::string> args = {"curl", "-s", "-o", "/dev/null", "-H", "Expect:", "-F", "Title=T", "-F", file, url};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int st = 0;
  return ::waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0 &&
         F().sink->lastBodyBytes() > kFileSize;
}

template <bool (*Upload)()>
void Run(benchmark::State& state, std::vector<double>& seconds) {
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    if (!Upload()) {
      state.SkipWithError("upload failed");
      return;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(s);
    seconds.push_back(s);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kFileSize));
}

void BM_CurlUpload(benchmark::State& state) { Run<UploadCurl>(state, F().curlSeconds); }
void BM_MultipartUpload(benchmark::State& state) { Run<UploadOurs>(state, F().oursSeconds); }
BENCHMARK(BM_CurlUpload)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MultipartUpload)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Fixture& f = F();
  std::string tmpl = (fs::temp_directory_path() / "kvuploadXXXXXX").string();
  f.dir = ::mkdtemp(tmpl.data());
  f.file = f.dir / "big.bin";
  kv::bench::WritePatternFile(f.file, kFileSize);
  f.sink = std::make_unique<Sink>();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  double ours = kv::bench::Median(f.oursSeconds), curl = kv::bench::Median(f.curlSeconds);
  if (ours > 0 && curl > 0)
    std::printf("multipart upload vs curl -F, 100 MB to a loopback sink: ratio %.2f (curl %.0f ms / ours %.0f ms, "
                "medians of 5)\n", curl / ours, curl * 1000, ours * 1000);
  f.sink.reset();
  fs::remove_all(f.dir);
  return 0;
}
