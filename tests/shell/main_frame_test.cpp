// The main frame's about text and its web-site commands, through a
// recording stand-in for the desktop's handler of addresses.
#include "shell/main_frame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <vector>

namespace kv {
namespace {

TEST(MainFrameAbout, ShowsTheReleaseBuildMemoryAndOurVersion) {
  const struct {
    const char* ours;
    uint64_t kb;
    const char* expected;
  } cases[] = {
      {"0.9.1", 2048, "Version 4.1.20, Build 20, 4.1.20 Release\nKorvel Player 0.9.1\nPhysical memory: 2048 KB"},
      {"1.0", 0, "Version 4.1.20, Build 20, 4.1.20 Release\nKorvel Player 1.0\nPhysical memory: 0 KB"},
  };
  for (const auto& c : cases) EXPECT_EQ(AboutText(c.ours, c.kb).toStdString(), c.expected);
  EXPECT_GT(PhysicalMemoryKb(), 1024u);
}

TEST(MainFrameAbout, WebSiteCommandsOpenTheirAddresses) {
  int argc = 1;
  char name[] = "main_frame_test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  std::vector<QString> opened;
  MainFrame frame("test", [&](const QString& address) {
    opened.push_back(address);
    return true;
  });
  // The three items of the web-site menu under Help, in order.
  QMenu* help = nullptr;
  for (QAction* a : frame.menuBar()->actions())
    if (a->text() == "&Help") help = a->menu();
  ASSERT_NE(help, nullptr);
  QMenu* site = nullptr;
  for (QAction* a : help->actions())
    if (a->menu()) site = a->menu();
  ASSERT_NE(site, nullptr);
  ASSERT_EQ(site->actions().size(), 3);
  for (QAction* a : site->actions()) a->trigger();
  const std::vector<QString> expected = {"https://korvel-player.example.org/",
                                         "https://korvel-player.example.org/web-edition/",
                                         "https://dunmere.example.com/"};
  EXPECT_EQ(opened, expected);
  EXPECT_TRUE(frame.OpenWebPage(6236));
  EXPECT_EQ(opened.back(), "https://korvel-player.example.org/downloads/");
}

}  // namespace
}  // namespace kv
