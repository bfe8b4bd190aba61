#include "platform/message_box.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

// Scripted answers are taken in order; when they run out each kind of box
// takes its first button.
TEST(ScriptedMessageBox, AnswersInOrderThenTheFirstButton) {
  ScriptedMessageBox box({MsgAnswer::No, MsgAnswer::Cancel});
  const struct {
    MsgButtons buttons;
    MsgAnswer answer;
  } cases[] = {
      {MsgButtons::YesNo, MsgAnswer::No},      {MsgButtons::OkCancel, MsgAnswer::Cancel},
      {MsgButtons::YesNo, MsgAnswer::Yes},     {MsgButtons::YesNoCancel, MsgAnswer::Yes},
      {MsgButtons::Ok, MsgAnswer::Ok},         {MsgButtons::OkCancel, MsgAnswer::Ok},
      {MsgButtons::RetryCancel, MsgAnswer::Retry},
  };
  int i = 0;
  for (const auto& c : cases) {
    const std::string text = "box " + std::to_string(i++);
    EXPECT_EQ(box.Show(text, "title", c.buttons, MsgIcon::Question), c.answer) << text;
  }
  ASSERT_EQ(box.shown().size(), std::size(cases));
  EXPECT_EQ(box.shown()[1].text, "box 1");
  EXPECT_EQ(box.shown()[1].answer, MsgAnswer::Cancel);
  EXPECT_EQ(box.shown()[6].buttons, MsgButtons::RetryCancel);
  EXPECT_EQ(box.shown()[6].icon, MsgIcon::Question);
}

TEST(ScriptedMessageBox, TheProcessServiceIsReplaceable) {
  ScriptedMessageBox mine({MsgAnswer::No});
  SetMessageBoxes(&mine);
  EXPECT_EQ(ShowMessage("quit?", "t", MsgButtons::YesNo), MsgAnswer::No);
  SetMessageBoxes(nullptr);
  ASSERT_EQ(mine.shown().size(), 1u);
  EXPECT_EQ(mine.shown()[0].text, "quit?");
  // The fallback never waits: the first button.
  EXPECT_EQ(ShowMessage("again?", "t", MsgButtons::YesNo), MsgAnswer::Yes);
  EXPECT_EQ(mine.shown().size(), 1u);
}

}  // namespace
}  // namespace kv
