#include "shell/qt_frame_menus.h"

#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <memory>

#include "platform/text.h"
#include "shell/stage_window.h"

namespace kv {

namespace {

QString TextOf(const std::string& cp1252) { return QString::fromStdString(Cp1252ToUtf8(cp1252)); }

// Fills `menu` with `entries`; a chosen item reports its id through `chosen`.
template <class Menu>
void Fill(Menu& menu, const std::vector<FrameMenuEntry>& entries, const std::function<void(uint16_t)>& chosen) {
  for (const FrameMenuEntry& e : entries) {
    if (e.separator) {
      menu.addSeparator();
    } else if (!e.sub.empty()) {
      Fill(*menu.addMenu(TextOf(e.text)), e.sub, chosen);
    } else {
      QAction* a = menu.addAction(TextOf(e.text));
      a->setCheckable(e.checked);
      a->setChecked(e.checked);
      a->setEnabled(!e.grayed);
      const uint16_t id = e.id;
      QObject::connect(a, &QAction::triggered, a, [chosen, id] { chosen(id); });
    }
  }
}

}  // namespace

QtFrameMenus::QtFrameMenus(Post gui, Post run) : gui_(std::move(gui)), run_(std::move(run)) {}

void QtFrameMenus::AttachWindow(StageWindow* frame) { frame_ = frame; }

void QtFrameMenus::ShowBar(std::vector<FrameMenuEntry> entries, std::function<void(uint16_t)> chosen) {
  gui_([this, entries = std::move(entries), chosen = std::move(chosen)] {
    if (!frame_) return;
    auto* bar = new QMenuBar;
    Post run = run_;
    Fill(*bar, entries, [run, chosen](uint16_t id) { run([chosen, id] { chosen(id); }); });
    frame_->SetMenuBar(bar);
  });
}

void QtFrameMenus::RemoveBar() {
  gui_([this] {
    if (frame_) frame_->SetMenuBar(nullptr);
  });
}

void QtFrameMenus::OpenPopup(std::vector<FrameMenuEntry> entries, Point at, std::function<void(uint16_t)> ended) {
  gui_([this, entries = std::move(entries), at, ended = std::move(ended)] {
    if (!frame_) return;
    auto* menu = new QMenu(frame_);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    auto choice = std::make_shared<uint16_t>(0);
    Fill(*menu, entries, [choice](uint16_t id) { *choice = id; });
    // An item triggers after the menu hides: the answer waits for it.
    Post run = run_;
    QObject::connect(menu, &QMenu::aboutToHide, menu, [run, ended, choice] {
      QTimer::singleShot(0, [run, ended, choice] { run([ended, id = *choice] { ended(id); }); });
    });
    popup_ = menu;
    menu->popup(frame_->runWindow().GlobalOfStagePoint(at.x, at.y));
  });
}

void QtFrameMenus::CancelPopup() {
  gui_([this] {
    if (popup_) popup_->close();
  });
}

}  // namespace kv
