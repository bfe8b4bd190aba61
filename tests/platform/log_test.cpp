#include "platform/log.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/settings.h"

namespace kv {
namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("kvlog" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    logPath_ = (dir_ / "out.log").string();
    SettingsStore::SetProcess(&store_);
    ResetLogForTesting();
  }
  void TearDown() override {
    SettingsStore::SetProcess(nullptr);
    ResetLogForTesting();
    std::filesystem::remove_all(dir_);
  }
  void Enable() {
    store_.SetInt("Logging", "Enabled", 1);
    store_.SetString("Logging", "OutputFile", logPath_);
  }
  std::string Contents() {
    std::ifstream in(logPath_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  SettingsStore store_{""};
  std::filesystem::path dir_;
  std::string logPath_;
};

TEST_F(LogTest, DisabledWritesNothingEver) {
  store_.SetString("Logging", "OutputFile", logPath_);
  Log("line %d", 1);
  Enable();  // read only once per process: stays off
  Log("line %d", 2);
  EXPECT_FALSE(std::filesystem::exists(logPath_));
}

TEST_F(LogTest, HeaderOnceThenLines) {
  Enable();
  Log("first %s", "line");
  Log("second");
  std::string text = Contents();
  EXPECT_EQ(text.rfind("--------------------------------------------------------------------------------\r\n"
                       "Korvel Logging File\r\n  Opened at ",
                       0),
            0u);
  EXPECT_NE(text.find("  Base executable: \""), std::string::npos);
  EXPECT_NE(text.find("  Plugin mode: Disabled\r\n  Plugin services: Disabled\r\nfirst line\r\nsecond\r\n"),
            std::string::npos);
  // The time has the form "Wednesday, December 09, 2026 at 8:05:03 AM": the
  // hour without a leading zero.
  size_t at = text.find(" at ");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NE(text[at + 4], '0');
  EXPECT_EQ(Count(text, "Korvel Logging File"), 1u);
}

TEST_F(LogTest, SecondRunAppendsSecondHeader) {
  Enable();
  Log("run one");
  ResetLogForTesting();  // as a new process would start
  SetLogPluginMode(true);
  Log("run two");
  SetLogPluginMode(false);
  std::string text = Contents();
  EXPECT_EQ(Count(text, "Korvel Logging File"), 2u);
  EXPECT_LT(text.find("run one"), text.find("Plugin mode: Enabled"));
  EXPECT_LT(text.find("Plugin mode: Enabled"), text.find("run two"));
}

TEST_F(LogTest, LongLineIsCut) {
  Enable();
  Log("%s", std::string(3000, 'x').c_str());
  std::string text = Contents();
  EXPECT_NE(text.find(std::string(1024, 'x') + "\r\n"), std::string::npos);
  EXPECT_EQ(text.find(std::string(1025, 'x')), std::string::npos);
}

TEST_F(LogTest, SeveralProcessesKeepLinesWhole) {
  Enable();
  constexpr int kChildren = 4, kLines = 200;
  std::vector<pid_t> pids;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ResetLogForTesting();
      for (int i = 0; i < kLines; ++i) Log("child %d line %03d %s", c, i, std::string(200, 'a' + c).c_str());
      ::_exit(0);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::string text = Contents();
  EXPECT_EQ(Count(text, "Korvel Logging File"), static_cast<size_t>(kChildren));
  std::istringstream lines(text);
  std::string line;
  int data = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("child ", 0) != 0) continue;
    ++data;
    // Each line is whole: its tail is 200 of its own child's letter, then CR.
    int child = line[6] - '0';
    EXPECT_EQ(line.substr(line.size() - 201), std::string(200, 'a' + child) + "\r");
  }
  EXPECT_EQ(data, kChildren * kLines);
}

}  // namespace
}  // namespace kv
