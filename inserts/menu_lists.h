// Menus the player draws itself: a stage menu's bar and lists, and the
// headless stand-in for the frame's system menus. Lays the entries out from
// the font's measures, keeps which lists are open and which items are
// marked, hit-tests and paints them. Used by inserts/menu.cpp and
// inserts/headless_menus.cpp; callers serialise access.
#pragma once

#include <QFont>
#include <QPainter>
#include <functional>
#include <string>
#include <vector>

#include "inserts/text_layout.h"
#include "platform/geometry.h"
#include "stage/frame_menus.h"

namespace kv {

// One laid-out item: its entry's fields, its place relative to the menu's
// origin, and whether it shows and is marked.
struct MenuNode {
  std::string text;
  uint16_t id = 0;
  bool separator = false;
  bool checked = false;
  bool grayed = false;
  int parent = -1;  // index of the parent node; -1 in the top list
  std::vector<int> children;
  Rect box;
  bool shown = false;
  bool highlighted = false;
};

// Lays entries out: the top list left to right for a bar (top to bottom for
// a pop-up), every sub-list top to bottom below a bar item or beside a list
// item. An item is its text's one-line size (a stand-in text for an empty
// one and a separator), three times as high (a quarter for a separator in a
// vertical list), 1.15 characters wider; vertical-list items have room for
// a check mark and, when they open a list, for its arrow. `measure` gives a
// text's rectangle; `charWidth` and `charHeight` are the font's average
// character width and height.
std::vector<MenuNode> LayOutMenuEntries(const std::vector<FrameMenuEntry>& entries, bool bar, int charWidth,
                                        int charHeight, const std::function<Rect(const std::string&)>& measure);

// The system's menu font: 8 points at 96 dpi in the desktop's face.
QFont SystemMenuFont();

class MenuLists {
 public:
  // Lays `entries` out in `font`; only the top list shows.
  void LayOut(const std::vector<FrameMenuEntry>& entries, bool bar, const QFont& font, ByteDecoder decode);
  bool Empty() const { return nodes_.empty(); }
  const std::vector<MenuNode>& Nodes() const { return nodes_; }
  // Moves lists that would cross `bounds` (in the coordinates of the menu's
  // origin) back inside where they can: a list beside its item opens on
  // the item's other side, one below the bar moves left, and a list moves
  // up to end at the bottom edge.
  void KeepInside(const Rect& bounds);
  // Every item's rectangle together, open or not.
  Rect Extent() const;
  // The shown items' rectangles together.
  Rect ShownArea() const;
  // The shown item at `p` (relative to the origin), separators included; -1 when none.
  int NodeAt(Point p) const;
  // Marks `node` and the items above it, opens the lists on that path (and
  // `node`'s own with `openOwn`) and closes the other branches.
  void Select(int node, bool openOwn = true);
  // Closes every list below the top one and unmarks every item.
  void CloseAll();
  // Draws the shown items with the top-left of the menu at `origin`.
  void Paint(QPainter& p, Point origin) const;

  // Keyboard moves over the open lists. The deepest marked item is the
  // current one; -1 when none.
  int Current() const;
  // The next item of the current item's list that is not a separator, by
  // `step` (+1 or -1), wrapping; -1 when none.
  int Neighbour(int node, int step) const;
  // The first item of `node`'s list that is not a separator, or -1.
  int FirstChild(int node) const;
  // The item of `node`'s list (or of the top list when -1) whose "&" mark
  // is `letter`, or -1.
  int Mnemonic(int parent, char letter) const;

 private:
  std::vector<MenuNode> nodes_;
  QFont font_;
  int charWidth_ = 0;
  bool bar_ = true;
  ByteDecoder decode_ = Cp1252ToUnicode;
};

}  // namespace kv
