// The main frame's about text and its web-site commands, through a
// recording stand-in for the desktop's handler of addresses.
#include "shell/main_frame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenuBar>
#include <vector>

namespace kv {
namespace {

// One application for every test of the process, never destroyed: torn down
// by the exit handlers, Qt WebEngine's clean-up runs after the thread storage
// it needs is gone and crashes the process after every test passed.
QApplication& App() {
  static int argc = 1;
  static char name[] = "main_frame_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// A stand-in for the desktop's handler that records each address.
MainFrame::WebOpener Recorder(std::vector<QString>& opened) {
  return [&opened](const QString& address) {
    opened.push_back(address);
    return true;
  };
}

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
  App();
  std::vector<QString> opened;
  MainFrame frame("test", Recorder(opened));
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

TEST(MainFrameCommands, EveryIdDoesWhatItNames) {
  App();
  std::vector<QString> opened;
  MainFrame frame("test", Recorder(opened));
  int raised = 0;
  frame.SetStageRaiser([&] {
    ++raised;
    return true;
  });
  const struct {
    uint32_t id;
    const char* address;  // opened, or null for none
    int raises;           // stage raises the command makes
    bool known;
  } cases[] = {
      {33115, "https://korvel-player.example.org/support/", 0, true},
      {33119, "https://korvel-player.example.org/news/", 0, true},
      {33120, "https://korvel-player.example.org/downloads/", 0, true},
      {32872, nullptr, 1, true},
      // The frame is not the active window: it comes forward itself.
      {32791, nullptr, 0, true},
      {32955, nullptr, 0, true},
      {33116, nullptr, 0, true},
      {33117, nullptr, 0, true},
      // Authoring commands the player does not offer.
      {32775, nullptr, 0, false},
  };
  for (const auto& c : cases) {
    opened.clear();
    raised = 0;
    EXPECT_EQ(frame.Command(c.id), c.known) << c.id;
    EXPECT_EQ(opened.size(), c.address ? 1u : 0u) << c.id;
    if (c.address && !opened.empty()) {
      EXPECT_EQ(opened[0], c.address) << c.id;
    }
    EXPECT_EQ(raised, c.raises) << c.id;
    EXPECT_EQ(frame.CurrentCommand(), 0u);
  }
  // Once the frame is the active window, 32791 brings the stage forward.
  frame.show();
  QApplication::setActiveWindow(&frame);
  QApplication::processEvents();
  ASSERT_TRUE(frame.isActiveWindow());
  raised = 0;
  EXPECT_TRUE(frame.Command(32791));
  EXPECT_EQ(raised, 1);
  // The id being dispatched is known while its command runs.
  uint32_t seen = 0;
  frame.SetStageRaiser([&] {
    seen = frame.CurrentCommand();
    return true;
  });
  frame.Command(32872);
  EXPECT_EQ(seen, 32872u);
}

}  // namespace
}  // namespace kv
