#include "inserts/menu_lists.h"

#include <algorithm>
#include <cctype>

#include "inserts/graphic.h"
#include "inserts/system_colors.h"

namespace kv {

namespace {

// The classic desktop's menu colours (0x00BBGGRR).
constexpr uint32_t kMenuColor = 0x00C8D0D4;
constexpr uint32_t kMenuTextColor = 0x00000000;
constexpr uint32_t kHighlightColor = 0x006A240A;
constexpr uint32_t kHighlightTextColor = 0x00FFFFFF;
constexpr uint32_t kGrayTextColor = 0x00808080;

constexpr uint32_t kMeasureFlags = draw_text::kSingleLine | draw_text::kVCenter | draw_text::kCalcRect;

struct Layout {
  const std::function<Rect(const std::string&)>& measure;
  int charWidth, charHeight;
  std::vector<MenuNode>& nodes;

  std::vector<int> Add(const std::vector<FrameMenuEntry>& list, int parent) {
    std::vector<int> ids;
    for (const FrameMenuEntry& e : list) {
      MenuNode n;
      n.text = e.text;
      n.id = e.id;
      n.separator = e.separator;
      n.checked = e.checked;
      n.grayed = e.grayed;
      n.parent = parent;
      nodes.push_back(std::move(n));
      ids.push_back(int(nodes.size()) - 1);
    }
    for (size_t i = 0; i < ids.size(); ++i) nodes[ids[i]].children = Add(list[i].sub, ids[i]);
    return ids;
  }

  std::pair<int, int> SizeOf(const MenuNode& n, bool vertical) const {
    const Rect r = measure(n.text.empty() || n.separator ? std::string("W|W") : n.text);
    int w = r.Width(), h = r.Height();
    h = n.separator && vertical ? int(h * 0.25) : h * 3;
    w = int(w + 1.15 * charWidth);
    if (vertical) {
      w += 2 * charWidth;
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

Rect Join(const Rect& a, const Rect& b) { return a.IsEmpty() ? b : b.IsEmpty() ? a : a.Union(b); }

// The letter after an item text's single "&", lower case; 0 when none.
char MnemonicOf(const std::string& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != '&') continue;
    if (text[i + 1] != '&') return char(std::tolower(static_cast<unsigned char>(text[i + 1])));
    ++i;
  }
  return 0;
}

}  // namespace

QFont SystemMenuFont() {
  CKVFont menu;
  menu.useDefault = 0;
  menu.height = -11;
  menu.weight = 400;
  menu.faceName = "Tahoma";
  menu.pitchAndFamily = 0x22;  // variable pitch, swiss
  return MatchFont(menu);
}

std::vector<MenuNode> LayOutMenuEntries(const std::vector<FrameMenuEntry>& entries, bool bar, int charWidth,
                                        int charHeight, const std::function<Rect(const std::string&)>& measure) {
  std::vector<MenuNode> nodes;
  Layout layout{measure, charWidth, charHeight, nodes};
  const std::vector<int> top = layout.Add(entries, -1);
  layout.Place(top, {0, 0}, bar);
  for (int id : top) nodes[id].shown = true;
  return nodes;
}

void MenuLists::LayOut(const std::vector<FrameMenuEntry>& entries, bool bar, const QFont& font, ByteDecoder decode) {
  font_ = font;
  decode_ = decode;
  bar_ = bar;
  const QFontMetrics metrics(font_);
  charWidth_ = metrics.averageCharWidth();
  nodes_ = LayOutMenuEntries(entries, bar, charWidth_, metrics.height(), [&](const std::string& text) {
    return LayOutText(text, font_, {0, 0, 32767, 32767}, kMeasureFlags, decode_).Bounds();
  });
}

void MenuLists::KeepInside(const Rect& bounds) {
  // Parents come before their lists, so a list is placed before the lists
  // that open from it.
  auto shift = [&](auto& self, int node, int dx, int dy) -> void {
    for (int c : nodes_[node].children) {
      nodes_[c].box = nodes_[c].box.Offset(dx, dy);
      self(self, c, dx, dy);
    }
  };
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const MenuNode& n = nodes_[i];
    if (n.children.empty()) continue;
    Rect list;
    for (int c : n.children) list = Join(list, nodes_[c].box);
    const bool beside = n.parent >= 0 || !bar_;
    int dx = 0, dy = 0;
    if (list.right > bounds.right) dx = beside ? n.box.left - list.Width() - list.left : bounds.right - list.right;
    if (list.left + dx < bounds.left) dx = bounds.left - list.left;
    if (list.bottom > bounds.bottom) dy = std::max(bounds.bottom - list.bottom, bounds.top - list.top);
    if (dx || dy) shift(shift, int(i), dx, dy);
  }
}

Rect MenuLists::Extent() const {
  Rect r;
  for (const MenuNode& n : nodes_) r = Join(r, n.box);
  return r;
}

Rect MenuLists::ShownArea() const {
  Rect r;
  for (const MenuNode& n : nodes_)
    if (n.shown) r = Join(r, n.box);
  return r;
}

int MenuLists::NodeAt(Point p) const {
  // Lists open over earlier ones and come later: the last shown hit wins.
  for (size_t i = nodes_.size(); i-- > 0;)
    if (nodes_[i].shown && nodes_[i].box.Contains(p.x, p.y)) return int(i);
  return -1;
}

void MenuLists::Select(int node, bool openOwn) {
  if (node < 0 || node >= int(nodes_.size())) return;
  std::vector<bool> onPath(nodes_.size(), false);
  for (int at = node; at >= 0; at = nodes_[at].parent) onPath[at] = true;
  for (size_t i = 0; i < nodes_.size(); ++i) {
    MenuNode& n = nodes_[i];
    n.highlighted = onPath[i];
    // A list shows when it is the top one or its parent is on the path.
    n.shown = n.parent < 0 || (onPath[n.parent] && (openOwn || n.parent != node));
  }
}

void MenuLists::CloseAll() {
  for (MenuNode& n : nodes_) {
    n.shown = n.parent < 0;
    n.highlighted = false;
  }
}

int MenuLists::Current() const {
  int current = -1;
  for (size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i].highlighted && (current < 0 || nodes_[i].parent == current)) current = int(i);
  return current;
}

int MenuLists::Neighbour(int node, int step) const {
  if (node < 0) return -1;
  const int parent = nodes_[node].parent;
  std::vector<int> list;
  for (size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i].parent == parent) list.push_back(int(i));
  const auto at = std::find(list.begin(), list.end(), node) - list.begin();
  const int count = int(list.size());
  for (int k = 1; k <= count; ++k) {
    const int i = list[((at + step * k) % count + count) % count];
    if (!nodes_[i].separator) return i;
  }
  return -1;
}

int MenuLists::FirstChild(int node) const {
  if (node < 0) return -1;
  for (int c : nodes_[node].children)
    if (!nodes_[c].separator) return c;
  return -1;
}

int MenuLists::Mnemonic(int parent, char letter) const {
  const char want = char(std::tolower(static_cast<unsigned char>(letter)));
  for (size_t i = 0; i < nodes_.size(); ++i)
    if (nodes_[i].parent == parent && !nodes_[i].separator && MnemonicOf(nodes_[i].text) == want) return int(i);
  return -1;
}

void MenuLists::Paint(QPainter& p, Point origin) const {
  auto listFrame = [&](int parent) {
    Rect frame;
    for (const MenuNode& n : nodes_)
      if (n.parent == parent) frame = Join(frame, n.box);
    if (frame.IsEmpty()) return;
    p.setPen(ToQColor(syscolor::kWindowFrame));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(origin.x + frame.left, origin.y + frame.top, frame.Width() - 1, frame.Height() - 1));
  };
  for (const MenuNode& n : nodes_) {
    if (!n.shown) continue;
    const Rect box = n.box.Offset(origin.x, origin.y);
    // Vertical lists have the check column and left-aligned texts.
    const bool inList = n.parent >= 0 || !bar_;
    const bool marked = n.highlighted && !n.separator;
    p.fillRect(ToQRect(box), ToQColor(marked ? kHighlightColor : kMenuColor));
    if (n.separator) {
      const int y = box.top + box.Height() / 2;
      p.fillRect(QRect(box.left + 1, y - 1, box.Width() - 2, 1), ToQColor(syscolor::kBtnShadow));
      p.fillRect(QRect(box.left + 1, y, box.Width() - 2, 1), ToQColor(syscolor::kBtnHighlight));
      continue;
    }
    const QColor ink = ToQColor(n.grayed ? kGrayTextColor : marked ? kHighlightTextColor : kMenuTextColor);
    const Rect textBox = inList ? Rect{box.left + 2 * charWidth_, box.top, box.right, box.bottom} : box;
    const uint32_t align = draw_text::kSingleLine | draw_text::kVCenter | (inList ? 0 : draw_text::kCenter);
    DrawLayout(p, LayOutText(n.text, font_, textBox, align, decode_), font_, ink);
    if (inList && n.checked) {
      // A tick in the check column.
      const int cx = box.left + charWidth_, cy = box.top + box.Height() / 2;
      p.setPen(QPen(ink, 2));
      p.drawLine(cx - 3, cy, cx - 1, cy + 2);
      p.drawLine(cx - 1, cy + 2, cx + 3, cy - 2);
    }
    if (inList && !n.children.empty()) {
      // The arrow of an item that opens a list.
      const int ax = box.right - charWidth_ - 2, ay = box.top + box.Height() / 2;
      for (int k = 0; k < 4; ++k) p.fillRect(QRect(ax + k, ay - 3 + k, 1, 7 - 2 * k), ink);
    }
  }
  std::vector<bool> framed(nodes_.size() + 1, false);
  for (const MenuNode& n : nodes_) {
    if (!n.shown || framed[size_t(n.parent + 1)]) continue;
    framed[size_t(n.parent + 1)] = true;
    listFrame(n.parent);
  }
}

}  // namespace kv
