// Downloads from a real HTTP server that nobody here wrote: Python's
// http.server, started on 127.0.0.1 for the test and stopped after it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <cstring>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "net/hooks.h"
#include "net/http.h"
#include "net/socket.h"
#include "tests/net/loopback_server.h"

extern char** environ;

namespace kv {
namespace {

namespace fs = std::filesystem;

// Test content: xorshift words, so every byte value occurs and no block
// repeats. Made once per size; the 50 MB one is compared several times.
const std::string& Pattern(size_t size) {
  static std::map<size_t, std::string> made;
  std::string& s = made[size];
  if (s.size() == size) return s;
  s.resize(size);
  uint64_t x = 88172645463325252ull;
  for (size_t i = 0; i < size; i += 8) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    std::memcpy(s.data() + i, &x, std::min<size_t>(8, size - i));
  }
  return s;
}

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string s(fs::exists(path) ? fs::file_size(path) : 0, '\0');
  in.read(s.data(), static_cast<std::streamsize>(s.size()));
  return s;
}

class PythonServer : public ::testing::Test {
 protected:
  NetHooks net_;
  static void SetUpTestSuite() {
    std::string tmpl = (fs::temp_directory_path() / "kvpyXXXXXX").string();
    dir_ = ::mkdtemp(tmpl.data());
    for (auto [name, size] : {std::pair{"zero.bin", 0}, {"one.bin", 1}, {"fifty.bin", 50 << 20}})
      std::ofstream(dir_ / name, std::ios::binary) << Pattern(static_cast<size_t>(size));
    port_ = test::FreeLoopbackPort();
    std::string portText = std::to_string(port_);
    std::string dirText = dir_.string();
    const char* argv[] = {"python3", "-m", "http.server", "--bind", "127.0.0.1", "--directory",
                          dirText.c_str(), portText.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);  // its access log
    int rc = posix_spawnp(&pid_, "python3", &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid_ = 0;
    // Ready when it accepts a connection; bounded so a broken interpreter fails fast.
    for (int i = 0; pid_ && i < 100 && !Accepts(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  static void TearDownTestSuite() {
    if (pid_) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    fs::remove_all(dir_);
  }
  static bool Accepts() {
    try {
      CBlockingSocket s;
      s.Create();
      s.Connect(CBlockingSocket::GetHostByName("127.0.0.1", port_), 1);
      return true;
    } catch (const CBlockingSocketException&) {
      return false;
    }
  }
  static std::string Url(const char* name) { return "http://127.0.0.1:" + std::to_string(port_) + "/" + name; }

  static inline fs::path dir_;
  static inline uint16_t port_ = 0;
  static inline pid_t pid_ = 0;
};

TEST_F(PythonServer, DownloadsExactBytes) {
  ASSERT_TRUE(pid_ && Accepts()) << "python3 -m http.server did not start";
  for (auto [name, size] : {std::pair{"zero.bin", 0}, {"one.bin", 1}, {"fifty.bin", 50 << 20}}) {
    fs::path out = dir_ / (std::string(name) + ".got");
    HttpFileOutput file(out.string());
    ASSERT_EQ(file.Open(), 0);
    UrlRecord url;
    ASSERT_TRUE(ParseUrl(Url(name), url));
    HttpStatus status;
    uint32_t counted = 0;
    int error = -1;
    ASSERT_TRUE(HttpGet(net_, url, &file, status, nullptr, nullptr, &counted, false, error)) << name << " " << error;
    ASSERT_EQ(file.Finish(), 0);
    EXPECT_EQ(status.status, 200);
    EXPECT_EQ(status.contentLength, static_cast<uint32_t>(size)) << name;
    EXPECT_EQ(counted, static_cast<uint32_t>(size)) << name;
    EXPECT_TRUE(ReadWhole(out) == Pattern(static_cast<size_t>(size))) << name << ": bytes differ";
  }
}

TEST_F(PythonServer, HeadQueries) {
  ASSERT_TRUE(pid_ && Accepts());
  EXPECT_TRUE(RemoteResourceExists(net_, Url("one.bin")));
  EXPECT_EQ(RemoteResourceSize(net_, Url("fifty.bin")), 50 << 20);
  EXPECT_FALSE(RemoteResourceExists(net_, Url("absent.bin")));  // 404
  EXPECT_EQ(RemoteResourceSize(net_, Url("absent.bin")), -1);
}

#ifdef KVTOOL_PATH
struct ToolRun {
  int status;
  std::string out;
};

// Runs kvtool with standard output (and error, when `both`) captured.
ToolRun RunKvtool(const std::string& args, bool both = false) {
  std::string cmd = std::string(KVTOOL_PATH) + " " + args + (both ? " 2>&1" : " 2>/dev/null");
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[256];
  while (size_t n = std::fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  int rc = ::pclose(p);
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, out};
}

TEST_F(PythonServer, KvtoolGetAndHead) {
  ASSERT_TRUE(pid_ && Accepts());
  fs::path out = dir_ / "tool.got";
  ToolRun get = RunKvtool("get " + Url("fifty.bin") + " -o " + out.string());
  EXPECT_EQ(get.status, 0);
  EXPECT_TRUE(ReadWhole(out) == Pattern(50 << 20));

  ToolRun missing = RunKvtool("get " + Url("absent.bin") + " -o " + (dir_ / "none").string(), true);
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("error 10013 (the server answered HTTP status 404)"), std::string::npos) << missing.out;
  EXPECT_NE(missing.out.find("Requesting resource /absent.bin...\n"), std::string::npos) << missing.out;
  EXPECT_FALSE(fs::exists(dir_ / "none"));

  EXPECT_EQ(RunKvtool("head " + Url("one.bin")).out, "exists: true\nsize: 1\n");
  ToolRun absent = RunKvtool("head " + Url("absent.bin"));
  EXPECT_EQ(absent.out, "exists: false\nsize: -1\n");
  EXPECT_EQ(absent.status, 1);
}
#endif

}  // namespace
}  // namespace kv
