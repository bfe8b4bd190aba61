#include "engine/macro_host.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kv {
namespace {

class MacroHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("kvmacro" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_ / "Data");
    drives_.SetDefault(dir_.string());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
  DriveMap drives_;
  SettingsStore registry_{""};
  ScriptedFileDialog dialog_{{std::optional<std::string>("C:\\chosen.txt")}};
  PlayerMacroHost host_{drives_, registry_, dialog_};
};

TEST(RegistrySection, OwnKeyHoldsTheStoreSections) {
  struct Case {
    RegistryRoot root;
    const char* subkey;
    const char* section;
  };
  const Case cases[] = {
      {RegistryRoot::CurrentUser, "Software\\Dunmere Corp.\\Korvel\\Logging", "Logging"},
      {RegistryRoot::CurrentUser, "software\\dunmere corp.\\KORVEL\\RemoteHistory\\Runtime", "RemoteHistory\\Runtime"},
      {RegistryRoot::CurrentUser, "Software\\Dunmere Corp.\\Korvel", ""},
      {RegistryRoot::CurrentUser, "Software\\Dunmere Corp.\\KorvelX", "HKEY_CURRENT_USER\\Software\\Dunmere Corp.\\KorvelX"},
      {RegistryRoot::LocalMachine, "Software\\Dunmere Corp.\\Korvel\\Logging",
       "HKEY_LOCAL_MACHINE\\Software\\Dunmere Corp.\\Korvel\\Logging"},
      {RegistryRoot::DynData, "a", "HKEY_DYN_DATA\\a"},
  };
  for (const Case& c : cases) EXPECT_EQ(RegistrySection(c.root, c.subkey), c.section) << c.subkey;
}

TEST_F(MacroHostTest, RegistryMacrosReadTheSettingsStore) {
  registry_.SetString("Logging", "OutputFile", "C:\\korvel.log");
  registry_.SetString("HKEY_LOCAL_MACHINE\\Software\\Acme", "Path", "D:\\acme");
  EXPECT_EQ(ExpandNames("%REG:HKEY_CURRENT_USER:Software\\Dunmere Corp.\\Korvel\\Logging\\OutputFile%", host_),
            "C:\\korvel.log");
  EXPECT_EQ(ExpandNames("%REG:hkey_local_machine:SOFTWARE\\acme\\path%\\x", host_), "D:\\acme\\x");
  EXPECT_EQ(ExpandNames("%REG:HKEY_USERS:Software\\Acme\\Path%", host_), "");
}

TEST_F(MacroHostTest, IniEntriesThroughThePathLayer) {
  // Windows-1252 bytes as an INI file of the original's system holds them.
  std::ofstream(dir_ / "Data" / "Setup.INI") << "; comment\r\n[Paths]\r\nMedia = E:\\m\xE9\r\n[Other]\r\nMedia=no\r\n";
  EXPECT_EQ(ExpandNames("%INI:\\data\\setup.ini:paths:MEDIA%", host_), "E:\\m\xE9");
  EXPECT_EQ(ExpandNames("%INI:\\data\\setup.ini:Paths:Missing%|", host_), "|");
  EXPECT_EQ(ExpandNames("%INI:\\data\\none.ini:Paths:Media%|", host_), "|");
  EXPECT_EQ(ExpandNames("%INI:\\data:Paths:Media%|", host_), "|");  // a folder
  EXPECT_EQ(ExpandNames("%INI:/dev/zero:Paths:Media%|", host_), "|");  // a device is never read
  std::ofstream(dir_ / "Data" / "big.ini") << "[Paths]\nMedia=x\n" << std::string(kMaxIniFileSize, ';');
  EXPECT_EQ(ExpandNames("%INI:\\data\\big.ini:Paths:Media%|", host_), "|");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Data" / "none.ini"));
}

TEST_F(MacroHostTest, DrivesDirectoriesAndEnvironment) {
  drives_.Map('E', (dir_ / "Data").string(), DriveType::CdRom);
  host_.SetProjectDir("C:\\proj");
  host_.SetProgramDir("Z:\\usr\\lib\\korvel\\");
  host_.SetCacheDir("Z:\\tmp\\kv");
  ::setenv("KV_MACRO_TEST", "caf\xC3\xA9", 1);
  EXPECT_EQ(ExpandNames("%FD%|%FD:2%|%FD:3%|%CD%|%RD%|%ND%|%MD%", host_), "C:|Z:||E:|||");
  EXPECT_EQ(ExpandNames("%PROJPATH%a|%KVPATH%b|%CACHE%c", host_), "C:\\proj\\a|Z:\\usr\\lib\\korvel\\b|Z:\\tmp\\kv\\c");
  EXPECT_EQ(ExpandNames("%ENV:KV_MACRO_TEST%", host_), "caf\xE9");  // UTF-8 outside, Windows-1252 inside
  std::string cwd = ExpandNames("%CWD%", host_);
  EXPECT_EQ(cwd.substr(1, 1), ":");
  EXPECT_EQ(cwd.back(), '\\');
}

TEST_F(MacroHostTest, VariablesAndPromptAnswerOnlyWhenSet) {
  EXPECT_EQ(ExpandNames("%VAR:x%|", host_), "|");  // no variable store yet
  host_.SetVariableLookup([](const std::string& name) -> std::optional<std::string> {
    if (name == "x") return std::string("42");
    return std::nullopt;
  });
  EXPECT_EQ(ExpandNames("%VAR:x%|%VAR:y%", host_), "42|");

  EXPECT_EQ(ExpandNames("%PROMPT%|", host_), "|");  // nothing plays: no dialog
  EXPECT_TRUE(dialog_.requests().empty());
  host_.SetPlaying(true);
  EXPECT_EQ(ExpandNames("%PROMPT:start.txt%|%PROMPT%", host_), "C:\\chosen.txt|");  // the second is cancelled
  auto requests = dialog_.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].title, "Select File");
  EXPECT_EQ(requests[0].filter, "All Files|*.*||");
  EXPECT_EQ(requests[0].initialFile, "start.txt");
}

}  // namespace
}  // namespace kv
