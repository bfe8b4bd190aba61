#include "engine/insert.h"

#include <gtest/gtest.h>

#include <limits>

#include "engine/flow.h"
#include "engine/register.h"
#include "persist/document.h"
#include "tests/engine/bare_run.h"
#include "persist/hooks.h"
#include "tests/engine/test_bytes.h"

namespace kv {
namespace {

using test::Bytes;
using test::Cat;
using test::NewClassTag;

class InsertRecord : public ::testing::Test {
 protected:
  void SetUp() override { RegisterEngineClasses(); }
};

// The pieces of the common record that later versions put in front, each in
// a full form (the test insert's values) and in the reset-default form.
struct Pieces {
  Bytes v5, v4, v3, v2;
};

const Pieces kFull = {
    // auxText1 "v" (length byte 1), auxText2 "n", flags 0x0010, auxWord 7
    {0x01, 'v', 0x01, 'n', 0x10, 0x00, 0x07, 0x00},
    // auxLong 0x01020304
    {0x04, 0x03, 0x02, 0x01},
    // hotkeyCount 2, then (key 0x41, modifiers 2) and (key 0x70, modifiers 0)
    {0x02, 0x00, 0x00, 0x00, 0x41, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x70, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00},
    // showMode 3
    {0x03, 0x00, 0x00, 0x00},
};

const Pieces kDefaults = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00},  // two empty strings, flags 0, auxWord 0
    {0x00, 0x00, 0x00, 0x00},              // auxLong 0
    {0x00, 0x00, 0x00, 0x00},              // no hotkeys
    {0x01, 0x00, 0x00, 0x00},              // showMode 1
};

// One CFlow handler in its reset state with command 19, event 9005, argument "L1".
Bytes HandlerBytes() {
  return Cat({NewClassTag("CFlow"), test::ResetRecordV5(),
              {0x01, 0x00,                                      // CFlow version 1
               0x13, 0x00,                                      // command 19
               0x00, 0x00, 0x00, 0x00,                          // commandValue 0
               0x2D, 0x23, 0x00, 0x00,                          // eventCode 9005 = 0x232D
               0x02, 'L', '1'}});                               // argument "L1"
}

// Steps 6 to 18 of the record, the part every version has.
Bytes Tail(uint8_t runState) {
  return Cat({{0x01, 0x00, 0x00, 0x00,              // active 1
               0x01,                                // threaded 1
               0xFA, 0x00, 0x00, 0x00,              // delayMs 250
               0x09, 0x00, 0x00, 0x00,              // auxValue 9
               0x01, 'c',                           // comment "c"
               0x03, 'O', 'b', 'j',                 // name "Obj"
               0x00,                                // editorFlag 0
               0x05,                                // layer 5
               0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // rect left 1, top 2
               0x41, 0x00, 0x00, 0x00, 0xFD, 0xFF, 0xFF, 0xFF,  // right 65, bottom -3
               0x03,                                            // auxByte 3
               runState,                                        // runState
               0x01},                                           // handlerCount 1
              HandlerBytes()});
}

Bytes Record(uint16_t version, const Pieces& p, uint8_t runState = 3) {
  Bytes b = Cat({NewClassTag("CInsert"), {static_cast<uint8_t>(version), 0x00}});
  if (version >= 5) b = Cat({b, p.v5});
  if (version >= 4) b = Cat({b, p.v4});
  if (version >= 3) b = Cat({b, p.v3});
  if (version >= 2) b = Cat({b, p.v2});
  return Cat({b, Tail(runState)});
}

std::shared_ptr<CInsert> MakeTestInsert() {
  auto insert = std::make_shared<CInsert>();
  insert->Reset();
  insert->auxText1 = "v";
  insert->auxText2 = "n";
  insert->flags = 0x0010;
  insert->auxWord = 7;
  insert->auxLong = 0x01020304;
  insert->hotkeys = {{0x41, 2}, {0x70, 0}};
  insert->showMode = 3;
  insert->active = 1;
  insert->threaded = 1;
  insert->delayMs = 250;
  insert->auxValue = 9;
  insert->comment = "c";
  insert->name = "Obj";
  insert->editorFlag = 0;
  insert->layer = 5;
  insert->rect = {1, 2, 65, -3};
  insert->auxByte = 3;
  insert->runState = 3;
  auto handler = std::make_shared<CFlow>();
  handler->Reset();
  handler->command = 19;
  handler->argument = "L1";
  EXPECT_EQ(insert->AddHandler(9005, handler), 1);
  return insert;
}

TEST_F(InsertRecord, StoresVersionFiveByteForByte) {
  EXPECT_EQ(test::StoreOne(*MakeTestInsert()), Record(5, kFull));
}

TEST_F(InsertRecord, LoadsEveryVersionWithResetDefaultsAndWritesVersionFive) {
  for (uint16_t version = 1; version <= 5; ++version) {
    SCOPED_TRACE(version);
    const Bytes file = Record(version, kFull);
    size_t consumed = 0;
    auto insert = test::LoadOne<CInsert>(file, &consumed);
    ASSERT_TRUE(insert);
    EXPECT_EQ(consumed, file.size());
    EXPECT_EQ(insert->loadedVersion, version);
    EXPECT_EQ(insert->auxText1, version >= 5 ? "v" : "");
    EXPECT_EQ(insert->flags, version >= 5 ? 0x10 : 0);
    EXPECT_EQ(insert->auxLong, version >= 4 ? 0x01020304u : 0u);
    EXPECT_EQ(insert->hotkeys.size(), version >= 3 ? 2u : 0u);
    EXPECT_EQ(insert->showMode, version >= 2 ? 3 : 1);
    EXPECT_EQ(insert->name, "Obj");
    EXPECT_EQ(insert->rect, (Rect{1, 2, 65, -3}));
    EXPECT_EQ(insert->auxByte, 3);
    ASSERT_EQ(insert->handlers.size(), 1u);
    EXPECT_EQ(insert->handlers[0]->eventCode, 9005u);
    EXPECT_EQ(insert->handlers[0]->argument, "L1");
    EXPECT_EQ(insert->handlers[0]->GetOwner(), insert);

    const Pieces written = {version >= 5 ? kFull.v5 : kDefaults.v5, version >= 4 ? kFull.v4 : kDefaults.v4,
                            version >= 3 ? kFull.v3 : kDefaults.v3, version >= 2 ? kFull.v2 : kDefaults.v2};
    EXPECT_EQ(test::StoreOne(*insert), Record(5, written));
  }
}

TEST_F(InsertRecord, AHandlerWrittenTwiceIsOneObjectReferencedTwice) {
  // handlerCount 2: the handler in full, then a reference to its entry. Entries:
  // 1 the CInsert class, 2 the insert, 3 the CFlow class, 4 the handler.
  Bytes file = Record(5, kFull);
  file[file.size() - HandlerBytes().size() - 1] = 0x02;
  file = Cat({file, {0x04, 0x00}});
  auto insert = test::LoadOne<CInsert>(file);
  ASSERT_EQ(insert->handlers.size(), 2u);
  EXPECT_EQ(insert->handlers[0], insert->handlers[1]);
  EXPECT_EQ(test::StoreOne(*insert), file);
}

TEST_F(InsertRecord, RefusesUnknownVersions) {
  for (uint16_t version : {0, 6, 0xFFFF}) {
    Bytes file = Record(5, kFull);
    file[13] = static_cast<uint8_t>(version);  // the version word follows the 13-byte class tag
    file[14] = static_cast<uint8_t>(version >> 8);
    try {
      test::LoadOne<CInsert>(file);
      ADD_FAILURE() << "version " << version << " loaded";
    } catch (const CArchiveException& e) {
      EXPECT_EQ(e.m_cause, CArchiveException::badSchema);
    }
  }
}

TEST_F(InsertRecord, RunStateAndFlagsRulesOnLoad) {
  struct Case {
    uint16_t version;
    uint8_t storedRunState;
    uint16_t flags;
    uint8_t expected;
  };
  const Case cases[] = {
      {5, 0, 0, 0},      {5, 1, 0, 0},      {5, 2, 0, 0},     {5, 3, 0, 3}, {5, 9, 0, 0},
      {5, 0, 0x0004, 3}, {5, 1, 0x0014, 3}, {5, 3, 0xFFFB, 3}, {5, 2, 0xFFFB, 0},
      {1, 1, 0, 0},      {1, 2, 0, 0},      {1, 3, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "v" << c.version << " runState " << int(c.storedRunState) << " flags "
                                    << c.flags);
    Pieces p = kFull;
    p.v5[4] = static_cast<uint8_t>(c.flags);
    p.v5[5] = static_cast<uint8_t>(c.flags >> 8);
    auto insert = test::LoadOne<CInsert>(Record(c.version, p, c.storedRunState));
    EXPECT_EQ(insert->runState, c.expected);
    // Bits other than the disabled bit are kept as stored.
    EXPECT_EQ(insert->flags, c.version >= 5 ? c.flags : 0);
  }
}

TEST_F(InsertRecord, HotkeyCountBeyondTheDataFailsBeforeAllocating) {
  Pieces p = kFull;
  p.v3 = {0xFF, 0xFF, 0xFF, 0x7F};  // 0x7FFFFFFF hotkeys of 8 bytes: far more than the file holds
  try {
    test::LoadOne<CInsert>(Record(5, p));
    ADD_FAILURE() << "loaded";
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
  }
}

TEST_F(InsertRecord, HandlerOfAnotherClassIsABadClass) {
  Bytes file = Record(5, kFull);
  // Put a CInsert where the handler list wants a CFlow: the handler's tag
  // becomes a reference to class entry 1 (0x8001), the CInsert class.
  const Bytes handler = HandlerBytes();
  Bytes bad = Cat({Bytes(file.begin(), file.end() - static_cast<std::ptrdiff_t>(handler.size())), {0x01, 0x80}});
  try {
    test::LoadOne<CInsert>(bad);
    ADD_FAILURE() << "loaded";
  } catch (const CArchiveException& e) {
    EXPECT_EQ(e.m_cause, CArchiveException::badClass);
  }
}

TEST_F(InsertRecord, TheTwoHundredFiftySixthHandlerIsRefused) {
  auto insert = std::make_shared<CInsert>();
  for (size_t i = 0; i < kMaxHandlers; ++i) ASSERT_EQ(insert->AddHandler(9005, std::make_shared<CFlow>()), 1);
  EXPECT_EQ(insert->AddHandler(9006, std::make_shared<CFlow>()), 0);
  EXPECT_EQ(insert->handlers.size(), kMaxHandlers);
  EXPECT_NO_THROW(test::StoreOne(*insert));
  // A list grown past the limit some other way is not written with a wrapped count.
  insert->handlers.push_back(std::make_shared<CFlow>());
  EXPECT_THROW(test::StoreOne(*insert), CArchiveException);
}

TEST_F(InsertRecord, HasHotkeyNeverMatchesWithoutModifiers) {
  CInsert insert;
  insert.hotkeys = {{0x41, 2}, {0x70, 0}};
  EXPECT_TRUE(insert.HasHotkey(0x41, 2));
  EXPECT_FALSE(insert.HasHotkey(0x41, 4));
  EXPECT_FALSE(insert.HasHotkey(0x42, 2));
  EXPECT_FALSE(insert.HasHotkey(0x70, 0));  // in the list, but modifiers 0 never match
  EXPECT_FALSE(insert.HasHotkey(0x41, 0));
}

TEST_F(InsertRecord, CloneCopiesHotkeysAndHandlersDeeply) {
  auto original = MakeTestInsert();
  auto second = std::make_shared<CFlow>();
  second->argument = "second";
  original->AddHandler(9006, second);
  original->SetRunning(1);

  auto copy = original->Clone(false);
  ASSERT_EQ(copy->GetClassInfo().name, std::string("CInsert"));
  EXPECT_EQ(copy->hotkeys, original->hotkeys);
  copy->hotkeys[0].key = 0x99;
  EXPECT_EQ(original->hotkeys[0].key, 0x41u);

  ASSERT_EQ(copy->handlers.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_NE(copy->handlers[i], original->handlers[i]);
    EXPECT_EQ(copy->handlers[i]->eventCode, original->handlers[i]->eventCode);
    EXPECT_EQ(copy->handlers[i]->argument, original->handlers[i]->argument);
    EXPECT_EQ(copy->handlers[i]->GetOwner(), copy);
    EXPECT_EQ(original->handlers[i]->GetOwner(), original);
  }
  EXPECT_EQ(copy->name, "Obj");
  EXPECT_EQ(copy->rect, original->rect);
  EXPECT_EQ(copy->auxLong, original->auxLong);
  EXPECT_EQ(copy->editorFlag, original->editorFlag);  // outside the player
  EXPECT_EQ(copy->auxByte, 0);                         // never copied
  EXPECT_EQ(copy->running, 0);                         // nor is running
  EXPECT_EQ(copy->GetPrimary(), copy);
}

TEST_F(InsertRecord, CopyMadeWhilePlayingKeepsItsEditorFlag) {
  // A copy and its handlers' copies start with the flag of a new object
  // (0); only outside the player do they take the original's.
  auto original = MakeTestInsert();
  original->editorFlag = 1;
  original->handlers[0]->editorFlag = 1;
  const struct {
    bool whilePlaying;
    uint8_t expected;
  } cases[] = {{true, CInsert::kNewEditorFlag}, {false, 1}};
  for (const auto& c : cases) {
    auto copy = original->Clone(c.whilePlaying);
    EXPECT_EQ(copy->editorFlag, c.expected) << c.whilePlaying;
    ASSERT_EQ(copy->handlers.size(), 1u);
    EXPECT_EQ(copy->handlers[0]->editorFlag, c.expected) << c.whilePlaying;
  }
}

TEST_F(InsertRecord, HandlerLookupAndRemoval) {
  auto insert = MakeTestInsert();
  auto other = std::make_shared<CFlow>();
  insert->AddHandler(9006, other);
  auto again = std::make_shared<CFlow>();
  insert->AddHandler(9005, again);
  EXPECT_EQ(insert->FindHandler(9006), other);
  EXPECT_EQ(insert->FindHandler(9005), insert->handlers[0]);  // the first one wins
  EXPECT_EQ(insert->FindHandler(9000), nullptr);
  insert->RemoveHandlers(9005);
  ASSERT_EQ(insert->handlers.size(), 1u);
  EXPECT_EQ(insert->handlers[0], other);
}

TEST_F(InsertRecord, CloneAndSourceUnlinkWhenEitherEndDies) {
  auto source = std::make_shared<CInsert>();
  {
    auto copy = source->Clone(false);
    source->clone = copy;
    copy->source = source;
    copy->SetRunning(1);
    EXPECT_EQ(source->running, 1);  // a copy's running state reaches its source
  }
  EXPECT_TRUE(source->clone.expired());

  auto copy = source->Clone(false);
  source->clone = copy;
  copy->source = source;
  source.reset();
  EXPECT_TRUE(copy->source.expired());
}

TEST_F(InsertRecord, DescribeLocationNamesOrPositions) {
  CStgDoc script;
  script.pathName = "intro.kvs";
  auto first = std::make_shared<CInsert>();
  auto second = std::make_shared<CInsert>();
  second->name = "  Logo ";
  script.items = {first, second};
  EXPECT_EQ(second->DescribeLocation(&script, false, false), "Logo");
  EXPECT_EQ(first->DescribeLocation(&script, false, false), "Object  1");
  EXPECT_EQ(first->DescribeLocation(&script, true, true), "Insert Folder, Object  1 in script intro.kvs");
}

// Sizing keeps the near edges and stops the far ones at the int limit, as a
// script can place an object anywhere and then give it any allowed size.
TEST_F(InsertRecord, SizingNearTheIntLimitStopsAtIt) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  struct Case {
    Rect from;
    int32_t width, height;
    Rect expected;
  } cases[] = {
      {{10, 20, 30, 40}, 5, 6, {10, 20, 15, 26}},
      {{kMax - 10, kMax - 3, kMax, kMax}, 100, 2, {kMax - 10, kMax - 3, kMax, kMax - 1}},
      {{0, kMax - 1, 5, kMax}, 16384, 16384, {0, kMax - 1, 16384, kMax}},
      {{kMin + 5, kMin, 0, 0}, -100, 7, {kMin + 5, kMin, kMin, kMin + 7}},
  };
  test::BareRun run;
  for (const Case& c : cases) {
    for (bool resize : {false, true}) {
      CInsert insert;
      insert.rect = c.from;
      if (resize)
        insert.ResizeTo(run.ctx(), c.width, c.height);
      else
        insert.SetSize(c.width, c.height);
      EXPECT_EQ(insert.rect, c.expected) << c.from.left << "," << c.from.top << " + " << c.width << " x " << c.height
                                         << (resize ? " (resize)" : " (set size)");
    }
  }
}

}  // namespace
}  // namespace kv
