#include "inserts/headless_menus.h"

#include <algorithm>

#include "inserts/menu_lists.h"
#include "inserts/stage_host.h"
#include "stage/qt_painter.h"

namespace kv {

namespace {

constexpr uint32_t kShift = 1, kAlt = 4;
constexpr uint32_t kVkReturn = 0x0D, kVkEscape = 0x1B, kVkLeft = 0x25, kVkUp = 0x26, kVkRight = 0x27,
                   kVkDown = 0x28, kVkF10 = 0x79;
// Above every object: the lists open over the whole stage.
constexpr uint16_t kMenuLayer = 0xFFFF;

bool IsLetter(uint32_t key) { return (key >= 'A' && key <= 'Z') || (key >= '0' && key <= '9'); }

}  // namespace

struct HeadlessMenus::State {
  MenuLists bar;
  bool hasBar = false;
  bool barInUse = false;
  std::function<void(uint16_t)> chosen;
  MenuLists popup;
  bool popupOpen = false;
  Point popupAt;
  std::function<void(uint16_t)> ended;
};

HeadlessMenus::HeadlessMenus(Stage& stage) : stage_(stage), s_(std::make_unique<State>()) {}

HeadlessMenus::~HeadlessMenus() {
  if (!sprite_) return;
  std::lock_guard lock(stage_.compositor().Lock());
  stage_.compositor().Remove(*sprite_, false);
}

void HeadlessMenus::ShowBar(std::vector<FrameMenuEntry> entries, std::function<void(uint16_t)> chosen) {
  std::lock_guard lock(lock_);
  s_->bar.LayOut(entries, true, SystemMenuFont(), Cp1252ToUnicode);
  s_->hasBar = true;
  // The bar lies above the stage; its lists open onto it.
  const int barHeight = s_->bar.Empty() ? 0 : s_->bar.Nodes().front().box.Height();
  s_->bar.KeepInside(stage_.ClientRect().Offset(0, barHeight));
  s_->barInUse = false;
  s_->chosen = std::move(chosen);
}

void HeadlessMenus::RemoveBar() {
  Rect before;
  {
    std::lock_guard lock(lock_);
    before = s_->barInUse ? s_->bar.ShownArea().Offset(Origin().x, Origin().y) : Rect{};
    s_->hasBar = s_->barInUse = false;
    s_->bar = MenuLists();
    s_->chosen = nullptr;
  }
  Redraw(before);
}

void HeadlessMenus::OpenPopup(std::vector<FrameMenuEntry> entries, Point at, std::function<void(uint16_t)> ended) {
  {
    std::lock_guard lock(lock_);
    s_->popup.LayOut(entries, false, SystemMenuFont(), Cp1252ToUnicode);
    s_->popupOpen = true;
    s_->barInUse = false;
    s_->bar.CloseAll();
    // Moved in to lie on the stage where it can, as a pop-up keeps to the screen.
    const Rect list = s_->popup.ShownArea();
    const Rect stage = stage_.ClientRect();
    s_->popupAt = {std::max(0, std::min(at.x, stage.right - list.Width())),
                   std::max(0, std::min(at.y, stage.bottom - list.Height()))};
    s_->popup.KeepInside(stage.Offset(-s_->popupAt.x, -s_->popupAt.y));
    s_->ended = std::move(ended);
  }
  Redraw({});
}

void HeadlessMenus::CancelPopup() {
  Rect before;
  {
    std::lock_guard lock(lock_);
    if (!s_->popupOpen) return;
    before = s_->popup.ShownArea().Offset(s_->popupAt.x, s_->popupAt.y);
    s_->popupOpen = false;
    s_->ended = nullptr;
  }
  Redraw(before);
}

MenuLists* HeadlessMenus::Active() {
  if (s_->popupOpen) return &s_->popup;
  if (s_->hasBar && s_->barInUse) return &s_->bar;
  return nullptr;
}

// The bar's bottom edge is the stage's top: its lists open onto the stage.
Point HeadlessMenus::Origin() const {
  if (s_->popupOpen) return s_->popupAt;
  const int barHeight = s_->bar.Empty() ? 0 : s_->bar.Nodes().front().box.Height();
  return {0, -barHeight};
}

std::function<void()> HeadlessMenus::Finish(uint16_t id) {
  if (s_->popupOpen) {
    s_->popupOpen = false;
    auto ended = std::move(s_->ended);
    s_->ended = nullptr;
    return ended ? std::function<void()>([ended, id] { ended(id); }) : nullptr;
  }
  s_->barInUse = false;
  s_->bar.CloseAll();
  if (!id || !s_->chosen) return nullptr;
  auto chosen = s_->chosen;
  return [chosen, id] { chosen(id); };
}

void HeadlessMenus::Redraw(const Rect& before) {
  Rect now;
  bool open;
  {
    std::lock_guard lock(lock_);
    MenuLists* active = Active();
    open = active != nullptr;
    if (active) now = active->ShownArea().Offset(Origin().x, Origin().y);
  }
  Compositor& c = stage_.compositor();
  std::lock_guard stageLock(c.Lock());
  if (open && !sprite_) {
    sprite_ = std::make_unique<PaintedSprite>(*this, c.Format());
    const Rect all = stage_.ClientRect();
    sprite_->Setup(all, all, kMenuLayer, false, ColorRef(), 0, static_cast<uint16_t>(stage_.settings().exitKey));
    c.Add(*sprite_, false);
  } else if (!open && sprite_) {
    c.Remove(*sprite_, false);
    sprite_.reset();
  }
  // Widened by the lists' frames.
  const Rect changed = before.IsEmpty() ? now : now.IsEmpty() ? before : before.Union(now);
  if (!changed.IsEmpty()) c.Update({changed.left - 2, changed.top - 2, changed.right + 2, changed.bottom + 2});
}

void HeadlessMenus::PaintSprite(PlayContext*, StageSprite&, DrawTarget& target, const Rect& clip) {
  std::lock_guard lock(lock_);
  MenuLists* active = Active();
  if (!active) return;
  TargetPainter painter(target, clip);
  active->Paint(painter.painter(), Origin());
}

bool HeadlessMenus::Offer(Input kind, uint32_t key, uint32_t modifiers, Point at) {
  std::function<void()> after;
  Rect before;
  bool taken = false;
  {
    std::lock_guard lock(lock_);
    MenuLists* active = Active();
    if (active) before = active->ShownArea().Offset(Origin().x, Origin().y);
    if (!active && s_->hasBar && kind == Input::kDown && at.y < 0) {
      // A press on the bar opens the item's list.
      const Point o = Origin();
      if (const int node = s_->bar.NodeAt({at.x - o.x, at.y - o.y}); node >= 0) {
        s_->barInUse = true;
        s_->bar.Select(node);
      }
      taken = true;
    } else if (active && (kind == Input::kMove || kind == Input::kDown || kind == Input::kUp)) {
      const Point o = Origin();
      const int node = active->NodeAt({at.x - o.x, at.y - o.y});
      taken = true;
      if (node < 0) {
        // A press outside every list dismisses the menus and is swallowed.
        if (kind == Input::kDown) {
          active->CloseAll();
          after = Finish(0);
        }
      } else if (!active->Nodes()[node].separator) {
        active->Select(node);
        const MenuNode& n = active->Nodes()[node];
        if (kind == Input::kUp && n.children.empty() && !n.grayed) after = Finish(n.id);
      }
    } else if (kind == Input::kKeyDown) {
      taken = active || (s_->hasBar && ((modifiers & kAlt) || key == kVkF10));
      if (taken) after = Key(key, modifiers);
    } else if (kind == Input::kKeyUp) {
      taken = active != nullptr;
    }
  }
  if (taken) Redraw(before);
  if (after) after();
  return taken;
}

// Keyboard moves in menu mode; the lock is held.
std::function<void()> HeadlessMenus::Key(uint32_t key, uint32_t modifiers) {
  MenuLists* active = Active();
  if (!active) {
    // Alt with an item's letter opens it; F10 marks the first item.
    int node = key == kVkF10 ? (s_->bar.Empty() ? -1 : 0) : IsLetter(key) ? s_->bar.Mnemonic(-1, char(key)) : -1;
    if (node < 0) return nullptr;
    s_->barInUse = true;
    const int first = key == kVkF10 ? -1 : s_->bar.FirstChild(node);
    s_->bar.Select(first >= 0 ? first : node);
    return nullptr;
  }
  const bool isBar = active == &s_->bar;
  const std::vector<MenuNode>& nodes = active->Nodes();
  const int cur = active->Current();
  if (cur < 0) {
    // Nothing marked yet (a pop-up just opened): a move marks its first item.
    if (key == kVkEscape) return Finish(0);
    if (key == kVkUp || key == kVkDown || key == kVkLeft || key == kVkRight || key == kVkReturn) {
      for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].parent < 0 && !nodes[i].separator) {
          active->Select(int(i));
          break;
        }
      return nullptr;
    }
  }
  const MenuNode* n = cur >= 0 ? &nodes[cur] : nullptr;
  const bool onBar = isBar && n && n->parent < 0;
  // The top-level item a bar's drop-down belongs to.
  int top = cur;
  while (top >= 0 && nodes[top].parent >= 0) top = nodes[top].parent;
  auto open = [&](int item) {
    if (item < 0) return;
    const int child = active->FirstChild(item);
    active->Select(child >= 0 ? child : item);
  };
  if (n) switch (key) {
    case kVkEscape:
      // Closes the innermost list; from the top list, the menus.
      if (n->parent >= 0) {
        active->Select(n->parent, false);
        return nullptr;
      }
      active->CloseAll();
      return Finish(0);
    case kVkUp:
    case kVkDown:
      if (onBar) {
        if (key == kVkDown) open(cur);
      } else {
        active->Select(active->Neighbour(cur, key == kVkDown ? 1 : -1));
      }
      return nullptr;
    case kVkRight:
      if (!onBar && !n->children.empty())
        open(cur);
      else if (isBar)
        open(active->Neighbour(top, 1));
      return nullptr;
    case kVkLeft:
      if (n->parent >= 0 && !(isBar && nodes[n->parent].parent < 0))
        active->Select(n->parent, false);
      else if (isBar)
        open(active->Neighbour(top, -1));
      return nullptr;
    case kVkReturn:
      if (!n->children.empty()) {
        open(cur);
        return nullptr;
      }
      if (n->grayed) return nullptr;
      active->CloseAll();
      return Finish(n->id);
    default:
      break;
  }
  if (!IsLetter(key) || (modifiers & ~(kShift | kAlt))) return nullptr;
  // A letter picks the item of the innermost open list that it marks.
  const int list = !n ? -1 : onBar ? cur : n->parent;
  const int picked = active->Mnemonic(list, char(key));
  if (picked < 0) return nullptr;
  if (!nodes[picked].children.empty()) {
    open(picked);
    return nullptr;
  }
  if (nodes[picked].grayed) return nullptr;
  active->CloseAll();
  return Finish(nodes[picked].id);
}

}  // namespace kv
