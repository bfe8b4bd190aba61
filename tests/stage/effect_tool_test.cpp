// kvtool effect: every step of an effect becomes a PNG frame; bad requests
// are usage errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

int RunTool(const std::string& args) {
  const int status = std::system((std::string(KVTOOL_PATH) + " effect " + args + " > /dev/null 2>&1").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct EffectTool : ::testing::Test {
  fs::path dir = fs::temp_directory_path() / ("kv_effect_tool_" + std::to_string(::getpid()));
  void TearDown() override { fs::remove_all(dir); }
  size_t Frames() const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.path().extension() == ".png";
    return n;
  }
};

TEST_F(EffectTool, WritesStartEveryStepAndFinal) {
  // Blinds with bands of 4 rows: 4 steps.
  ASSERT_EQ(RunTool("9 --size 40x24 --param1 4 -o " + dir.string()), 0);
  EXPECT_EQ(Frames(), 6u);
  EXPECT_TRUE(fs::exists(dir / "step_00003.png"));
  EXPECT_TRUE(fs::exists(dir / "final.png"));
  ASSERT_EQ(RunTool("1 --size 40x24 --param1 12 --hide -o " + dir.string() + "/hide"), 0);
  EXPECT_TRUE(fs::exists(dir / "hide" / "step_00001.png"));
  EXPECT_FALSE(fs::exists(dir / "hide" / "step_00002.png"));
}

TEST_F(EffectTool, RefusesBadRequests) {
  const char* bad[] = {"0 --size 40x24 -o ", "108 --size 40x24 -o ", "1 --size 0x24 -o ", "1 --size 40 -o ",
                       "x --size 40x24 -o ", "1 --size 40x24 --param1 y -o "};
  for (const char* args : bad) EXPECT_EQ(RunTool(args + dir.string()), 64) << args;
  EXPECT_EQ(RunTool("1 --size 40x24"), 64);
}

}  // namespace
