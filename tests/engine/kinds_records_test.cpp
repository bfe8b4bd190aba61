// Stored forms of the engine kinds: each record after a reset-state common
// record (see ResetRecordV5), derived by hand from the field order.
#include <gtest/gtest.h>

#include "engine/bottom.h"
#include "engine/calc.h"
#include "engine/comment.h"
#include "engine/compare.h"
#include "engine/flow.h"
#include "engine/jump.h"
#include "engine/label.h"
#include "engine/launch.h"
#include "engine/register.h"
#include "engine/timer.h"
#include "engine/var.h"
#include "engine/wait.h"
#include "persist/containers.h"
#include "tests/engine/test_bytes.h"

namespace kv {
namespace {

using test::Bytes;
using test::Cat;
using test::NewClassTag;
using test::ResetRecordV5;

class KindRecords : public ::testing::Test {
 protected:
  void SetUp() override { RegisterEngineClasses(); }
};

// A whole object: class tag, common record, the kind's own part.
Bytes Object(const char* className, const Bytes& own) { return Cat({NewClassTag(className), ResetRecordV5(), own}); }

template <class T>
std::shared_ptr<T> LoadAll(const Bytes& file) {
  size_t consumed = 0;
  auto object = test::LoadOne<T>(file, &consumed);
  EXPECT_EQ(consumed, file.size());
  return object;
}

int LoadFailure(const Bytes& file) {
  try {
    test::LoadOne<CObject>(file);
  } catch (const CArchiveException& e) {
    return e.m_cause;
  }
  return CArchiveException::none;
}

TEST_F(KindRecords, WaitVersionOneConvertsEachStyle) {
  const struct {
    uint16_t style;
    uint16_t conditions;
  } cases[] = {{1, 4}, {2, 252}, {3, 124}, {4, 184}, {5, 120}, {0, 0}, {6, 0}, {0xFFFF, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.style);
    const Bytes file =
        Object("CWait", Cat({{0x01, 0x00,                                                  // version 1
                              static_cast<uint8_t>(c.style), static_cast<uint8_t>(c.style >> 8),  // style
                              0xE8, 0x03, 0x00, 0x00},                                     // timeoutMs 1000
                             Bytes(24, 0xAB)}));  // 24 further bytes, read and dropped
    auto wait = LoadAll<CWait>(file);
    EXPECT_EQ(wait->waitVersion, 1);
    EXPECT_EQ(wait->conditions, c.conditions);
    EXPECT_EQ(wait->timeoutMs, 1000u);
    // Written back at version 2: version, conditions, timeoutMs.
    EXPECT_EQ(test::StoreOne(*wait),
              Object("CWait", {0x02, 0x00, static_cast<uint8_t>(c.conditions), static_cast<uint8_t>(c.conditions >> 8),
                               0xE8, 0x03, 0x00, 0x00}));
  }
}

TEST_F(KindRecords, WaitVersionOneWithoutItsTailIsCutShort) {
  const Bytes file = Object("CWait", Cat({{0x01, 0x00, 0x01, 0x00, 0, 0, 0, 0}, Bytes(23, 0)}));
  EXPECT_EQ(LoadFailure(file), CArchiveException::endOfFile);
}

TEST_F(KindRecords, JumpAtEachVersion) {
  // Version 1: jumpType 2, labelName "End".
  auto v1 = LoadAll<CJump>(Object("CJump", {0x01, 0x00, 0x02, 0x00, 0x03, 'E', 'n', 'd'}));
  EXPECT_EQ(v1->jumpVersion, 1);
  EXPECT_EQ(v1->jumpType, 2);
  EXPECT_EQ(v1->labelName, "End");
  EXPECT_EQ(v1->backCount, 1);
  EXPECT_EQ(v1->forwardCount, 1);
  EXPECT_EQ(v1->counted, 0);
  EXPECT_EQ(v1->passCounter, 1u);
  // Written at version 3: counted 0, passCounter 1, backCount 1, forwardCount 1, jumpType 2, "End".
  EXPECT_EQ(test::StoreOne(*v1), Object("CJump", {0x03, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00,
                                                  0x02, 0x00, 0x03, 'E', 'n', 'd'}));

  // Version 2: backCount 3, forwardCount 4, jumpType 3, empty label.
  auto v2 = LoadAll<CJump>(Object("CJump", {0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x03, 0x00, 0x00}));
  EXPECT_EQ(v2->backCount, 3);
  EXPECT_EQ(v2->forwardCount, 4);
  EXPECT_EQ(v2->jumpType, 3);
  EXPECT_EQ(v2->counted, 0);

  // Version 3: counted 1, passCounter 5, backCount 2, forwardCount 6, jumpType 4, "X".
  const Bytes v3bytes =
      Object("CJump", {0x03, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00, 0x02, 0x00, 0x06, 0x00, 0x04, 0x00, 0x01, 'X'});
  auto v3 = LoadAll<CJump>(v3bytes);
  EXPECT_EQ(v3->counted, 1);
  EXPECT_EQ(v3->passCounter, 5u);
  EXPECT_EQ(v3->backCount, 2);
  EXPECT_EQ(v3->forwardCount, 6);
  EXPECT_EQ(v3->jumpType, 4);
  EXPECT_EQ(v3->labelName, "X");
  EXPECT_EQ(test::StoreOne(*v3), v3bytes);

  EXPECT_EQ(LoadFailure(Object("CJump", {0x04, 0x00})), CArchiveException::badSchema);
}

TEST_F(KindRecords, VariableGroupWithItemsOfEachWidth) {
  const Bytes file = Cat({NewClassTag("CVar"), ResetRecordV5(),
                          {0x01, 0x00,                  // CVar version 1
                           0x01,                        // groupFlag 1
                           0x02, 'G', '1'},             // groupName "G1"
                          NewClassTag("CObList"),       // the items list object
                          {0x02, 0x00},                 // count 2
                          NewClassTag("CVarsItem"),     // entries: 1 CVar, 2 group, 3 CObList, 4 list, 5 CVarsItem
                          {0x01, 0x00,                  // item version 1
                           0x07, 0x00, 0x00, 0x00,      // auxId 7
                           0x03, 0x00,                  // type 3 (Int4)
                           0x01, 'x',                   // name "x"
                           0x00,                        // auxText ""
                           0x2A, 0x00, 0x00, 0x00,      // initialValue 42, four bytes
                           0x05, 0x80,                  // second item: class reference to entry 5
                           0x01, 0x00,                  // item version 1
                           0x00, 0x00, 0x00, 0x00,      // auxId 0
                           0x06, 0x00,                  // type 6 (String)
                           0x01, 's',                   // name "s"
                           0x01, 'a',                   // auxText "a"
                           0x02, 'h', 'i',              // initialText "hi"
                           0x09, 0x00, 0x00, 0x00}});   // groupValue 9
  auto group = LoadAll<CVar>(file);
  EXPECT_EQ(group->groupFlag, 1);
  EXPECT_EQ(group->groupName, "G1");
  EXPECT_EQ(group->groupValue, 9u);
  ASSERT_EQ(group->items.size(), 2u);
  EXPECT_EQ(group->items[0]->type, var_type::kInt4);
  EXPECT_EQ(group->items[0]->Current<int32_t>(), 42);  // current value starts as the initial one
  EXPECT_EQ(group->items[1]->currentText, "hi");
  EXPECT_EQ(test::StoreOne(*group), file);

  auto copy = std::static_pointer_cast<CVar>(group->Clone(false));
  ASSERT_EQ(copy->items.size(), 2u);
  EXPECT_NE(copy->items[0], group->items[0]);
  EXPECT_EQ(copy->items[1]->initialText, "hi");
}

TEST_F(KindRecords, VariableItemValueWidthFollowsItsType) {
  // type 0 (Int2): two bytes; type 5 (Double): eight; type 9: nothing.
  const struct {
    uint16_t type;
    size_t width;
  } cases[] = {{0, 2}, {1, 2}, {2, 2}, {3, 4}, {4, 4}, {5, 8}, {9, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    Bytes file = Cat({NewClassTag("CVarsItem"),
                      {0x01, 0x00, 0, 0, 0, 0, static_cast<uint8_t>(c.type), 0x00, 0x00, 0x00},
                      Bytes(c.width, 0x11)});
    auto item = LoadAll<CVarsItem>(file);
    EXPECT_EQ(test::StoreOne(*item), file);
  }
}

TEST_F(KindRecords, CalculationStoresOnlyConstantSlots) {
  const Bytes v2 = Object("CCalc", {0x02, 0x00,              // version 2
                                    0x01, 'G',               // groupName "G"
                                    0x05, 0x00, 0x00, 0x00,  // calcValue 5
                                    0x01, 0x00,              // operator 1 (Add)
                                    0x01, 'r',               // resultName
                                    0x01, 'a',               // firstName
                                    0x01, 'b',               // secondName
                                    0x02,                    // calcFlag 2
                                    0x00,                    // firstIsConstant 0: no first slot
                                    0x01,                    // secondIsConstant 1
                                    0, 0, 0, 0, 0, 0, 0xF8, 0x3F});  // secondSlot 1.5
  auto calc = LoadAll<CCalc>(v2);
  EXPECT_EQ(calc->groupName, "G");
  EXPECT_EQ(calc->operatorCode, 1);
  EXPECT_EQ(calc->firstSlot, 0.0);
  EXPECT_EQ(calc->secondSlot, 1.5);
  EXPECT_EQ(test::StoreOne(*calc), v2);

  // Version 1 has no group name.
  auto v1 = LoadAll<CCalc>(Object(
      "CCalc", {0x01, 0x00,      // version 1
                0, 0, 0, 0,      // calcValue 0
                0, 0,            // operator 0
                0, 0, 0,         // resultName, firstName, secondName empty
                0, 0, 0}));      // calcFlag, firstIsConstant, secondIsConstant 0: no slots
  EXPECT_EQ(v1->calcVersion, 1);
  EXPECT_TRUE(v1->groupName.empty());
}

TEST_F(KindRecords, ComparisonLoadsWithShowModeUnset) {
  const Bytes file = Object("CCompare", {0x02, 0x00, 0x00,        // version 2, groupName ""
                                         0x03, 0x00, 0x00, 0x00,  // compareValue 3
                                         0x01, 'a', 0x00,         // firstName "a", secondName ""
                                         0x01, 0x00,              // firstIsConstant 1, secondIsConstant 0
                                         0, 0, 0, 0, 0, 0, 0xF0, 0x3F});  // firstSlot 1.0
  auto compare = LoadAll<CCompare>(file);
  EXPECT_EQ(compare->showMode, -1);
  EXPECT_EQ(compare->firstSlot, 1.0);
  EXPECT_EQ(compare->compareValue, 3u);
}

TEST_F(KindRecords, LabelAndCommentNeverCarryAName) {
  Bytes named = ResetRecordV5();
  named[34] = 0x01;  // the name's length byte (after the empty comment at offset 33)
  named.insert(named.begin() + 35, 'N');
  auto label = LoadAll<CLabel>(Cat({NewClassTag("CLabel"), named, {0x01, 0x00, 0x02, 'L', '1'}}));
  EXPECT_TRUE(label->name.empty());
  EXPECT_EQ(label->labelName, "L1");
  label->name = "again";
  EXPECT_EQ(test::StoreOne(*label), Object("CLabel", {0x01, 0x00, 0x02, 'L', '1'}));

  auto comment = LoadAll<Ccomment>(Cat({NewClassTag("Ccomment"), named, {0x01, 0x00, 0x02, 'h', 'i'}}));
  EXPECT_TRUE(comment->name.empty());
  EXPECT_EQ(comment->commentText, "hi");
  EXPECT_EQ(comment->runState, 3);
  EXPECT_EQ(CLabel().labelName, "Label");
}

TEST_F(KindRecords, BottomIsActiveAfterLoading) {
  auto bottom = LoadAll<CBottom>(Object("CBottom", {0x01, 0x00}));
  EXPECT_EQ(bottom->active, 1u);
}

TEST_F(KindRecords, TimerAndLaunch) {
  const Bytes timer = Object("CTimer", {0x01, 0x00, 0x03, 0, 0, 0, 0xF4, 0x01, 0, 0, 0x0A, 0, 0, 0, 0x04, 0, 0, 0,
                                        0x00, 0, 0, 0});  // type 3, 500 ms, min 10, 4 times, disabled
  auto t = LoadAll<CTimer>(timer);
  EXPECT_EQ(t->timerType, 3u);
  EXPECT_EQ(t->periodMs, 500u);
  EXPECT_EQ(t->minPeriodMs, 10u);
  EXPECT_EQ(t->repeatCount, 4u);
  EXPECT_EQ(t->timerEnabled, 0u);
  EXPECT_EQ(test::StoreOne(*t), timer);

  // Launch version 1 lacks launchValue, which keeps its default 1.
  auto l = LoadAll<CLaunch>(Object("CLaunch", {0x01, 0x00, 0x01, 'p', 0x01, 'q', 0x00, 0x00, 0x07, 0, 0, 0}));
  EXPECT_EQ(l->launchValue, 1u);
  EXPECT_EQ(l->program, "p");
  EXPECT_EQ(l->parameters, "q");
  EXPECT_EQ(l->closeOnStop, 0);
  EXPECT_EQ(l->launchValue2, 7u);
  EXPECT_EQ(test::StoreOne(*l), Object("CLaunch", {0x02, 0x00, 0x01, 0, 0, 0, 0x01, 'p', 0x01, 'q', 0x00, 0x00, 0x07,
                                                   0, 0, 0}));
}

TEST_F(KindRecords, FlowOwnsItselfAfterLoadingAndKnowsOnlyVersionOne) {
  auto flow = LoadAll<CFlow>(Object("CFlow", {0x01, 0x00, 0x35, 0x00, 0x02, 0, 0, 0, 0x3F, 0x42, 0x0F, 0x00, 0x00}));
  EXPECT_EQ(flow->command, 53);
  EXPECT_EQ(flow->commandValue, 2u);
  EXPECT_EQ(flow->eventCode, 999999u);
  EXPECT_EQ(flow->GetOwner(), flow);
  EXPECT_EQ(LoadFailure(Object("CFlow", {0x02, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), CArchiveException::badSchema);
}

TEST_F(KindRecords, AnItemListThatHoldsItselfIsRefused) {
  // Entries: 1 CVar class, 2 the group, 3 CObList class, 4 the list, whose one
  // element refers to entry 4 again.
  const Bytes file = Cat({NewClassTag("CVar"), ResetRecordV5(), {0x01, 0x00, 0x00, 0x00}, NewClassTag("CObList"),
                          {0x01, 0x00, 0x04, 0x00}});
  EXPECT_EQ(LoadFailure(file), CArchiveException::badIndex);
}

TEST_F(KindRecords, AHandlerThatHoldsItsOwnerIsRefused) {
  Bytes withOneHandler = ResetRecordV5();
  withOneHandler.back() = 0x01;  // handlerCount 1
  const Bytes flowPart = {0x01, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x00};  // version 1, command 0, ...
  // The flow (entry 2) lists itself as its handler.
  const Bytes self = Cat({NewClassTag("CFlow"), withOneHandler, {0x02, 0x00}});
  EXPECT_EQ(LoadFailure(self), CArchiveException::badIndex);
  // Flow A (entry 2) holds flow B (class reference 0x8001, entry 3), which holds A again.
  const Bytes mutual = Cat({NewClassTag("CFlow"), withOneHandler, {0x01, 0x80}, withOneHandler, {0x02, 0x00}});
  EXPECT_EQ(LoadFailure(mutual), CArchiveException::badIndex);
  // A flow shared by two owners is no cycle: A holds B, then C (class ref, entry 4) holds B again.
  const Bytes shared = Cat({NewClassTag("CObList"), {0x02, 0x00}, NewClassTag("CFlow"), withOneHandler, {0x03, 0x80},
                            ResetRecordV5(), flowPart, flowPart, {0x03, 0x80}, withOneHandler, {0x05, 0x00}, flowPart});
  auto list = test::LoadOne<CObList>(shared);
  ASSERT_EQ(list->items.size(), 2u);
  auto a = std::static_pointer_cast<CFlow>(list->items[0]);
  auto c = std::static_pointer_cast<CFlow>(list->items[1]);
  EXPECT_EQ(a->handlers[0], c->handlers[0]);
}

}  // namespace
}  // namespace kv
