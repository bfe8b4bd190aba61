#include "inserts/menu.h"

#include <type_traits>
#include <unordered_set>
#include <utility>

#include "persist/field_walk.h"

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

void CMenuObj::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  activeMenu.reset();
}

void CMenuObj::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CMenuObj>(other));
  storedMenu.owner.reset();
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

}  // namespace kv
