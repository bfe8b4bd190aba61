#include "inserts/menu.h"

#include <type_traits>
#include <unordered_set>
#include <utility>

#include <algorithm>
#include <exception>

#include "engine/events.h"
#include "engine/flow.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/trace.h"
#include "inserts/graphic.h"
#include "inserts/stage_host.h"
#include "inserts/system_colors.h"
#include "inserts/text_layout.h"
#include "persist/field_walk.h"
#include "stage/qt_painter.h"

namespace kv {

KV_IMPLEMENT_CLASS(CSubMenu, CObject, kVersionable | 0)
KV_IMPLEMENT_CLASS(CMenuItem, CObject, kVersionable | 0)
KV_IMPLEMENT_CLASS(CMenuDefinition, CObject, kVersionable | 0)
KV_IMPLEMENT_CLASS(CMenuObj, CVisibleInsert, kVersionable | 0)

// One pass over a menu tree. Every item must appear once: an item listed
// twice would have its record read twice, and one listed inside itself
// would make the tree a cycle. Writing checks the tree; reading checks each
// item's own mark, which also catches an item shared with another menu.
struct MenuTreeIo : ArchiveWalk {
  using ArchiveWalk::ArchiveWalk;
  std::unordered_set<const CMenuItem*> written;
  int depth = 0;
  size_t items = 0;
};

CSubMenu::CSubMenu(const CSubMenu& other)
    : CObject(other), listVersion(other.listVersion), horizontal(other.horizontal) {
  items.reserve(other.items.size());
  for (const auto& item : other.items) items.push_back(item ? std::make_shared<CMenuItem>(*item) : nullptr);
}

CSubMenu& CSubMenu::operator=(const CSubMenu& other) {
  if (this != &other) {
    CSubMenu copy(other);
    listVersion = copy.listVersion;
    horizontal = copy.horizontal;
    items = std::move(copy.items);
  }
  return *this;
}

template <class W>
void CSubMenu::Walk(W& w) {
  constexpr bool kTree = std::is_same_v<W, MenuTreeIo>;
  if constexpr (kTree)
    if (w.depth > kMaxDepth) w.ar.Fail(CArchiveException::badIndex, "menu items nested too deeply");
  w.Version("listVersion", listVersion, 1, 1, "CSubMenu");
  w.Objects("items", items);
  if constexpr (kTree) {
    Archive& ar = w.ar;
    w.items += items.size();
    if (w.items > size_t(kMaxItems)) ar.Fail(CArchiveException::badIndex, "more than 500 items in one menu");
    for (const auto& item : items)
      if (!item) ar.Fail(ar.IsLoading() ? CArchiveException::badIndex : CArchiveException::genericException,
                         "null menu item");
    ++w.depth;
    for (const auto& item : items) {
      bool again = ar.IsLoading() ? std::exchange(item->recordRead_, true) : !w.written.insert(item.get()).second;
      if (again) ar.Fail(CArchiveException::badIndex, "menu item listed twice");
      item->Walk(w);
    }
    --w.depth;
  }
}

void CSubMenu::Serialize(Archive& ar) {
  MenuTreeIo io(ar);
  Walk(io);
}

void CSubMenu::DescribeFields(FieldVisitor& v) {
  JsonWalk w(v);
  Walk(w);
}

template <class W>
void CMenuItem::Walk(W& w) {
  w.Version("itemVersion", itemVersion, 1, 1, "CMenuItem");
  w("itemValue", itemValue);
  w("text", text);
  w("checked", checked);
  w("grayed", grayed);
  w("commandId", commandId);
  w("hasSubItems", hasSubItems);
  w("separator", separator);
  w("visible", visible);
  w("command", command);
  w("argument", argument);
  w.Group("subItems", [&] { subItems.Walk(w); });
}

void CMenuItem::DescribeFields(FieldVisitor& v) {
  JsonWalk w(v);
  Walk(w);
}

template <class W>
void CMenuDefinition::Walk(W& w) {
  w.Version("definitionVersion", definitionVersion, 1, 1, "CMenuDefinition");
  w("popup", popup);
  w("originX", originX);
  w("originY", originY);
  w("windowMenu", windowMenu);
  w.Embedded("menuFont", menuFont);
  w.Embedded("topItems", topItems);
}

KV_FIELD_WALK_IO(CMenuDefinition)

std::string WithoutAcceleratorMarks(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') out += '&';
      ++i;
      if (i < text.size() && text[i] != '&') out += text[i];
      continue;
    }
    out += text[i];
  }
  return out;
}

namespace {

void KeepVisible(CSubMenu& list) {
  std::erase_if(list.items, [](const std::shared_ptr<CMenuItem>& item) { return !item || !item->visible; });
  for (auto& item : list.items) KeepVisible(item->subItems);
}

}  // namespace

CMenuDefinition VisibleMenu(const CMenuDefinition& stored) {
  CMenuDefinition copy(stored);
  copy.owner.reset();
  KeepVisible(copy.topItems);
  return copy;
}

// ---------------------------------------------------------------- stage menu layout

namespace {

struct MenuLayout {
  const std::function<Rect(const std::string&)>& measure;
  int charWidth, charHeight;
  std::vector<MenuNode>& nodes;

  // Adds the nodes of `list` (items only, children added by Place).
  std::vector<int> Add(const CSubMenu& list, int parent) {
    std::vector<int> ids;
    for (const auto& item : list.items) {
      MenuNode n;
      n.item = item.get();
      n.parent = parent;
      nodes.push_back(n);
      ids.push_back(int(nodes.size()) - 1);
    }
    for (size_t i = 0; i < ids.size(); ++i) nodes[ids[i]].children = Add(list.items[i]->subItems, ids[i]);
    return ids;
  }

  // An item's size: its text measured (a stand-in for an empty text and a
  // separator), three times as high (a quarter for a separator in a
  // sub-list), wider by 1.15 characters; sub-list items have room for a
  // check mark and, with sub-items, for the arrow.
  std::pair<int, int> SizeOf(const MenuNode& n, bool sub) const {
    const CMenuItem& item = *n.item;
    const Rect r = measure(item.text.empty() || item.separator ? std::string("W|W") : item.text);
    int w = r.Width(), h = r.Height();
    h = item.separator && sub ? int(h * 0.25) : h * 3;
    w = int(w + 1.15 * charWidth);
    if (sub) {
      if (item.visible) w += 2 * charWidth;
      if (!n.children.empty()) {
        w += 2 * charWidth;
        h = std::max(h, charHeight + 2);
      }
    }
    return {w, h};
  }

  void Place(const std::vector<int>& ids, Point origin, bool horizontal) {
    if (ids.empty()) return;
    std::vector<std::pair<int, int>> sizes;
    int across = 0;
    for (int id : ids) {
      sizes.push_back(SizeOf(nodes[id], !horizontal));
      across = std::max(across, horizontal ? sizes.back().second : sizes.back().first);
    }
    int at = horizontal ? origin.x : origin.y;
    for (size_t i = 0; i < ids.size(); ++i) {
      MenuNode& n = nodes[ids[i]];
      if (horizontal) {
        n.box = {at, origin.y, at + sizes[i].first, origin.y + across};
        at += sizes[i].first;
      } else {
        n.box = {origin.x, at, origin.x + across, at + sizes[i].second};
        at += sizes[i].second;
      }
    }
    for (int id : ids) {
      const Rect b = nodes[id].box;
      Place(nodes[id].children, horizontal ? Point{b.left, b.bottom} : Point{b.right, b.top}, false);
    }
  }
};

}  // namespace

std::vector<MenuNode> LayOutMenu(const CMenuDefinition& menu, int charWidth, int charHeight,
                                 const std::function<Rect(const std::string&)>& measure) {
  std::vector<MenuNode> nodes;
  MenuLayout layout{measure, charWidth, charHeight, nodes};
  const std::vector<int> top = layout.Add(menu.topItems, -1);
  layout.Place(top, {0, 0}, true);
  for (int id : top) nodes[id].shown = true;
  return nodes;
}

// ---------------------------------------------------------------- CMenuObj

void CMenuObj::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  std::lock_guard lock(StageLock());
  nodes_.clear();
  activeMenu.reset();
}

void CMenuObj::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CMenuObj>(other));
  storedMenu.owner.reset();
  std::lock_guard lock(StageLock());
  nodes_.clear();
  activeMenu.reset();
}

// The menu's own version word comes before the base parts.
template <class W>
void CMenuObj::Walk(W& w) {
  w.Version("menuVersion", menuVersion, 1, 1, "CMenuObj");
  w.Base(static_cast<CVisibleInsert&>(*this));  // loading resets every field first
  w.Embedded("storedMenu", storedMenu);
}

KV_FIELD_WALK_IO(CMenuObj)

namespace {

// The classic desktop's menu colours (0x00BBGGRR).
constexpr uint32_t kMenuColor = 0x00C8D0D4;
constexpr uint32_t kMenuTextColor = 0x00000000;
constexpr uint32_t kHighlightColor = 0x006A240A;
constexpr uint32_t kHighlightTextColor = 0x00FFFFFF;
constexpr uint32_t kGrayTextColor = 0x00808080;

// The system's menu font: 8 points at 96 dpi in the desktop's face.
QFont SystemMenuFont() {
  CKVFont menu;
  menu.useDefault = 0;
  menu.height = -11;
  menu.weight = 400;
  menu.faceName = "Tahoma";
  menu.pitchAndFamily = 0x22;  // variable pitch, swiss
  return MatchFont(menu);
}

constexpr uint32_t kMeasureFlags = draw_text::kSingleLine | draw_text::kVCenter | draw_text::kCalcRect;

}  // namespace

void CMenuObj::Prepare() {
  CVisibleInsert::Prepare();
  std::lock_guard lock(StageLock());
  if (activeMenu) return;
  activeMenu = std::make_unique<CMenuDefinition>(VisibleMenu(storedMenu));
  activeMenu->owner = std::static_pointer_cast<CMenuObj>(shared_from_this());
  nodes_.clear();
}

std::unique_ptr<StageSprite> CMenuObj::MakeSprite(Stage& stage) {
  if (storedMenu.windowMenu)
    throw KVRunException(sid::kFunctionNotImplemented,
                         "Menu \"" + name + "\": the window menu bar and the pop-up menu are not built yet");
  Prepare();
  Rect extent;
  {
    std::lock_guard lock(StageLock());
    font_ = activeMenu->menuFont.useDefault ? SystemMenuFont() : MatchFont(activeMenu->menuFont);
    const QFontMetrics metrics(font_);
    charWidth_ = metrics.averageCharWidth();
    charHeight_ = metrics.height();
    const ByteDecoder decode = DecoderOf(activeMenu->menuFont);
    nodes_ = LayOutMenu(*activeMenu, charWidth_, charHeight_, [&](const std::string& text) {
      return LayOutText(text, font_, {0, 0, 32767, 32767}, kMeasureFlags, decode).Bounds();
    });
    for (const MenuNode& n : nodes_) extent = extent.IsEmpty() ? n.box : extent.Union(n.box);
    // The sprite covers every list that can open; only shown items draw and hit.
    rect = {rect.left, rect.top, rect.left + std::max(1, extent.right), rect.top + std::max(1, extent.bottom)};
  }
  return MakePaintedSprite(*this, *this, stage);
}

void CMenuObj::Hide() { TakeOffAndDropSprite(); }

void CMenuObj::PaintSprite(StageSprite& sprite, DrawTarget& target, const Rect& clip) {
  const Rect shown = sprite.DisplayedRect();
  const Point origin{shown.left, shown.top};
  TargetPainter painter(target, clip);
  QPainter& p = painter.painter();
  const ByteDecoder decode = activeMenu ? DecoderOf(activeMenu->menuFont) : Cp1252ToUnicode;
  auto listFrame = [&](const std::vector<int>& list) {
    Rect frame;
    for (int id : list) frame = frame.IsEmpty() ? nodes_[id].box : frame.Union(nodes_[id].box);
    if (frame.IsEmpty()) return;
    p.setPen(ToQColor(syscolor::kWindowFrame));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(origin.x + frame.left, origin.y + frame.top, frame.Width() - 1, frame.Height() - 1));
  };
  std::vector<int> top;
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const MenuNode& n = nodes_[i];
    if (n.parent < 0) top.push_back(int(i));
    if (!n.shown) continue;
    const CMenuItem& item = *n.item;
    const Rect box = n.box.Offset(origin.x, origin.y);
    const bool sub = n.parent >= 0;
    const bool marked = n.highlighted && !item.separator;
    p.fillRect(ToQRect(box), ToQColor(marked ? kHighlightColor : kMenuColor));
    if (item.separator) {
      const int y = box.top + box.Height() / 2;
      p.fillRect(QRect(box.left + 1, y - 1, box.Width() - 2, 1), ToQColor(syscolor::kBtnShadow));
      p.fillRect(QRect(box.left + 1, y, box.Width() - 2, 1), ToQColor(syscolor::kBtnHighlight));
      continue;
    }
    const QColor ink = ToQColor(item.grayed ? kGrayTextColor : marked ? kHighlightTextColor : kMenuTextColor);
    const Rect textBox = sub ? Rect{box.left + 2 * charWidth_, box.top, box.right, box.bottom} : box;
    const uint32_t align = draw_text::kSingleLine | draw_text::kVCenter | (sub ? 0 : draw_text::kCenter);
    DrawLayout(p, LayOutText(item.text, font_, textBox, align, decode), font_, ink);
    if (sub && item.checked) {
      // A tick in the check column.
      const int cx = box.left + charWidth_, cy = box.top + box.Height() / 2;
      p.setPen(QPen(ink, 2));
      p.drawLine(cx - 3, cy, cx - 1, cy + 2);
      p.drawLine(cx - 1, cy + 2, cx + 3, cy - 2);
    }
    if (sub && !n.children.empty()) {
      // The arrow of an item that opens a list.
      const int ax = box.right - charWidth_ - 2, ay = box.top + box.Height() / 2;
      for (int k = 0; k < 4; ++k) p.fillRect(QRect(ax + k, ay - 3 + k, 1, 7 - 2 * k), ink);
    }
  }
  listFrame(top);
  for (const MenuNode& n : nodes_)
    if (!n.children.empty() && nodes_[n.children.front()].shown) listFrame(n.children);
}

int CMenuObj::NodeAt(const StageSprite& sprite, int x, int y) const {
  const Rect shown = sprite.DisplayedRect();
  const int rx = x - shown.left, ry = y - shown.top;
  // Later lists open over earlier ones: the deepest shown item wins.
  for (size_t i = nodes_.size(); i-- > 0;)
    if (nodes_[i].shown && nodes_[i].box.Contains(rx, ry)) return int(i);
  return -1;
}

bool CMenuObj::HitsAt(const StageSprite& sprite, int x, int y) const { return NodeAt(sprite, x, y) >= 0; }

void CMenuObj::Select(int node) {
  std::vector<bool> onPath(nodes_.size(), false);
  for (int at = node; at >= 0; at = nodes_[at].parent) onPath[at] = true;
  for (size_t i = 0; i < nodes_.size(); ++i) {
    MenuNode& n = nodes_[i];
    n.highlighted = onPath[i];
    // A list shows when it is the top list or its parent is on the path.
    n.shown = n.parent < 0 || onPath[n.parent];
  }
}

void CMenuObj::CloseAll() {
  for (MenuNode& n : nodes_) {
    n.shown = n.parent < 0;
    n.highlighted = false;
  }
}

void CMenuObj::HandleStageEventAt(uint32_t eventCode, Point at) {
  StageSprite* sprite = GetSprite(false);
  uint16_t chosen = 0;
  bool choose = false;
  if (sprite && (eventCode == event::kCursorEntering || eventCode == event::kCursorMoving ||
                 eventCode == event::kCursorLeaving || eventCode == event::kLeftButtonReleased)) {
    Rect before, after;
    {
      std::lock_guard lock(StageLock());
      auto area = [&] {
        Rect r;
        for (const MenuNode& n : nodes_)
          if (n.shown) r = r.IsEmpty() ? n.box : r.Union(n.box);
        return r;
      };
      before = area();
      const int node = eventCode == event::kCursorLeaving ? -1 : NodeAt(*sprite, at.x, at.y);
      if (eventCode == event::kCursorLeaving) {
        CloseAll();
      } else if (node >= 0 && !nodes_[node].item->separator) {
        Select(node);
        const CMenuItem& item = *nodes_[node].item;
        if (eventCode == event::kLeftButtonReleased && nodes_[node].children.empty() && !item.grayed) {
          choose = true;
          chosen = item.commandId;
          CloseAll();
        }
      }
      after = area();
      const Rect shown = sprite->DisplayedRect();
      const Rect changed = before.IsEmpty() ? after : after.IsEmpty() ? before : before.Union(after);
      // Widened by two border widths, as the list frames reach.
      if (!changed.IsEmpty() && sprite->onStage && sprite->compositor)
        sprite->compositor->Update({shown.left + changed.left - 2, shown.top + changed.top - 2,
                                    shown.left + changed.right + 2, shown.top + changed.bottom + 2});
    }
  }
  if (choose) ChooseItem(chosen);
  CVisibleInsert::HandleStageEventAt(eventCode, at);
}

namespace {

const CMenuItem* FindCommand(const CSubMenu& list, uint16_t commandId) {
  for (const auto& item : list.items) {
    if (item->commandId == commandId) return item.get();
    if (const CMenuItem* found = FindCommand(item->subItems, commandId)) return found;
  }
  return nullptr;
}

}  // namespace

bool CMenuObj::ChooseItem(uint16_t commandId) {
  Runner* runner = RunnerOf();
  std::shared_ptr<CMenuObj> owner;
  uint16_t command = 0;
  std::string argument, text;
  {
    std::lock_guard lock(StageLock());
    if (!activeMenu) return false;
    owner = activeMenu->owner.lock();
    const CMenuItem* item = FindCommand(activeMenu->topItems, commandId);
    if (!item || !owner || !runner) return false;
    command = item->command;
    argument = item->argument;
    text = item->text;
  }
  auto flow = std::make_shared<CFlow>();
  flow->command = command;
  flow->argument = argument;
  flow->commandValue = 0;
  // Exactly one handler answers the choice, however often items are chosen.
  owner->RemoveHandlers(event::kMenuItemChosen);
  owner->AddHandler(event::kMenuItemChosen, flow);
  if (TraceSink* t = runner->trace()) t->Menu(owner->name, WithoutAcceleratorMarks(text), command);
  runner->RaiseEvent(*owner, event::kMenuItemChosen, 8, flow);
  return true;
}

}  // namespace kv
