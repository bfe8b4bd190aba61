#include "net/url_fetch.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "net/locator.h"
#include "tests/net/locator_test_util.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

// The loopback server of tests/net/loopback_server.py over a scratch folder.
class FetchTest : public testing::Test {
 protected:
  void SetUp() override {
    Bytes file(1000);
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<uint8_t>(i * 13);
    test::WriteBytes(www_ / "file.bin", file);
    test::WriteBytes(www_ / "myfile.kvg", {'k', 'v', 'g'});
    fileBytes_ = file;
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      const std::string script = std::string(KV_SOURCE_DIR) + "/tests/net/loopback_server.py";
      execlp("python3", "python3", script.c_str(), www_.path().c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    ASSERT_FALSE(line.empty()) << "loopback server did not start";
    base_ = "http://127.0.0.1:" + line + "/";
    temp_.emplace(*PrepareUserFolder(scratch_ / "tmp"));
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  static int Record(int code, void* data, uint32_t value) {
    static_cast<FetchTest*>(data)->codes_.push_back({code, value});
    return 0;
  }
  std::vector<int> CodesOnly() const {
    std::vector<int> out;
    for (auto [code, value] : codes_)
      if (out.empty() || out.back() != code) out.push_back(code);
    return out;
  }

  test::ScratchDir www_;
  test::ScratchDir scratch_;
  std::optional<TempFolder> temp_;
  std::string base_;
  pid_t pid_ = -1;
  Bytes fileBytes_;
  std::vector<std::pair<int, uint32_t>> codes_;
};

TEST_F(FetchTest, DownloadsIntoTheTemporaryFolderWithProgress) {
  auto path = FetchUrlToFile(base_ + "file.bin", *temp_, Record, this);
  ASSERT_TRUE(path);
  EXPECT_EQ(fs::path(*path).parent_path(), temp_->path());
  EXPECT_EQ(fs::path(*path).filename().string().substr(0, 3), "glm");
  EXPECT_EQ(fs::path(*path).extension(), ".bin");
  EXPECT_EQ(test::ReadBytes(*path), fileBytes_);
  EXPECT_EQ(CodesOnly(), (std::vector<int>{kFetchStarting, kFetchConnecting, kFetchRequesting, kFetchContentLength,
                                           kFetchReceived, kFetchDone}));
  uint64_t received = 0;
  for (auto [code, value] : codes_) {
    if (code == kFetchContentLength) {
      EXPECT_EQ(value, 1000u);
    }
    if (code == kFetchReceived) received += value;
  }
  EXPECT_EQ(received, 1000u);
}

TEST_F(FetchTest, FailuresLeaveNoFile) {
  struct Case {
    std::string path;
    uint64_t cap;
    bool ok;
  };
  const Case cases[] = {
      {"redirect/4", 1 << 20, true},  // five redirects in all
      {"redirect/5", 1 << 20, false},  // six
      {"missing.bin", 1 << 20, false},
      {"file.bin", 999, false},        // announced length over the cap
      {"chunked/5000", 4999, false},   // no length: counted while receiving
      {"chunked/5000", 5000, true},
  };
  for (const Case& c : cases) {
    FetchOptions options;
    options.maxBytes = c.cap;
    std::string error;
    codes_.clear();
    auto path = FetchUrlToFile(base_ + c.path, *temp_, Record, this, options, &error);
    EXPECT_EQ(path.has_value(), c.ok) << c.path << ": " << error;
    if (path) {
      fs::remove(*path);
    } else {
      EXPECT_FALSE(error.empty()) << c.path;
      EXPECT_EQ(codes_.back().first, kFetchEnded) << c.path;
    }
    EXPECT_TRUE(test::ListDir(temp_->path()).empty()) << c.path;
  }
  // Only http and https are fetched.
  EXPECT_FALSE(FetchUrlToFile("file://" + www_.path() + "/file.bin", *temp_, nullptr, nullptr));
}

TEST_F(FetchTest, LocatorDownloadsStandAloneAndCaches) {
  LocatorOptions options;
  options.temporaryFolder = scratch_ / "loc";
  CResourceLocator locator(options);
  locator.SetProgress(Record, this);
  int cursor = 0;
  locator.SetWaitCursor([&](bool on) { cursor += on ? 1 : -1; });
  locator.SetBasePath(base_ + "index.kvp", true);
  // Blanks leave the file name of a ".kvg" address.
  std::string got = locator.RetrieveResource("my file.kvg");
  EXPECT_EQ(fs::path(got).parent_path(), locator.GetTemporaryDirectory());
  EXPECT_EQ(test::ReadBytes(got), (Bytes{'k', 'v', 'g'}));
  EXPECT_EQ(cursor, 0);
  EXPECT_FALSE(codes_.empty());
  EXPECT_EQ(locator.LookupCached(base_ + "MY FILE.kvg"), got);
  EXPECT_EQ(locator.RetrieveResource("my file.kvg"), got);
  // Not allowed, or not there: the absolute name comes back, nothing cached.
  EXPECT_EQ(locator.RetrieveResource("file.bin", false), base_ + "file.bin");
  EXPECT_EQ(locator.RetrieveResource("nothing.bin"), base_ + "nothing.bin");
  EXPECT_EQ(locator.CacheSize(), 1u);
  locator.Reset();
  EXPECT_FALSE(fs::exists(got));
}

}  // namespace
}  // namespace kv
