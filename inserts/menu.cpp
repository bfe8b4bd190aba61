#include "inserts/menu.h"

#include <type_traits>
#include <unordered_set>
#include <utility>

#include <algorithm>
#include <exception>

#include "engine/commands.h"
#include "engine/events.h"
#include "engine/flow.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/request.h"
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

std::vector<FrameMenuEntry> MenuEntries(const CSubMenu& list) {
  std::vector<FrameMenuEntry> entries;
  for (const auto& item : list.items) {
    FrameMenuEntry e;
    e.text = item->text;
    e.id = item->commandId;
    if (item->separator) {
      e.separator = true;
    } else if (!item->subItems.items.empty()) {
      e.sub = MenuEntries(item->subItems);
    } else {
      e.checked = item->checked != 0;
      e.grayed = item->grayed != 0;
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

// ---------------------------------------------------------------- CMenuObj

CMenuObj::~CMenuObj() { ReleaseActive(); }

void CMenuObj::Reset() {
  ReleaseActive();
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CMenuObj::CopyFrom(const CInsert& other) {
  ReleaseActive();
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CMenuObj>(other));
  storedMenu.owner.reset();
}

// The menu's own version word comes before the base parts.
template <class W>
void CMenuObj::Walk(W& w) {
  w.Version("menuVersion", menuVersion, 1, 1, "CMenuObj");
  w.Base(static_cast<CVisibleInsert&>(*this));  // loading resets every field first
  w.Embedded("storedMenu", storedMenu);
}

KV_FIELD_WALK_IO(CMenuObj)


void CMenuObj::Prepare(PlayContext& ctx) {
  CVisibleInsert::Prepare(ctx);
  std::lock_guard lock(StageLock());
  if (activeMenu) return;
  activeMenu = std::make_unique<CMenuDefinition>(VisibleMenu(storedMenu));
  activeMenu->owner = std::static_pointer_cast<CMenuObj>(shared_from_this());
  lists_ = MenuLists();
}

std::unique_ptr<StageSprite> CMenuObj::MakeSprite(Stage& stage) {
  Prepare(stage.context());
  {
    std::lock_guard lock(StageLock());
    if (activeMenu->windowMenu) return nullptr;  // the frame shows it
    lists_.LayOut(MenuEntries(activeMenu->topItems), true,
                  activeMenu->menuFont.useDefault ? SystemMenuFont() : MatchFont(activeMenu->menuFont),
                  DecoderOf(activeMenu->menuFont));
    const Rect extent = lists_.Extent();
    // The sprite covers every list that can open; only shown items draw and hit.
    rect = {rect.left, rect.top, rect.left + std::max(1, extent.right), rect.top + std::max(1, extent.bottom)};
  }
  return MakePaintedSprite(*this, *this, stage);
}

void CMenuObj::PaintSprite(PlayContext*, StageSprite& sprite, DrawTarget& target, const Rect& clip) {
  const Rect shown = sprite.DisplayedRect();
  TargetPainter painter(target, clip);
  lists_.Paint(painter.painter(), {shown.left, shown.top});
}

bool CMenuObj::HitsAt(const StageSprite& sprite, int x, int y) const {
  const Rect shown = sprite.DisplayedRect();
  return lists_.NodeAt({x - shown.left, y - shown.top}) >= 0;
}

void CMenuObj::HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) {
  StageSprite* sprite = GetSprite();
  uint16_t chosen = 0;
  bool choose = false;
  if (sprite && (eventCode == event::kCursorEntering || eventCode == event::kCursorMoving ||
                 eventCode == event::kCursorLeaving || eventCode == event::kLeftButtonReleased)) {
    std::lock_guard lock(StageLock());
    const Rect before = lists_.ShownArea();
    const Rect shown = sprite->DisplayedRect();
    if (eventCode == event::kCursorLeaving) {
      lists_.CloseAll();
    } else if (const int node = lists_.NodeAt({at.x - shown.left, at.y - shown.top});
               node >= 0 && !lists_.Nodes()[node].separator) {
      lists_.Select(node);
      const MenuNode& n = lists_.Nodes()[node];
      // A disabled item is drawn so and cannot be chosen.
      if (eventCode == event::kLeftButtonReleased && n.children.empty() && !n.grayed) {
        choose = true;
        chosen = n.id;
        lists_.CloseAll();
      }
    }
    const Rect after = lists_.ShownArea();
    Rect changed = before.IsEmpty() ? after : after.IsEmpty() ? before : before.Union(after);
    // Widened by two border widths, as the list frames reach.
    if (!changed.IsEmpty() && sprite->onStage && sprite->compositor)
      sprite->compositor->Update({shown.left + changed.left - 2, shown.top + changed.top - 2,
                                  shown.left + changed.right + 2, shown.top + changed.bottom + 2});
  }
  if (choose) ChooseItem(ctx, chosen);
  CVisibleInsert::HandleStageEventAt(ctx, eventCode, at);
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

bool CMenuObj::ChooseItem(PlayContext& ctx, uint16_t commandId) {
  Runner* runner = ctx.stage ? &ctx.runner : nullptr;
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

// ---------------------------------------------------------------- window menus

void CMenuObj::PutOnStage(PlayContext& ctx) {
  Prepare(ctx);
  bool window;
  {
    std::lock_guard lock(StageLock());
    window = activeMenu->windowMenu != 0;
  }
  if (!window) {
    CVisibleInsert::PutOnStage(ctx);
    RedrawNow(GetSprite());
    return;
  }
  ShowWindowMenu(ctx);
}

void CMenuObj::ShowWindowMenu(PlayContext& ctx) {
  Runner& runner = ctx.runner;
  FrameMenus* menus = ctx.stage->GetFrameMenus();
  if (!menus)
    throw KVRunException(sid::kFunctionNotImplemented,
                         "Menu \"" + name + "\": this player has no window menus (no frame menus)");
  auto self = std::static_pointer_cast<CMenuObj>(shared_from_this());
  std::vector<FrameMenuEntry> entries;
  bool popup;
  {
    std::lock_guard lock(StageLock());
    popup = activeMenu->popup != 0;
    entries = MenuEntries(activeMenu->topItems);
  }
  if (!popup) {
    // A bar displaces the menu that holds the frame's bar; its own thread
    // takes it down, and this one waits for that in 10 ms steps.
    if (std::shared_ptr<CMenuObj> holder = ctx.stage->BarHolder(); holder && holder != self) {
      // "KV_KILLMENU" to the holder's thread: it hides the holder, which
      // takes its bar down.
      ScriptThreadContext* owner = runner.ThreadOf(*holder);
      if (owner && owner != ScriptThreadContext::Current()) {
        auto kill = std::make_unique<Request>();
        kill->code = command::kRemoveThisObject;
        kill->source = holder;
        runner.PostRequest(owner, std::move(kill), false);
        // Bounded: a holder whose thread has stopped serving is taken down here.
        for (int step = 0; step < 200 && ctx.stage->CurrentMenu() == holder && !runner.shuttingDown; ++step)
          runner.PumpMessage(true, runner.Now() + 10);
      }
      if (ctx.stage->CurrentMenu() == holder) holder->KillMenu(ctx);
    }
    ctx.stage->SetBarHolder(self);
    frameHeld_ = true;
    frameStage_ = ctx.stage;
  }
  if (ctx.stage->HasMenuBar() || ctx.stage->CurrentMenu()) return;
  runner.RaiseEvent(*this, event::kOnStage, 0, nullptr);
  runner.RaiseEvent(*this, event::kShown, 0, nullptr);
  ctx.stage->SetCurrentMenu(self);
  frameHeld_ = true;
  frameStage_ = ctx.stage;
  Stage* at = ctx.stage;
  if (!popup) {
    ctx.stage->SetHasMenuBar(true);
    barShown_ = true;
    menus->ShowBar(std::move(entries), [at](uint16_t id) { at->MenuCommand(id); });
    return;
  }
  // The pop-up is tracked by a thread of its own, which a hide before it
  // starts keeps from opening.
  if (popupThread_.joinable()) popupThread_.join();
  auto track = std::make_shared<PopupTrack>();
  popup_ = track;
  popupState_ = kPopupNotStarted;
  const Point pointer = ctx.stage->Pointer();
  std::weak_ptr<CMenuObj> weak = self;
  Clock& clock = runner.clock();
  clock.Join(track->opening);
  popupThread_ = std::thread([this, menus, at, pointer, weak, track, &clock, entries = std::move(entries)]() mutable {
    int expected = kPopupNotStarted;
    if (!popupState_.compare_exchange_strong(expected, kPopupTracking)) {
      clock.Leave(track->opening);
      popupState_ = kPopupFinished;
      return;
    }
    menus->OpenPopup(std::move(entries), pointer, [at, weak, track](uint16_t id) {
      // On the run's main thread, possibly after the menu was hidden.
      {
        std::lock_guard lock(track->lock);
        if (track->done) return;
        track->done = true;
      }
      track->ended.notify_all();
      if (id && !weak.expired()) at->MenuCommand(id);
    });
    clock.Leave(track->opening);
    std::unique_lock lock(track->lock);
    track->ended.wait(lock, [&] { return track->done; });
    // A hide that raced the opening: the pop-up it could not reach goes now.
    if (track->cancelled) menus->CancelPopup();
    popupState_ = kPopupFinished;
  });
}

void CMenuObj::HideWindowMenu() {
  Stage* stage = frameStage_;
  if (!stage) return;
  FrameMenus* menus = stage->GetFrameMenus();
  if (popupThread_.joinable()) {
    int expected = kPopupNotStarted;
    if (!popupState_.compare_exchange_strong(expected, kPopupCancelRequested)) {
      // Tracking: the frame dismisses it and the thread is released at once.
      {
        std::lock_guard lock(popup_->lock);
        popup_->done = true;
        popup_->cancelled = true;
      }
      popup_->ended.notify_all();
      if (menus) menus->CancelPopup();
    }
    popupThread_.join();
  }
  if (barShown_) {
    barShown_ = false;
    if (!weak_from_this().expired()) stage->runner().RaiseEvent(*this, event::kOffStage, 0, nullptr);
    if (menus) menus->RemoveBar();
    stage->SetHasMenuBar(false);
  }
  stage->ForgetMenu(this);
  frameHeld_ = false;
  frameStage_ = nullptr;
}

void CMenuObj::KillMenu(PlayContext& ctx) {
  HideWindowMenu();
  Hide(ctx);
}

void CMenuObj::Hide(PlayContext& ctx) {
  // The frame's menu goes with the object: a hidden menu is not left usable.
  if (frameHeld_ || popupThread_.joinable()) HideWindowMenu();
  TakeOffAndDropSprite(ctx);
}

void CMenuObj::ReleaseActive() {
  // Only a menu the frame holds touches the stage: at the end of a run the
  // stage lets go of its menus before it goes.
  if (frameHeld_ || popupThread_.joinable()) HideWindowMenu();
  std::lock_guard lock(StageLock());
  lists_ = MenuLists();
  activeMenu.reset();
}

}  // namespace kv
