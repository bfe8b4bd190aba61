// Identity answers of every engine kind, against the kinds table as the
// format defines it (typed here, not taken from the code's table).
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
#include "tests/engine/bare_run.h"

namespace kv {
namespace {

struct Expected {
  const char* className;
  int kindId;
  const char* kindName;
  int containerKind;
  int category;
  bool canPlay;
};

const Expected kEngineKinds[] = {
    {"CInsert", 1000, "Insert Folder", 2, 0, false}, {"CBottom", 1000, ".................", 0, 0, false},
    {"CWait", 1002, "Wait", 0, 0, false},            {"CFlow", 1009, "Script Flow", 0, 4, false},
    {"CVar", 1013, "Global Variables", 0, 3, false}, {"CCalc", 1014, "Calculation", 0, 0, true},
    {"CJump", 1015, "Jump", 0, 0, false},            {"CLabel", 1018, "Label", 0, 0, false},
    {"CCompare", 1019, "Comparison", 0, 0, true},    {"CLaunch", 1030, "Launch", 0, 0, true},
    {"Ccomment", 1810, "Comment", 0, 0, false},      {"CTimer", 6022, "Timer", 0, 2, true},
};

TEST(Kinds, EveryEngineKindAnswersItsRow) {
  RegisterEngineClasses();
  for (const Expected& e : kEngineKinds) {
    SCOPED_TRACE(e.className);
    const ClassInfo* info = ClassRegistry::Find(e.className);
    ASSERT_TRUE(info && info->factory);
    EXPECT_EQ(info->schema, 0u);
    auto insert = std::dynamic_pointer_cast<CInsert>(info->factory());
    ASSERT_TRUE(insert);
    EXPECT_EQ(insert->GetKindId(), e.kindId);
    EXPECT_EQ(insert->GetKindName(), e.kindName);
    EXPECT_EQ(insert->GetContainerKind(), e.containerKind);
    EXPECT_EQ(insert->GetCategory(), e.category);
    EXPECT_EQ(insert->CanPlay(), e.canPlay);
  }
}

TEST(Kinds, CommentIsAlwaysDisabled) {
  Ccomment comment;
  comment.SetRunState(1);
  EXPECT_EQ(comment.runState, 3);
  comment.Reset();
  EXPECT_EQ(comment.runState, 3);
  EXPECT_FALSE(comment.IsActive());
}

TEST(Kinds, BaseDefaultsOfTheVirtualInterface) {
  test::BareRun run;
  CInsert insert;
  EXPECT_EQ(insert.GetShownSignal(), 1);
  EXPECT_EQ(insert.SetPropertyText(run.ctx(), 0, "x"), 1);
  EXPECT_EQ(insert.GetSprite(), nullptr);
  EXPECT_FALSE(insert.IsWindowBased());
  int32_t w = 0, h = 0;
  EXPECT_FALSE(insert.GetNaturalSize(w, h));
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 64);
  EXPECT_TRUE(insert.ClearArmed());
  CTimer timer;
  EXPECT_FALSE(timer.ClearArmed());
}

}  // namespace
}  // namespace kv
