// Menus: the menu insert CMenuObj and the definition it holds, a tree of
// CMenuItem objects in CSubMenu lists, presented as a stage menu, a window
// menu bar or a pop-up menu.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "inserts/kvfont.h"
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

class CMenuObj : public CVisibleInsert {
  KV_DECLARE_CLASS(CMenuObj)
 public:
  uint16_t menuVersion = 0;  // version read; always 1
  CMenuDefinition storedMenu;
  std::unique_ptr<CMenuDefinition> activeMenu;  // built from storedMenu when prepared

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  // A menu's items are chosen by their own command ids, never by hotkeys.
  bool HasHotkey(uint32_t, uint32_t) const override { return false; }
};

}  // namespace kv
