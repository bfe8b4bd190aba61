// The display mode a full-screen stage asks for: the smallest offered that
// holds the stage, the current refresh kept where a size comes at several.
#include <gtest/gtest.h>

#include "shell/display_mode.h"

namespace kv {
namespace {

TEST(DisplayMode, ChosenForStage) {
  const DisplayMode m640{1, 640, 480, 60}, m800{2, 800, 600, 60}, m1024{3, 1024, 768, 60};
  const DisplayMode m800at75{4, 800, 600, 75}, m800at50{5, 800, 600, 50};
  const DisplayMode wide{6, 1280, 480, 60}, tall{7, 720, 576, 50};
  struct Case {
    const char* what;
    std::vector<DisplayMode> offered;
    DisplayMode current;
    int width, height;
    std::optional<size_t> chosen;
  };
  const Case cases[] = {
      {"an exact fit", {m1024, m800, m640}, m1024, 640, 480, 2},
      {"the next size up holds a stage a pixel too wide", {m1024, m800, m640}, m1024, 641, 480, 1},
      {"the next size up holds a stage a pixel too tall", {m1024, m800, m640}, m1024, 640, 481, 1},
      {"the smallest that holds, whatever the order", {m640, m1024, m800}, m1024, 600, 440, 0},
      {"a stage as large as the largest mode", {m640, m800, m1024}, m640, 1024, 768, 2},
      {"no mode holds a larger stage", {m640, m800, m1024}, m1024, 1025, 700, std::nullopt},
      {"nothing offered", {}, m1024, 32, 24, std::nullopt},
      {"the current refresh among equal sizes", {m800at50, m800, m800at75, m1024}, m1024, 700, 500, 1},
      {"the refresh nearest the current one", {m800at50, m800at75, m1024}, DisplayMode{3, 1024, 768, 72}, 700, 500, 1},
      {"the first listed when refreshes are as near", {m800at50, m800at75}, DisplayMode{9, 1024, 768, 62.5}, 700, 500, 0},
      {"the smaller area before the refresh", {m800at75, m640}, DisplayMode{9, 1024, 768, 75}, 600, 400, 1},
      {"the smaller area, not the smaller width", {wide, tall}, m1024, 600, 470, 1},
      {"a wide stage needs a wide mode", {tall, wide, m1024}, m1024, 1200, 400, 1},
      {"equal areas: the narrower", {DisplayMode{8, 800, 450, 60}, DisplayMode{9, 600, 600, 60}}, m1024, 500, 400, 1},
      {"the current mode when it is the one", {m640, m800, m1024}, m800, 800, 600, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseDisplayMode(c.offered, c.current, c.width, c.height), c.chosen) << c.what;
  }
}

}  // namespace
}  // namespace kv
