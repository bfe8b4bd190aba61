// The masked entry field's editor, without a widget: masks, typing in both
// modes, deleting over literals, the clipboard and the caret keys.
#include <gtest/gtest.h>

#include <string>

#include "editing/entry_mask.h"

namespace kv {
namespace {

using Outcome = MaskedEdit::Outcome;

// Types each character, answering the outcome of the last one.
Outcome TypeAll(MaskedEdit& e, const std::string& text) {
  Outcome last = Outcome::kDone;
  for (char c : text) last = e.Type(c);
  return last;
}

struct MaskCase {
  const char* mask;
  const char* typed;
  const char* display;  // prompt '_'
  const char* value;
};

class MaskTyping : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskTyping, ShowsAndReadsWhatWasTyped) {
  const MaskCase& c = GetParam();
  MaskedEdit e(ParseEntryMask(c.mask));
  e.promptChar = '_';
  TypeAll(e, c.typed);
  EXPECT_EQ(e.Display(), c.display);
  EXPECT_EQ(e.Value(), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    EveryClass, MaskTyping,
    ::testing::Values(
        // "9" takes digits only; the refused letters leave no trace.
        MaskCase{"999", "1a2b3", "123", "123"},
        // "A": letters and space; digits refused.
        MaskCase{"AAAA", "a1 B", "a B_", "a B"},
        // "N": letters, digits and space; punctuation refused.
        MaskCase{"NNNN", "x-9 y", "x9 y", "x9 y"},
        // "L" and "U" convert case, also for code-page letters.
        MaskCase{"LLL", "AbC", "abc", "abc"},
        MaskCase{"UUU", "a\xe9z", "A\xc9Z", "A\xc9Z"},
        MaskCase{"LL", "\xc9!", "\xe9_", "\xe9"},
        // "X": anything.
        MaskCase{"XXX", "#!?", "#!?", "#!?"},
        // The empty mask is one "X".
        MaskCase{"", "qz", "q", "q"},
        // Literals are skipped when typing and are not part of the value.
        MaskCase{"99//99//9999", "01022026", "01/02/2026", "01022026"},
        MaskCase{"$9999.99", "123456", "$1234.56", "123456"},
        MaskCase{"99:99", "9", "9_:__", "9"},
        // "/" escapes a placeholder letter into a literal.
        MaskCase{"/9-9", "5", "9-5", "5"},
        // A lone "/" at the end is a literal slash.
        MaskCase{"9/", "7", "7/", "7"},
        // Trailing spaces are dropped from the value, inner ones kept.
        MaskCase{"XXXX", "a b ", "a b ", "a b"}));

TEST(EntryMask, RefusesAnOverlongMaskAndKeepsTheFixedTypes) {
  EXPECT_THROW(ParseEntryMask(std::string(256, '9')), EntryMaskError);
  EXPECT_EQ(ParseEntryMask(std::string(255, '9')).size(), 255u);
  EXPECT_EQ(MaskOfType(0, "AA"), "AA");
  EXPECT_EQ(ParseEntryMask(MaskOfType(4, "")).size(), 10u);
  EXPECT_EQ(MaskOfType(9, "N"), "N");
}

TEST(EntryMask, PasswordHidesOnlyEnteredCharacters) {
  MaskedEdit e(ParseEntryMask("99-99"));
  e.passwordChar = '*';
  e.promptChar = '_';
  TypeAll(e, "123");
  EXPECT_EQ(e.Display(), "**-*_");
  EXPECT_EQ(e.Value(), "123");
}

struct EditCase {
  const char* name;
  const char* mask;
  const char* start;  // SetText
  bool insertMode;
  size_t anchor, caret;  // selection before the edit
  char op;               // 't' type `arg`, 'b' backspace, 'd' delete, 'p' paste `arg`
  const char* arg;
  Outcome outcome;
  const char* display;
  size_t caretAfter;
};

class MaskEditing : public ::testing::TestWithParam<EditCase> {};

TEST_P(MaskEditing, Edits) {
  const EditCase& c = GetParam();
  MaskedEdit e(ParseEntryMask(c.mask));
  e.promptChar = '_';
  e.SetText(c.start);
  e.insertMode = c.insertMode;
  e.Select(c.anchor, c.caret);
  Outcome got = Outcome::kDone;
  switch (c.op) {
    case 't': got = TypeAll(e, c.arg); break;
    case 'b': got = e.Backspace(); break;
    case 'd': got = e.Delete(); break;
    case 'p': got = e.Paste(c.arg); break;
  }
  EXPECT_EQ(got, c.outcome);
  EXPECT_EQ(e.Display(), c.display);
  EXPECT_EQ(e.Caret(), c.caretAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MaskEditing,
    ::testing::Values(
        EditCase{"OverwriteReplaces", "999", "123", false, 1, 1, 't', "9", Outcome::kDone, "193", 2},
        // The caret on a literal types into the next placeholder.
        EditCase{"CaretOnLiteral", "99-99", "1234", false, 2, 2, 't', "7", Outcome::kDone, "12-74", 4},
        EditCase{"InsertShiftsOverLiterals", "99-99", "123", true, 0, 0, 't', "9", Outcome::kDone, "91-23", 1},
        EditCase{"InsertIntoFullFieldRefused", "99-99", "1234", true, 0, 0, 't', "9", Outcome::kRefused, "12-34", 0},
        EditCase{"InvalidCharacterRefused", "999", "1", false, 1, 1, 't', "x", Outcome::kRefused, "1__", 1},
        EditCase{"NoPlaceholderLeft", "99", "12", false, 2, 2, 't', "3", Outcome::kRefused, "12", 2},
        // A selection that holds only literals offers no target.
        EditCase{"SelectionOfLiteralsRefused", "99--99", "1234", false, 2, 4, 't', "5", Outcome::kRefused, "12--34",
                 4},
        EditCase{"TypingReplacesSelection", "99-99", "1234", false, 1, 4, 't', "7", Outcome::kDone, "17-__", 3},
        EditCase{"BackspaceMovesLaterLeft", "99-99", "1234", false, 4, 4, 'b', "", Outcome::kDone, "12-4_", 3},
        EditCase{"BackspaceOverLiteral", "99-99", "1234", false, 3, 3, 'b', "", Outcome::kDone, "13-4_", 1},
        EditCase{"BackspaceAtStartRefused", "99", "12", false, 0, 0, 'b', "", Outcome::kRefused, "12", 0},
        EditCase{"DeleteAtCaret", "99-99", "1234", false, 1, 1, 'd', "", Outcome::kDone, "13-4_", 1},
        EditCase{"DeleteFromLiteral", "99-99", "1234", false, 2, 2, 'd', "", Outcome::kDone, "12-4_", 3},
        EditCase{"DeleteSelection", "99-99", "1234", false, 0, 4, 'd', "", Outcome::kDone, "4_-__", 0},
        // Pasting fills the free placeholders and drops the rest.
        EditCase{"PasteOverflowDropped", "99-99", "1", false, 1, 1, 'p', "234567", Outcome::kDone, "12-34", 5},
        EditCase{"PasteSkipsRefused", "999", "", false, 0, 0, 'p', "a1b2", Outcome::kDone, "12_", 2},
        // The selection closes up, then the text overwrites from its start.
        EditCase{"PasteReplacesSelection", "9999", "1234", false, 1, 3, 'p', "9", Outcome::kDone, "19__", 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EntryMask, ReadOnlyRefusesEveryEdit) {
  MaskedEdit e(ParseEntryMask("999"));
  e.SetText("12");
  e.readOnly = true;
  std::string cut;
  e.Select(0, 2);
  EXPECT_EQ(e.Type('5'), Outcome::kRefused);
  EXPECT_EQ(e.Backspace(), Outcome::kRefused);
  EXPECT_EQ(e.Delete(), Outcome::kRefused);
  EXPECT_EQ(e.Paste("9"), Outcome::kRefused);
  EXPECT_EQ(e.Cut(cut), Outcome::kRefused);
  EXPECT_EQ(e.ToggleInsert(), Outcome::kRefused);
  EXPECT_EQ(cut, "12");
  EXPECT_EQ(e.Value(), "12");
}

TEST(EntryMask, AutoTabLeavesWhenTheLastPlaceholderFills) {
  for (bool insert : {false, true}) {
    MaskedEdit e(ParseEntryMask("99-9"));
    e.autoTab = true;
    e.insertMode = insert;
    EXPECT_EQ(TypeAll(e, "12"), Outcome::kDone) << insert;
    EXPECT_EQ(e.Type('3'), Outcome::kLeave) << insert;
  }
  MaskedEdit e(ParseEntryMask("99"));
  EXPECT_EQ(TypeAll(e, "12"), Outcome::kDone);  // without autoTab the focus stays
  e.autoTab = true;
  EXPECT_EQ(e.Right(false), Outcome::kLeave);  // moving past the end leaves too
}

TEST(EntryMask, CopyAndCutLeaveLiteralsOut) {
  MaskedEdit e(ParseEntryMask("XX-XX"));
  e.SetText("1 3");
  e.Select(0, 5);
  EXPECT_EQ(e.Copy(), "1 3 ");
  std::string cut;
  e.Select(1, 4);
  EXPECT_EQ(e.Cut(cut), Outcome::kDone);
  EXPECT_EQ(cut, " 3");
  EXPECT_EQ(e.Value(), "1");
}

struct CaretCase {
  const char* name;
  size_t from;
  char key;  // 'h' Home, 'e' End, 'l' Left, 'r' Right, 'H' 'E' with Shift, 'c' click at `from`
  size_t anchor, caret;
};

class MaskCaret : public ::testing::TestWithParam<CaretCase> {};

TEST_P(MaskCaret, Moves) {
  const CaretCase& c = GetParam();
  MaskedEdit e(ParseEntryMask("$99.99"));
  e.SetText("12");
  e.Select(c.from, c.from);
  switch (c.key) {
    case 'h': e.Home(false); break;
    case 'H': e.Home(true); break;
    case 'e': e.End(false); break;
    case 'E': e.End(true); break;
    case 'l': e.Left(false); break;
    case 'r': e.Right(false); break;
    case 'c': e.ClickAt(c.from); break;
  }
  EXPECT_EQ(e.SelectionStart(), std::min(c.anchor, c.caret));
  EXPECT_EQ(e.Caret(), c.caret);
}

INSTANTIATE_TEST_SUITE_P(Keys, MaskCaret,
                         ::testing::Values(CaretCase{"HomeToFirstPlaceholder", 5, 'h', 1, 1},
                                           CaretCase{"ShiftHomeSelectsToStart", 5, 'H', 5, 0},
                                           CaretCase{"EndAfterLastFilled", 0, 'e', 3, 3},
                                           CaretCase{"ShiftEndSelectsToEnd", 2, 'E', 2, 6},
                                           CaretCase{"LeftSkipsLiteral", 4, 'l', 2, 2},
                                           CaretCase{"RightSkipsLiteral", 2, 'r', 4, 4},
                                           CaretCase{"ClickOnLiteral", 0, 'c', 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv
