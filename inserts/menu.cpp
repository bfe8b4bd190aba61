#include "inserts/menu.h"

#include <unordered_set>
#include <utility>

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CSubMenu, CObject, kVersionable | 0)
KV_IMPLEMENT_CLASS(CMenuItem, CObject, kVersionable | 0)
KV_IMPLEMENT_CLASS(CMenuDefinition, CObject, kVersionable | 0)
KV_IMPLEMENT_CLASS(CMenuObj, CVisibleInsert, kVersionable | 0)

// One pass over a menu tree. Every item must appear once: an item listed
// twice would have its record read twice, and one listed inside itself
// would make the tree a cycle. Writing checks the tree; reading checks each
// item's own mark, which also catches an item shared with another menu.
struct MenuTreeIo {
  Archive& ar;
  std::unordered_set<const CMenuItem*> written;
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

void CSubMenu::SerializeList(MenuTreeIo& io, int depth) {
  Archive& ar = io.ar;
  if (depth > kMaxDepth) ar.Fail(CArchiveException::badIndex, "menu items nested too deeply");
  uint16_t v = ar.Version(1, 1, "CSubMenu");
  if (ar.IsLoading()) {
    listVersion = v;
    items.clear();
    for (ObjectPtr& p : ar.ReadObjectList(&CMenuItem::StaticClass())) {
      if (!p) ar.Fail(CArchiveException::badIndex, "null menu item");
      items.push_back(std::static_pointer_cast<CMenuItem>(p));
    }
  } else {
    ar.WriteCount(items.size());
    for (const auto& item : items) {
      if (!item) ar.Fail(CArchiveException::genericException, "null menu item");
      ar.WriteObject(item.get());
    }
  }
  for (const auto& item : items) {
    bool again = ar.IsLoading() ? std::exchange(item->recordRead_, true) : !io.written.insert(item.get()).second;
    if (again) ar.Fail(CArchiveException::badIndex, "menu item listed twice");
    item->SerializeRecord(io, depth);
  }
}

void CSubMenu::Serialize(Archive& ar) {
  MenuTreeIo io{ar, {}};
  SerializeList(io, 0);
}

void CSubMenu::DescribeFields(FieldVisitor& v) {
  v.Field("listVersion", listVersion);
  v.Objects("items", items);
}

void CMenuItem::SerializeRecord(MenuTreeIo& io, int depth) {
  Archive& ar = io.ar;
  uint16_t v = ar.Version(1, 1, "CMenuItem");
  if (ar.IsLoading()) itemVersion = v;
  ar.Io(itemValue);
  ar.Io(text);
  ar.Io(checked);
  ar.Io(grayed);
  ar.Io(commandId);
  ar.Io(hasSubItems);
  ar.Io(separator);
  ar.Io(visible);
  ar.Io(command);
  ar.Io(argument);
  subItems.SerializeList(io, depth + 1);
}

void CMenuItem::DescribeFields(FieldVisitor& v) {
  v.Field("itemVersion", itemVersion);
  v.Field("itemValue", itemValue);
  v.Field("text", text);
  v.Field("checked", checked);
  v.Field("grayed", grayed);
  v.Field("commandId", commandId);
  v.Field("hasSubItems", hasSubItems);
  v.Field("separator", separator);
  v.Field("visible", visible);
  v.Field("command", command);
  v.Field("argument", argument);
  v.BeginGroup("subItems");
  subItems.DescribeFields(v);
  v.EndGroup();
}

void CMenuDefinition::Serialize(Archive& ar) {
  uint16_t v = ar.Version(1, 1, "CMenuDefinition");
  if (ar.IsLoading()) definitionVersion = v;
  ar.Io(popup);
  ar.Io(originX);
  ar.Io(originY);
  ar.Io(windowMenu);
  menuFont.Serialize(ar);
  topItems.Serialize(ar);
}

void CMenuDefinition::DescribeFields(FieldVisitor& v) {
  v.Field("definitionVersion", definitionVersion);
  v.Field("popup", popup);
  v.Field("originX", originX);
  v.Field("originY", originY);
  v.Field("windowMenu", windowMenu);
  menuFont.DescribeAs(v, "menuFont");
  v.BeginGroup("topItems");
  topItems.DescribeFields(v);
  v.EndGroup();
}

void CMenuObj::Reset() {
  CVisibleInsert::Reset();
  menuVersion = 0;
  storedMenu = CMenuDefinition();
  activeMenu.reset();
}

void CMenuObj::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  const auto& o = Same<CMenuObj>(other);
  menuVersion = o.menuVersion;
  storedMenu = o.storedMenu;
  storedMenu.owner.reset();
  activeMenu.reset();
}

// The menu's own version word comes before the base parts.
void CMenuObj::Serialize(Archive& ar) {
  uint16_t v = ar.Version(1, 1, "CMenuObj");
  CVisibleInsert::Serialize(ar);  // loading resets every field first
  if (ar.IsLoading()) menuVersion = v;
  storedMenu.Serialize(ar);
}

void CMenuObj::DescribeFields(FieldVisitor& v) {
  v.Field("menuVersion", menuVersion);
  CVisibleInsert::DescribeFields(v);
  v.BeginGroup("storedMenu");
  storedMenu.DescribeFields(v);
  v.EndGroup();
}

}  // namespace kv
