#include "platform/settings.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace kv {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("kvset" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "sub" / "Korvel.conf").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Contents() {
    std::ifstream in(path_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(SettingsTest, MissingValuesGiveTheDefault) {
  SettingsStore store(path_);
  EXPECT_EQ(store.GetInt("Logging", "Enabled", 0), 0);
  EXPECT_EQ(store.GetString("Logging", "OutputFile", "korvel.log"), "korvel.log");
  EXPECT_FALSE(std::filesystem::exists(path_));  // reading never creates the file
}

TEST_F(SettingsTest, WritesAndReadsBack) {
  {
    SettingsStore store(path_);
    ASSERT_TRUE(store.SetInt("Logging", "Enabled", 1));
    ASSERT_TRUE(store.SetString("Logging", "OutputFile", "/tmp/caf\xE9.log"));
    ASSERT_TRUE(store.SetString("RemoteHistory\\Runtime", "Url1", "http://h/a.kvp"));
    ASSERT_TRUE(store.SetInt("Logging", "Enabled", -5));  // replaced in place
  }
  EXPECT_EQ(Contents(),
            "[Logging]\nEnabled=-5\nOutputFile=/tmp/caf\xC3\xA9.log\n[RemoteHistory\\Runtime]\nUrl1=http://h/a.kvp\n");
  SettingsStore again(path_);
  EXPECT_EQ(again.GetInt("logging", "ENABLED", 0), -5);  // names without regard to case
  EXPECT_EQ(again.GetString("Logging", "OutputFile", ""), "/tmp/caf\xE9.log");
}

TEST_F(SettingsTest, HandEditedFile) {
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
  std::ofstream(path_) << "; comment\r\n[Logging]\r\n  Enabled = 7 \r\nBad=12x\r\nBig=4294967295\r\nnot a pair\r\n";
  SettingsStore store(path_);
  EXPECT_EQ(store.GetInt("Logging", "Enabled", 0), 7);
  EXPECT_EQ(store.GetInt("Logging", "Bad", 3), 3);  // not a whole number
  EXPECT_EQ(store.GetInt("Logging", "Big", 0), -1); // a DWORD value reads as 32 bits
  ASSERT_TRUE(store.SetString("Logging", "OutputFile", "x\ny"));
  SettingsStore again(path_);
  EXPECT_EQ(again.GetString("Logging", "OutputFile", ""), "x y");  // no line break sneaks in
  EXPECT_NE(Contents().find("; comment"), std::string::npos);      // comments survive a write
}

TEST_F(SettingsTest, DefaultPathFollowsXdg) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(SettingsStore::DefaultPath(), "/cfg/Dunmere Corp./Korvel.conf");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored, as the XDG rules say
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(SettingsStore::DefaultPath(), "/home/u/.config/Dunmere Corp./Korvel.conf");
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(SettingsTest, ReadsUtf8AndWindows1252Files) {
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
  struct Case {
    const char* line;
    const char* value;
  };
  const Case cases[] = {
      {"V=caf\xC3\xA9", "caf\xE9"},     // our own UTF-8
      {"V=caf\xE9", "caf\xE9"},          // a Windows-1252 file as the original wrote it
      {"V=\xC3\xA9\xE9", "\xC3\xA9\xE9"},  // not UTF-8 as a whole: bytes kept
  };
  for (const Case& c : cases) {
    std::ofstream(path_) << "[S]\n" << c.line << "\n";
    EXPECT_EQ(SettingsStore(path_).GetString("S", "V", ""), c.value) << c.line;
  }
}

}  // namespace
}  // namespace kv
