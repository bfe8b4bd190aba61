#include "persist/open_project.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "persist/document.h"
#include "persist/hooks.h"
#include "persist/project_session.h"
#include "persist/project_tree.h"
#include "platform/message_box.h"
#include "tests/persist/bytes.h"

namespace kv {
namespace {

using test::Bytes;

Bytes SmallProject() {
  Bytes b;
  b.u16(8).u32(20).u8(0).u16(0x4401).raw({1, 0, 0, 0, 0, 0, 0, 0, 0}).u32(0).str("").str("").str("");
  b.u16(0);                                                                  // no inserts
  b.u16(1).newClass("CProjNode").u16(4).str("").str("").str("").u16(0).u8(0).u16(0).str("x.kvp");
  b.u8(1).str("");                                                           // version 8
  b.u16(0).u8(0).u8(0).u8(0);                                                // version 7
  b.u8(0).u32(27);                                                           // version 6
  b.u16(3).u8(0).u8(0).u32(0).u32(0).u32(0).u32(0).u32(0).str("").str("").str("").str("").u32(0);
  b.u16(0).u8(0).u8(0);                                                      // version 5
  b.u32(44).u32(0).u32(0);                                                   // version 4
  b.u32(1266).u32(0).u32(0).u32(1);                                          // version 3
  b.u32(0).u32(640).u32(480).u32(1);                                         // version 2
  b.u32(0).u32(0).u32(0).u32(0).u32(640).u32(480).u32(1).str("Opened");      // version 1
  return b;
}

class CountingEngine : public PlayState {
 public:
  int resets = 0;
  void ResetNavigation() override { ++resets; }
};

class OpenProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPersistClasses();
    SetMessageBoxes(&box_);
    char cwd[4096];
    old_ = ::getcwd(cwd, sizeof cwd);
    dir_ = std::filesystem::temp_directory_path() / ("kvopen" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_ / "Sub Dir");
    Bytes b = SmallProject();
    std::ofstream(dir_ / "Sub Dir" / "Demo.KVP", std::ios::binary)
        .write(reinterpret_cast<const char*>(b.b.data()), static_cast<std::streamsize>(b.b.size()));
    std::ofstream(dir_ / "bad.kvp", std::ios::binary) << "\x09\x00garbage";
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(::chdir(old_.c_str()), 0);
    std::filesystem::remove_all(dir_);
    SetMessageBoxes(nullptr);
  }
  std::string Cwd() {
    char cwd[4096];
    return ::getcwd(cwd, sizeof cwd);
  }
  ScriptedMessageBox box_;
  CountingEngine engine_;
  ResourceResolver noLocator_;
  ProjectSession session_{noLocator_, engine_};
  std::string old_;
  std::filesystem::path dir_;
};

TEST_F(OpenProjectTest, OpensALocalProjectWithWindowsName) {
  // Stored form: backslashes and another case than on disk.
  ASSERT_TRUE(OpenProject(session_, "sub dir\\demo.kvp", ""));
  ASSERT_NE(session_.project, nullptr);
  EXPECT_EQ(session_.project->settings.stageCaption, "Opened");
  EXPECT_EQ(session_.projectPath, "sub dir\\demo.kvp");
  EXPECT_EQ(session_.projectDir, "sub dir\\");
  EXPECT_EQ(session_.standbysPath, "sub dir\\demo.kvb");
  // Its names resolve from its folder; the process's directory stays.
  EXPECT_EQ(std::filesystem::canonical(session_.BaseDir()), std::filesystem::canonical(dir_ / "Sub Dir"));
  EXPECT_EQ(std::filesystem::canonical(Cwd()), std::filesystem::canonical(dir_));
  EXPECT_EQ(engine_.resets, 1);
  EXPECT_TRUE(box_.shown().empty());
  // The root node carries the opened file's name.
  EXPECT_EQ(session_.project->projectTree[0]->path, "demo.kvp");
}

TEST_F(OpenProjectTest, MissingFileIsReported) {
  EXPECT_FALSE(OpenProject(session_, "nothere.kvp", ""));
  ASSERT_EQ(box_.shown().size(), 1u);
  EXPECT_EQ(box_.shown()[0].title, "Unable to locate Korvel script");
  EXPECT_EQ(box_.shown()[0].text, "nothere.kvp");
  EXPECT_EQ(box_.shown()[0].icon, MsgIcon::Error);
  EXPECT_EQ(session_.project, nullptr);
  EXPECT_FALSE(OpenProject(session_, "", ""));
}

TEST_F(OpenProjectTest, CorruptFileIsNewFileFormatAndFatal) {
  EXPECT_THROW(OpenProject(session_, "bad.kvp", ""), FatalProjectError);
  ASSERT_EQ(box_.shown().size(), 1u);
  EXPECT_EQ(box_.shown()[0].text.substr(0, 52), "The file 'bad.kvp' could not be processed because it");
  EXPECT_EQ(box_.shown()[0].icon, MsgIcon::Exclamation);
  EXPECT_EQ(session_.project, nullptr);  // nothing of a failed load becomes current
}

TEST_F(OpenProjectTest, CompilationThatCannotBePreparedIsFatal) {
  // Without a locator no archive can be opened.
  EXPECT_THROW(OpenProject(session_, "pack.kvg", ""), FatalProjectError);
  ASSERT_EQ(box_.shown().size(), 1u);
  EXPECT_EQ(box_.shown()[0].text, "Unable to prepare .KVG file For: pack.kvp");
}

TEST_F(OpenProjectTest, CloseReturnsToStartDirectory) {
  const std::string start = StartDir();
  ASSERT_TRUE(OpenProject(session_, "Sub Dir/Demo.KVP", ""));
  CloseDocument(session_, session_.project);
  EXPECT_EQ(session_.project, nullptr);
  EXPECT_TRUE(session_.projectPath.empty());
  EXPECT_TRUE(session_.standbysPath.empty());
  EXPECT_EQ(session_.BaseDir(), start);
  EXPECT_EQ(Cwd(), start);
}

TEST_F(OpenProjectTest, PreloadStandbys) {
  std::vector<std::string> preloaded;
  auto record = [&](const std::string& name) { preloaded.push_back(name); };
  EXPECT_FALSE(PreloadStandbys(session_, record));  // no standbys path
  ASSERT_TRUE(OpenProject(session_, "Sub Dir/Demo.KVP", ""));
  EXPECT_TRUE(PreloadStandbys(session_, record));  // named but missing: true, nothing preloaded
  EXPECT_TRUE(preloaded.empty());
  std::ofstream(dir_ / "Sub Dir" / "demo.kvb") << "x";
  EXPECT_TRUE(PreloadStandbys(session_, record));
  EXPECT_EQ(preloaded, std::vector<std::string>{"Demo.kvb"});
}

TEST_F(OpenProjectTest, EngineLoadOfTheProject) {
  session_.projectPath = "Sub Dir\\Demo.kvp";
  auto doc = LoadProjectForEngine(session_, true);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(doc->settings.stageCaption, "Opened");
  session_.projectPath = "bad.kvp";
  EXPECT_EQ(LoadProjectForEngine(session_, true), nullptr);
  ASSERT_EQ(box_.shown().size(), 1u);
  EXPECT_EQ(box_.shown()[0].text, "Cannot read file as a Korvel script.");
  session_.projectPath = "gone.kvp";
  EXPECT_EQ(LoadProjectForEngine(session_, true), nullptr);
  EXPECT_EQ(box_.shown()[1].title, "Unable to locate project script");
}

}  // namespace
}  // namespace kv
