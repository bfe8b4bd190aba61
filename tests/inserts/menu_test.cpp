// Stage menu layout and item texts, apart from the stage.
#include <gtest/gtest.h>

#include "inserts/menu.h"

namespace kv {
namespace {

std::shared_ptr<CMenuItem> Item(const std::string& text, std::vector<std::shared_ptr<CMenuItem>> sub = {},
                                uint8_t separator = 0, uint8_t visible = 1) {
  auto item = std::make_shared<CMenuItem>();
  item->text = text;
  item->separator = separator;
  item->visible = visible;
  item->subItems.items = std::move(sub);
  return item;
}

// Every text measures 6 pixels a character by 10 high, so sizes are known
// by hand: average character 5 wide and 10 high.
Rect Measure(const std::string& text) { return {0, 0, int(text.size()) * 6, 10}; }

TEST(MenuLayout, ListsAreLaidOutAsTheirLevelsSay) {
  CMenuDefinition menu;
  // "File" (Open, a separator, "More" with "Deep"), "Help".
  menu.topItems.items = {Item("File", {Item("Open"), Item("", {}, 1), Item("More", {Item("Deep")})}), Item("Help")};
  const std::vector<MenuNode> n = LayOutMenuEntries(MenuEntries(menu.topItems), true, 5, 10, Measure);
  ASSERT_EQ(n.size(), 6u);
  struct Row {
    const char* what;
    size_t node;
    Rect box;
    bool shown;
  };
  // Top items: text + 1.15 characters (5.75, truncated), 3 x 10 high.
  // Sub-items: 2 characters more for the check column, 2 more with a
  // sub-list; the list takes its widest item's width. A separator in a
  // sub-list is a quarter of "W|W" high.
  const Row rows[] = {
      {"File", 0, {0, 0, 29, 30}, true},
      {"Help", 1, {29, 0, 58, 30}, true},
      {"Open", 2, {0, 30, 49, 60}, false},
      {"separator", 3, {0, 60, 49, 62}, false},
      {"More: widest, with its arrow", 4, {0, 62, 49, 92}, false},
      {"Deep beside More", 5, {49, 62, 88, 92}, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(n[r.node].box, r.box);
    EXPECT_EQ(n[r.node].shown, r.shown);
  }
  EXPECT_EQ(n[5].parent, 4);
}

TEST(MenuLayout, ASeparatorInTheBarIsAsHighAsAnyItem) {
  CMenuDefinition menu;
  menu.topItems.items = {Item("", {}, 1), Item("Go")};
  const std::vector<MenuNode> bar = LayOutMenuEntries(MenuEntries(menu.topItems), true, 5, 10, Measure);
  ASSERT_EQ(bar.size(), 2u);
  EXPECT_EQ(bar[0].box.Height(), 30);
  EXPECT_EQ(bar[1].box.Height(), 30);
  // In a pop-up the top list is vertical: a quarter high, and the items
  // are stacked.
  const std::vector<MenuNode> popup = LayOutMenuEntries(MenuEntries(menu.topItems), false, 5, 10, Measure);
  ASSERT_EQ(popup.size(), 2u);
  EXPECT_EQ(popup[0].box, (Rect{0, 0, 33, 2}));
  EXPECT_EQ(popup[1].box, (Rect{0, 2, 33, 32}));
}

TEST(MenuEntriesTest, SystemMenuEntriesFollowTheItems) {
  auto checkedGrayed = Item("Both");
  checkedGrayed->checked = checkedGrayed->grayed = 1;
  checkedGrayed->commandId = 10007;
  auto opener = Item("Opens", {Item("Inner")});
  opener->checked = opener->grayed = 1;  // not applied to an item that opens a list
  CMenuDefinition menu;
  menu.topItems.items = {checkedGrayed, opener, Item("", {}, 1)};
  const std::vector<FrameMenuEntry> e = MenuEntries(menu.topItems);
  ASSERT_EQ(e.size(), 3u);
  EXPECT_TRUE(e[0].checked && e[0].grayed);
  EXPECT_EQ(e[0].id, 10007);
  EXPECT_FALSE(e[1].checked || e[1].grayed);
  ASSERT_EQ(e[1].sub.size(), 1u);
  EXPECT_TRUE(e[2].separator);
}

TEST(MenuLayout, OnlyVisibleItemsAreKept) {
  CMenuDefinition stored;
  stored.topItems.items = {Item("A", {Item("a1", {}, 0, 0), Item("a2")}), Item("B", {}, 0, 0)};
  const CMenuDefinition shown = VisibleMenu(stored);
  ASSERT_EQ(shown.topItems.items.size(), 1u);
  ASSERT_EQ(shown.topItems.items[0]->subItems.items.size(), 1u);
  EXPECT_EQ(shown.topItems.items[0]->subItems.items[0]->text, "a2");
  // The stored tree is left whole.
  EXPECT_EQ(stored.topItems.items[0]->subItems.items.size(), 2u);
}

TEST(MenuText, AcceleratorMarksAreRemoved) {
  const std::pair<const char*, const char*> cases[] = {
      {"&File", "File"}, {"E&xit", "Exit"}, {"Save && Quit", "Save & Quit"}, {"End&", "End"}, {"plain", "plain"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(WithoutAcceleratorMarks(in), out) << in;
}

}  // namespace
}  // namespace kv
