// The scripted input's lines: each verb, its arguments and its errors.
#include "player/input_script.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

using K = InputEvent::Kind;

TEST(InputScript, KeyLinesGiveTheirHalvesKeysAndModifiers) {
  const struct {
    const char* line;
    K kind;
    uint32_t key;
    uint32_t modifiers;
    const char* text;
  } cases[] = {
      {"5 key Escape", K::kKey, 0x1B, 0, ""},
      {"5 key Ctrl+Shift+A", K::kKey, 'A', 3, ""},
      {"5 keydown Tab", K::kKeyDown, 0x09, 0, ""},
      {"5 keyup Shift+Tab", K::kKeyUp, 0x09, 1, ""},
      {"5 keydown Alt+F1", K::kKeyDown, 0x70, 4, ""},
      {"5 char two words", K::kChar, 0, 0, "two words"},
  };
  for (const auto& c : cases) {
    std::vector<InputEvent> out;
    std::string error;
    ASSERT_TRUE(ParseInputScript(c.line, out, error)) << c.line << ": " << error;
    ASSERT_EQ(out.size(), 1u) << c.line;
    EXPECT_EQ(out[0].kind, c.kind) << c.line;
    EXPECT_EQ(out[0].key, c.key) << c.line;
    EXPECT_EQ(out[0].modifiers, c.modifiers) << c.line;
    EXPECT_EQ(out[0].text, c.text) << c.line;
    EXPECT_EQ(out[0].timeMs, 5) << c.line;
  }
}

TEST(InputScript, BadKeyLinesNameTheirFault) {
  const struct {
    const char* line;
    const char* error;
  } cases[] = {
      {"1 keydown", "line 1: keydown needs a key name"},
      {"1 keyup Nokey", "line 1: unknown key \"Nokey\""},
      {"1 keydown Hyper+A", "line 1: unknown modifier \"Hyper\""},
      {"1 drop 4", "line 1: drop needs X, Y and the text"},
      {"1 drop 4 5", "line 1: drop needs the text dropped"},
      {"1 drop 4 five text", "line 1: drop needs X, Y and the text"},
  };
  for (const auto& c : cases) {
    std::vector<InputEvent> out;
    std::string error;
    EXPECT_FALSE(ParseInputScript(c.line, out, error)) << c.line;
    EXPECT_EQ(error, c.error) << c.line;
  }
}

TEST(InputScript, DropLinesCarryThePointAndTheWholeRestAsText) {
  const struct {
    const char* line;
    int x, y;
    const char* text;
  } cases[] = {
      {"7 drop 3 4 hello", 3, 4, "hello"},
      {"7 drop 10 20 /tmp/a file.txt", 10, 20, "/tmp/a file.txt"},
      // UTF-8 in the script becomes the stored code page.
      {"7 drop 0 0 caf\xC3\xA9", 0, 0, "caf\xE9"},
  };
  for (const auto& c : cases) {
    std::vector<InputEvent> out;
    std::string error;
    ASSERT_TRUE(ParseInputScript(c.line, out, error)) << c.line << ": " << error;
    ASSERT_EQ(out.size(), 1u) << c.line;
    EXPECT_EQ(out[0].kind, K::kDrop) << c.line;
    EXPECT_EQ(out[0].x, c.x) << c.line;
    EXPECT_EQ(out[0].y, c.y) << c.line;
    EXPECT_EQ(out[0].text, c.text) << c.line;
    EXPECT_EQ(out[0].timeMs, 7) << c.line;
  }
}

}  // namespace
}  // namespace kv
