// Menus: the menu insert CMenuObj and the definition it holds, a tree of
// CMenuItem objects in CSubMenu lists, presented as a stage menu, a window
// menu bar or a pop-up menu.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "inserts/kvfont.h"
#include "inserts/menu_lists.h"
#include "inserts/painted_sprite.h"
#include "inserts/visible_insert.h"

namespace kv {

class CMenuItem;
class CMenuObj;

// An ordered list of items; the top list of a definition lays out
// horizontally, every sub-list vertically.
class CSubMenu : public CObject {
  KV_DECLARE_CLASS(CSubMenu)
 public:
  uint16_t listVersion = 0;  // version read; always 1
  std::vector<std::shared_ptr<CMenuItem>> items;
  bool horizontal = false;  // not stored

  CSubMenu() = default;
  // Deep: the copy owns copies of every item and their sub-items.
  CSubMenu(const CSubMenu& other);
  CSubMenu& operator=(const CSubMenu& other);

  // The record: the items as objects (which carry no data there), then each
  // item's own record in list order.
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;

  // Nesting depth of sub-lists on both reading and writing; no authored
  // menu comes near it, and hostile input must not exhaust the stack.
  static constexpr int kMaxDepth = 32;
  // Items in one menu, all lists together: the command ids 10000 to 10499
  // give no more, and the bound keeps a hostile file's tree small.
  static constexpr int kMaxItems = 500;
};

class CMenuItem : public CObject {
  KV_DECLARE_CLASS(CMenuItem)
 public:
  uint16_t itemVersion = 0;  // version read; always 1
  uint32_t itemValue = 0;
  std::string text;
  uint8_t checked = 0;
  uint8_t grayed = 0;
  uint16_t commandId = 0;  // 10000 to 10499; also the system menu item id
  uint8_t hasSubItems = 0;
  uint8_t separator = 0;
  uint8_t visible = 0;  // only visible items appear at run time
  uint16_t command = 0;  // flow command code run when chosen
  std::string argument;
  CSubMenu subItems;

  // As an object the item stores nothing: its list writes its record.
  template <class W>
  void Walk(W& w);
  void Serialize(Archive&) override {}
  void DescribeFields(FieldVisitor& v) override;

 private:
  friend class CSubMenu;
  // Set once this item's record has been read, so that a second list naming
  // it, in this menu or another one of the file, is refused.
  bool recordRead_ = false;
};

class CMenuDefinition : public CObject {
  KV_DECLARE_CLASS(CMenuDefinition)
 public:
  uint16_t definitionVersion = 0;  // version read; always 1
  uint8_t windowMenu = 0;  // 1 system menu bar or pop-up; 0 stage menu
  CKVFont menuFont;
  uint8_t popup = 0;
  int32_t originX = 0;
  int32_t originY = 0;
  CSubMenu topItems;
  std::weak_ptr<CMenuObj> owner;  // not stored

  CMenuDefinition() { topItems.horizontal = true; }
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

// Command ids of menu items; a window menu's item ids too.
inline constexpr uint16_t kFirstMenuCommandId = 10000;
inline constexpr uint16_t kLastMenuCommandId = 10499;

// An item's text without its "&" accelerator marks ("&&" is one "&").
std::string WithoutAcceleratorMarks(const std::string& text);

// A copy of `stored` keeping only the items with `visible` set, at every level.
CMenuDefinition VisibleMenu(const CMenuDefinition& stored);

// The entries of a list for the frame's system menus and for laying a
// stage menu out: separators, items that open a list (their own check and
// disable marks are not applied), and the rest by command id.
std::vector<FrameMenuEntry> MenuEntries(const CSubMenu& list);

class CMenuObj : public CVisibleInsert, public SelfPainting {
  KV_DECLARE_CLASS(CMenuObj)
 public:
  uint16_t menuVersion = 0;  // version read; always 1
  CMenuDefinition storedMenu;
  std::unique_ptr<CMenuDefinition> activeMenu;  // built from storedMenu when prepared

  ~CMenuObj() override;
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  // A menu's items are chosen by their own command ids, never by hotkeys.
  bool HasHotkey(uint32_t, uint32_t) const override { return false; }

  // --- playing
  // Builds activeMenu from the visible items of storedMenu when there is none.
  void Prepare(PlayContext& ctx) override;
  // A stage menu goes on the stage as any object; a window menu attaches
  // its bar to the frame or opens its pop-up at the pointer.
  void PutOnStage(PlayContext& ctx) override;
  // Off the stage; a shown bar is removed and an open pop-up dismissed.
  void Hide(PlayContext& ctx) override;
  void StageGone() override { frameStage_ = nullptr; }
  // "KV_KILLMENU": the menu hides what it shows and leaves the stage.
  void KillMenu(PlayContext& ctx);
  void HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) override;
  // Runs the command of the item with `commandId` (depth-first, the first
  // one) as the one handler of 9018 on the menu's owner; false when no item
  // has it or the menu has no owner.
  bool ChooseItem(PlayContext& ctx, uint16_t commandId);

  // SelfPainting: the shown items of a stage menu, and hits on them only.
  void PaintSprite(PlayContext*, StageSprite& sprite, DrawTarget& target, const Rect& clip) override;
  bool HitsAt(const StageSprite& sprite, int x, int y) const override;

  // The pop-up's tracking: not started, finished, tracking, cancel requested.
  enum PopupState : int { kPopupNotStarted = 0, kPopupFinished = 1, kPopupTracking = 2, kPopupCancelRequested = 3 };
  int PopupStateNow() const { return popupState_.load(); }

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  void ShowWindowMenu(PlayContext& ctx);
  // Takes a shown bar off the frame or ends a pop-up's tracking.
  void HideWindowMenu();
  // Drops activeMenu and what it shows.
  void ReleaseActive();
  // The stage menu's lists, laid out when the sprite is made; guarded by the stage lock.
  MenuLists lists_;
  // A window menu's state.
  bool barShown_ = false;
  bool frameHeld_ = false;  // the stage records this menu as current or as the bar's holder
  // The stage whose frame shows this menu, from the show until the frame lets
  // it go (or the stage goes): what a hide, a reset or the end of the object
  // takes the menu off, with or without a run at hand.
  Stage* frameStage_ = nullptr;
  std::atomic<int> popupState_{kPopupNotStarted};
  std::thread popupThread_;
  // Shared with the frame's answer, which may come after the menu has gone.
  struct PopupTrack {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;       // guarded by lock
    bool cancelled = false;  // done by a hide, not by the frame
    // Holds a virtual clock still until the pop-up is open, so input the
    // run is given next finds it.
    Waiter opening;
  };
  std::shared_ptr<PopupTrack> popup_;
};

}  // namespace kv
