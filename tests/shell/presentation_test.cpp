// The display switch of a window run: how the stage is scaled for each
// display mode and target, and the page-flip thread told while a message
// box shows.
#include <gtest/gtest.h>

#include "platform/message_box.h"
#include "shell/presentation_window.h"
#include "stage/compositor.h"

namespace kv {
namespace {

TEST(Presentation, ScaleForModeAndTarget) {
  struct Case {
    const char* what;
    StageScale asked;
    uint8_t stageMode;
    WindowTarget target;
    bool fit, fullScreen;
    int factor;
  };
  WindowTarget plain, saver, embedded, root;
  saver.saver = true;
  embedded.embedIn = 0x1234;
  root.wholeScreen = true;
  const Case cases[] = {
      {"mode 0 keeps the asked scale", {2, false, false}, 0, plain, false, false, 2},
      {"mode 0 full screen as asked", {0, true, true}, 0, plain, true, true, 0},
      {"mode 1 fills the screen", {3, false, false}, 1, plain, true, true, 0},
      {"mode 2 fills the screen", {1, false, false}, 2, plain, true, true, 0},
      {"an unknown mode changes nothing", {1, false, false}, 7, plain, false, false, 1},
      {"a saver in mode 0 keeps its size", {1, false, false}, 0, saver, false, false, 1},
      {"inside another window: fitted, not full screen", {1, false, false}, 2, embedded, true, false, 0},
      {"-root: the whole screen", {1, false, false}, 0, root, true, true, 0},
  };
  for (const Case& c : cases) {
    const StageScale s = PresentationScale(c.asked, c.stageMode, c.target);
    EXPECT_EQ(s.fit, c.fit) << c.what;
    EXPECT_EQ(s.fullScreen, c.fullScreen) << c.what;
    EXPECT_EQ(s.factor, c.factor) << c.what;
  }
}

// Records whether the page-flip thread knew of the box while it showed.
class WatchingBox : public MessageBoxService {
 public:
  explicit WatchingBox(PageFlipThread& flipper) : flipper_(flipper) {}
  MsgAnswer Show(const std::string&, const std::string&, MsgButtons, MsgIcon) override {
    seen.push_back(flipper_.MessageShowing());
    return MsgAnswer::Yes;
  }
  int Choose(const std::string&, const std::string&, const std::vector<std::string>&) override {
    seen.push_back(flipper_.MessageShowing());
    return 1;
  }
  std::vector<bool> seen;

 private:
  PageFlipThread& flipper_;
};

TEST(Presentation, MessageBoxesTellThePageFlipThread) {
  Compositor c(CompositorRole::kStage);
  PageFlipThread flipper(c, [] { return int64_t{30}; });
  WatchingBox inner(flipper);
  FlipAwareMessages boxes(inner);
  // Without a page-flip thread boxes pass straight through.
  EXPECT_EQ(boxes.Show("a", "t", MsgButtons::YesNo, MsgIcon::Question), MsgAnswer::Yes);
  boxes.SetFlipper(&flipper);
  EXPECT_EQ(boxes.Show("b", "t", MsgButtons::YesNo, MsgIcon::Question), MsgAnswer::Yes);
  EXPECT_EQ(boxes.Choose("c", "t", {"x", "y"}), 1);
  EXPECT_EQ(inner.seen, (std::vector<bool>{false, true, true}));
  EXPECT_FALSE(flipper.MessageShowing());
}

}  // namespace
}  // namespace kv
