#include "shell/presentation_window.h"

#include <QEvent>
#include <QWindow>
#include <chrono>
#include <thread>

#include "engine/runner.h"
#include "inserts/stage_host.h"
#include "stage/compositor.h"

namespace kv {

StageScale PresentationScale(const StageScale& asked, uint8_t stageMode, const WindowTarget& target) {
  StageScale shown = asked;
  const bool displaySwitch = stageMode == 1 || stageMode == 2;
  if (displaySwitch || target.embedIn || target.wholeScreen) {
    shown.fit = true;
    shown.factor = 0;
    shown.fullScreen = !target.embedIn;
  }
  return shown;
}

ExclusivePresentation::ExclusivePresentation(Stage& stage)
    : flipper_(stage.compositor(), [&stage]() -> int64_t {
        // Read anew on every pass: a script may change the pace while it plays.
        uint32_t delay = 30;
        stage.runner().variables().TryGetInt32("rwPageFlipDelay", delay);
        return static_cast<int32_t>(delay);
      }) {}

ExclusivePresentation::~ExclusivePresentation() { Stop(); }

void ExclusivePresentation::Watch(QWindow* window) {
  if (window) window->installEventFilter(this);
}

void ExclusivePresentation::Start() { flipper_.Start(); }
void ExclusivePresentation::Stop() { flipper_.Stop(); }

bool ExclusivePresentation::eventFilter(QObject* watched, QEvent* event) {
  // Exposed again after being covered or unmapped (another program's full
  // screen, a switch of virtual terminals): the next pass presents a whole
  // new frame.
  if (event->type() == QEvent::Expose)
    if (auto* window = qobject_cast<QWindow*>(watched); window && window->isExposed()) flipper_.SurfaceLost();
  return false;
}

template <typename F>
auto FlipAwareMessages::Showing(F show) {
  PageFlipThread* flipper = flipper_.load();
  if (flipper) {
    flipper->SetMessageShowing(true);
    // One pass of the page-flip thread may still flip before the box is up.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  auto answer = show();
  if (flipper) flipper->SetMessageShowing(false);
  return answer;
}

MsgAnswer FlipAwareMessages::Show(const std::string& text, const std::string& title, MsgButtons buttons,
                                  MsgIcon icon) {
  return Showing([&] { return inner_.Show(text, title, buttons, icon); });
}

int FlipAwareMessages::Choose(const std::string& text, const std::string& title,
                              const std::vector<std::string>& choices) {
  return Showing([&] { return inner_.Choose(text, title, choices); });
}

}  // namespace kv
