// How the saver is invoked: the ".scr" switches, the "--saver" form with the
// options of a screen-saver daemon, and the input that ends a saver run.
#include "saver/saver_command.h"

#include <gtest/gtest.h>

namespace kv::saver {
namespace {

TEST(SaverCommand, ProgramNames) {
  EXPECT_TRUE(IsSaverProgramName("/usr/lib/korvel.scr"));
  EXPECT_TRUE(IsSaverProgramName("Tour.SCR"));
  EXPECT_FALSE(IsSaverProgramName("/opt/x.scr/korvel"));
  EXPECT_FALSE(IsSaverProgramName("scr"));
  EXPECT_FALSE(IsSaverProgramName("korvel"));
  EXPECT_FALSE(IsSaverProgramName("korvel.exe"));
  EXPECT_FALSE(IsSaverProgramName("korvel.scx"));
  EXPECT_FALSE(IsSaverProgramName("korvelxscr"));
}

TEST(SaverCommand, ScrSwitches) {
  struct Case {
    std::vector<std::string> args;
    SaverMode mode;
    std::optional<uint64_t> window;
  } const cases[] = {
      {{}, SaverMode::kConfigure, std::nullopt},
      {{"/c"}, SaverMode::kConfigure, std::nullopt},
      {{"-C:1234"}, SaverMode::kConfigure, 1234},
      {{"/c", "77"}, SaverMode::kConfigure, 77},
      {{"/c:0"}, SaverMode::kNone, std::nullopt},
      {{"/s"}, SaverMode::kRun, std::nullopt},
      {{"S"}, SaverMode::kRun, std::nullopt},
      {{"/p", "4242"}, SaverMode::kPreview, 4242},
      {{"/l:99"}, SaverMode::kPreview, 99},
      {{"/p"}, SaverMode::kPreview, std::nullopt},
      {{"/a", "5"}, SaverMode::kChangePassword, 5},
      {{"/x"}, SaverMode::kNone, std::nullopt},
      {{"/"}, SaverMode::kNone, std::nullopt},
      {{"/p", "abc"}, SaverMode::kPreview, std::nullopt},
  };
  for (const Case& c : cases) {
    const SaverInvocation got = ParseScrSwitches(c.args);
    EXPECT_EQ(got.mode, c.mode) << (c.args.empty() ? "" : c.args[0]);
    EXPECT_EQ(got.window, c.window) << (c.args.empty() ? "" : c.args[0]);
  }
}

TEST(SaverCommand, SaverOptionForm) {
  struct Case {
    std::vector<std::string> args;
    const char* env;
    bool ok;
    SaverMode mode;
    std::optional<uint64_t> window;
    bool root;
    std::vector<std::string> rest;
  } const cases[] = {
      {{"--saver"}, nullptr, true, SaverMode::kConfigure, std::nullopt, false, {}},
      {{"--saver", "configure"}, nullptr, true, SaverMode::kConfigure, std::nullopt, false, {}},
      {{"--saver", "run", "-root"}, nullptr, true, SaverMode::kRun, std::nullopt, true, {}},
      {{"--saver", "run", "-window-id", "0x2a"}, nullptr, true, SaverMode::kRun, 42, false, {}},
      {{"--saver", "run"}, "0x400007", true, SaverMode::kRun, 0x400007, false, {}},
      {{"--saver", "run", "-root"}, "77", true, SaverMode::kRun, 77, true, {}},
      {{"--saver", "run", "-window-id", "5"}, "77", true, SaverMode::kRun, 5, false, {}},
      {{"--saver", "run"}, "garbage", false, SaverMode::kRun, std::nullopt, false, {}},
      {{"--saver", "preview", "123"}, nullptr, true, SaverMode::kPreview, 123, false, {}},
      {{"--saver", "preview"}, nullptr, false, SaverMode::kPreview, std::nullopt, false, {}},
      {{"--saver", "preview", "0xZZ"}, nullptr, false, SaverMode::kPreview, std::nullopt, false, {}},
      {{"--headless", "--saver", "run", "--trace", "-"}, nullptr, true, SaverMode::kRun, std::nullopt, false,
       {"--headless", "--trace", "-"}},
      {{"-window-id"}, nullptr, false, SaverMode::kNone, std::nullopt, false, {}},
      {{"--headless"}, nullptr, false, SaverMode::kNone, std::nullopt, false, {}},
  };
  for (const Case& c : cases) {
    SaverInvocation got;
    std::string error;
    const bool ok = ParseSaverOptions(c.args, c.env, got, error);
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    ASSERT_EQ(ok, c.ok) << line << error;
    if (!ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(got.mode, c.mode) << line;
    EXPECT_EQ(got.window, c.window) << line;
    EXPECT_EQ(got.root, c.root) << line;
    EXPECT_EQ(got.rest, c.rest) << line;
  }
  EXPECT_TRUE(HasSaverOption({"x", "--saver"}));
  EXPECT_FALSE(HasSaverOption({"--saver-x"}));
}

TEST(SaverCommand, WindowIds) {
  uint64_t id = 0;
  EXPECT_TRUE(ParseWindowId("0x1E00007", id));
  EXPECT_EQ(id, 0x1E00007u);
  EXPECT_TRUE(ParseWindowId("31457287", id));
  EXPECT_EQ(id, 31457287u);
  for (const char* bad : {"", "0x", "-5", "12a", "0x-1", " 5"}) EXPECT_FALSE(ParseWindowId(bad, id)) << bad;
}

TEST(SaverExit, MouseMovesPastTheThreshold) {
  struct Case {
    const char* what;
    std::vector<int> xs;
    int endsAt;  // index of the move that ends the saver, -1 for none
  } const cases[] = {
      {"ten large moves never end it", {0, 100, 200, 300, 400, 500, 600, 700, 800, 900}, -1},
      {"the eleventh far move does", {50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 56}, 10},
      {"within five pixels it does not", {50, 51, 52, 53, 54, 55, 45, 46, 47, 48, 55, 45, 50}, -1},
      {"far to the left", {50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 44}, 11},
      {"the first move's x is kept", {10, 90, 90, 90, 90, 90, 90, 90, 90, 90, 12, 16}, 11},
  };
  for (const Case& c : cases) {
    SaverExitWatch watch;
    int ended = -1;
    for (size_t i = 0; i < c.xs.size() && ended < 0; ++i)
      if (watch.Move(c.xs[i])) ended = static_cast<int>(i);
    EXPECT_EQ(ended, c.endsAt) << c.what;
  }
}

}  // namespace
}  // namespace kv::saver
