#include "net/remote_history.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(RemoteHistory, NewestFirstWithoutDuplicatesAndAtMostFifteen) {
  SettingsStore store("");
  EXPECT_EQ(LoadRemoteHistory(store), RemoteHistoryExamples());
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(RememberRemoteAddress(store, "http://h/" + std::to_string(i) + ".kvg"));
  auto h = LoadRemoteHistory(store);
  ASSERT_EQ(h.size(), 15u);
  EXPECT_EQ(h.front(), "http://h/19.kvg");
  EXPECT_EQ(h.back(), "http://h/5.kvg");
  // An address already present (in another case) moves to the top once.
  ASSERT_TRUE(RememberRemoteAddress(store, "HTTP://H/10.KVG"));
  h = LoadRemoteHistory(store);
  ASSERT_EQ(h.size(), 15u);
  EXPECT_EQ(h[0], "HTTP://H/10.KVG");
  EXPECT_EQ(h[1], "http://h/19.kvg");
  EXPECT_EQ(std::count(h.begin(), h.end(), "http://h/10.kvg"), 0);
  EXPECT_EQ(h.back(), "http://h/5.kvg");
  EXPECT_EQ(store.GetString(kRemoteHistorySection, "URL0", ""), "HTTP://H/10.KVG");
  EXPECT_EQ(store.GetString(kRemoteHistorySection, "URL14", ""), "http://h/5.kvg");
}

TEST(RemoteProgress, TextsAndBar) {
  RemoteProgress p;
  p.OnProgress(1, 0);
  EXPECT_EQ(p.text(), "Initializing socket connection...");
  p.OnProgress(3, 0);
  EXPECT_EQ(p.text(), "Connecting to host...");
  p.OnProgress(5, 0);
  EXPECT_EQ(p.text(), "Requesting resource from host...");
  // Without a length the bar stays at 0 instead of dividing by zero.
  p.OnProgress(8, 500);
  EXPECT_EQ(p.percent(), 0u);
  EXPECT_EQ(p.text(), "Received 500 of 0 bytes");
  p.OnProgress(12, 2000);
  p.OnProgress(8, 500);
  p.OnProgress(8, 1000);
  EXPECT_EQ(p.text(), "Received 1500 of 2000 bytes");
  EXPECT_EQ(p.percent(), 75u);
  p.OnProgress(9, 2000);
  EXPECT_EQ(p.text(), "Resource successfully retrieved");
  p.OnProgress(10, 0);
  EXPECT_EQ(p.text(), "");
  EXPECT_EQ(RemoteNotFoundText("http://x/"), "The resource 'http://x/' cannot be found or is not available.");
}

}  // namespace
}  // namespace kv
