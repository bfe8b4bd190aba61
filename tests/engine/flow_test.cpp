// Script-flow commands run on a bare runner (no stage, no media): what a
// command does when the object or script it names is not there.
#include "engine/flow.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/runner.h"
#include "persist/document.h"
#include "platform/message_box.h"

namespace kv {
namespace {

struct MissingCase {
  const char* name;
  uint16_t command;
  bool reports;  // "Unable to locate object" with the name, answer 0
};

class MissingObject : public ::testing::TestWithParam<MissingCase> {
 protected:
  MissingObject() {
    RunnerServices s;
    s.clock = &clock;
    s.messages = &boxes;
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
    context = ScriptThreadContext::Create(*runner, "project", 1);
    context->isProjectThread = true;
    ScriptThreadContext::SetCurrent(context.get());
  }
  ~MissingObject() override { ScriptThreadContext::SetCurrent(nullptr); }

  Clock clock{true};
  ScriptedMessageBox boxes;
  std::unique_ptr<Runner> runner;
  std::shared_ptr<ScriptThreadContext> context;
};

// Scripts hide, disable or stop objects that may not be present and test
// rwLastError; only playing one reports it missing.
TEST_P(MissingObject, SetsLastErrorOrReports) {
  const MissingCase& c = GetParam();
  auto flow = std::make_shared<CFlow>();
  flow->command = c.command;
  flow->argument = "nobody";
  runner->variables().SetLastError(0);
  const int answer = runner->RunGuarded(flow, run_mode::kHandler);
  if (c.reports) {
    EXPECT_EQ(answer, 0);
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_NE(boxes.shown()[0].text.find("Unable to locate object nobody"), std::string::npos)
        << boxes.shown()[0].text;
  } else {
    EXPECT_EQ(answer, 1);
    EXPECT_TRUE(boxes.shown().empty()) << boxes.shown()[0].text;
    EXPECT_EQ(runner->variables().LastError(), 2);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, MissingObject,
    ::testing::Values(MissingCase{"ResumePausedObject", command::kResumePausedObject, false},
                      MissingCase{"RemoveObject", command::kRemoveObject, false},
                      MissingCase{"HideObject", command::kHideObject, false},
                      MissingCase{"ShowHiddenObject", command::kShowHiddenObject, false},
                      MissingCase{"DisableObject", command::kDisableObject, false},
                      MissingCase{"EnableObject", command::kEnableObject, false},
                      MissingCase{"PauseObject", command::kPauseObject, false},
                      MissingCase{"StopObject", command::kStopObject, false},
                      MissingCase{"MoveObjectToCursor", command::kMoveObjectToCursor, false},
                      MissingCase{"DragWithMouse", command::kDragWithMouse, false},
                      MissingCase{"StopSoundInObject", command::kStopSoundInObject, false},
                      MissingCase{"PlayObject", command::kPlayObject, true},
                      MissingCase{"InitializeObject", command::kInitializeObject, true},
                      MissingCase{"PlaySoundInObject", command::kPlaySoundInObject, true}),
    [](const auto& info) { return std::string(info.param.name); });

// "Save project" writes the project to its file only when that file exists
// and is not read-only.
struct SaveCase {
  const char* name;
  bool exists;
  bool writable;
  bool saved;
};

class SaveProject : public ::testing::TestWithParam<SaveCase> {};

TEST_P(SaveProject, OnlyToAWritableFile) {
  const SaveCase& c = GetParam();
  namespace fs = std::filesystem;
  const fs::path file = fs::temp_directory_path() / ("kv_save_" + std::to_string(::getpid()) + ".kvp");
  fs::remove(file);
  const std::string before = "not yet saved";
  if (c.exists) {
    std::ofstream(file, std::ios::binary) << before;
    if (!c.writable) fs::permissions(file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                                     fs::perm_options::remove);
  }
  Clock clock{true};
  ScriptedMessageBox boxes;
  RunnerServices s;
  s.clock = &clock;
  s.messages = &boxes;
  Runner runner(s, RuntimeFacts{});
  auto project = std::make_shared<CStgDoc>();
  project->isProject = 1;
  project->pathName = file.string();
  runner.Start(project, nullptr);
  runner.Shutdown();
  runner.shuttingDown = false;
  auto context = ScriptThreadContext::Create(runner, "project", 1);
  ScriptThreadContext::SetCurrent(context.get());
  auto flow = std::make_shared<CFlow>();
  flow->command = command::kSaveProject;
  EXPECT_EQ(runner.RunGuarded(flow, run_mode::kHandler), 1);
  ScriptThreadContext::SetCurrent(nullptr);
  EXPECT_TRUE(boxes.shown().empty());
  EXPECT_EQ(fs::exists(file), c.exists);
  if (c.exists) {
    std::ifstream in(file, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(after != before, c.saved);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    fs::remove(file);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, SaveProject,
                         ::testing::Values(SaveCase{"Writable", true, true, true},
                                           SaveCase{"ReadOnly", true, false, false},
                                           SaveCase{"Missing", false, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv
