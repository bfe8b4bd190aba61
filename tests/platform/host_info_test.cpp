#include "platform/host_info.h"

#include <gtest/gtest.h>

#include <thread>

namespace kv {
namespace {

TEST(TrackedKeyState, FollowsKeyEvents) {
  TrackedKeyState keys;
  const int kEscape = 0x1B;
  const int kLeftButton = 0x01;
  struct Step {
    int key;
    bool down;
  };
  const Step steps[] = {{kEscape, true}, {kLeftButton, true}, {0, true}, {256, true}, {-1, true}, {kEscape, false}};
  for (const Step& s : steps) keys.SetDown(s.key, s.down);
  EXPECT_FALSE(keys.IsDown(kEscape));
  EXPECT_TRUE(keys.IsDown(kLeftButton));
  for (int outside : {0, 256, -1, 1000}) EXPECT_FALSE(keys.IsDown(outside)) << outside;
  keys.ReleaseAll();
  EXPECT_FALSE(keys.IsDown(kLeftButton));
}

TEST(TrackedKeyState, AskedWhileAnotherThreadUpdates) {
  TrackedKeyState keys;
  std::thread writer([&] {
    for (int i = 0; i < 10000; ++i) keys.SetDown(0x20, i % 2 == 0);
  });
  // Checked for races under the tsan preset.
  for (int i = 0; i < 10000; ++i) (void)keys.IsDown(0x20);
  writer.join();
  EXPECT_FALSE(keys.IsDown(0x20));  // the last event released it
}

TEST(FixedScreenInfo, HeadlessRunsSeeTheDefaultScreen) {
  FixedScreenInfo headless;
  EXPECT_EQ((std::array{headless.Width(), headless.Height(), headless.Depth()}), (std::array{1024, 768, 32}));
}

}  // namespace
}  // namespace kv
