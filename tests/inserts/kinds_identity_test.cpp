// Registered bases and schemas of the visual, sound, MCI, DLL and Orlan
// kinds and of the records they hold, as the format's tables give them.
#include <gtest/gtest.h>

#include "engine/insert.h"
#include "ext/register.h"
#include "inserts/menu.h"

namespace kv {
namespace {

constexpr uint32_t V = kVersionable;

// Each class's base as the registered-classes table gives it (the kind ids
// and names are checked over every class by the kinds-table test).
struct Derivation {
  const char* className;
  const char* base;
};

const Derivation kBases[] = {
    {"CAudio", "CInsert"},          {"CFileAudio", "CAudio"},        {"CDiscAudio", "CAudio"},
    {"CMCI", "CInsert"},            {"CDisplay", "CVisibleInsert"},  {"CAVI", "CVisibleInsert"},
    {"CMPlayer", "CVisibleInsert"}, {"CSDButton", "CVisibleInsert"}, {"CBasic", "CVisibleInsert"},
    {"CText", "CGraphic"},          {"ScDLL", "CVisibleInsert"},     {"CSprite", "CVisibleInsert"},
    {"CHotSpot", "CVisibleInsert"}, {"CRTF", "CVisibleInsert"},      {"CStageCursor", "CVisibleInsert"},
    {"C3d", "CVisibleInsert"},      {"CMenuObj", "CVisibleInsert"},  {"CDataEntry", "CVisibleInsert"},
    {"COleCtl", "CVisibleInsert"},  {"CGraphic", "CVisibleInsert"},  {"CObjectFill", "CGraphic"},
    {"CRectangle", "CObjectFill"},  {"CTriangle", "CObjectFill"},    {"CEllipse", "CObjectFill"},
    {"CPoly", "CObjectFill"},
};

TEST(KindsIdentity, EveryKindDerivesFromItsTableBase) {
  RegisterInsertClasses();
  for (const Derivation& d : kBases) {
    SCOPED_TRACE(d.className);
    const ClassInfo* info = ClassRegistry::Find(d.className);
    ASSERT_TRUE(info && info->base);
    EXPECT_STREQ(info->base->name, d.base);
  }
}

TEST(KindsIdentity, HeldRecordsAreRegisteredObjects) {
  RegisterInsertClasses();
  for (const char* name : {"CKVFont", "CMenuDefinition", "CMenuItem", "CSubMenu", "CCollectData"}) {
    SCOPED_TRACE(name);
    const ClassInfo* info = ClassRegistry::Find(name);
    ASSERT_TRUE(info && info->factory && info->base);
    EXPECT_STREQ(info->base->name, "CObject");
    EXPECT_EQ(info->schema, std::string(name) == "CCollectData" ? 0u : V);
  }
}

TEST(KindsIdentity, AMenuAnswersNoHotkey) {
  CMenuObj menu;
  menu.hotkeys.push_back({'M', 2});
  EXPECT_FALSE(menu.HasHotkey('M', 2));
}

}  // namespace
}  // namespace kv
