// Identity answers and registered schemas of the visual, sound, MCI, DLL and
// Orlan kinds and of the records they hold, against the format's tables
// (typed here, not taken from the code's table).
#include <gtest/gtest.h>

#include "engine/insert.h"
#include "ext/register.h"
#include "inserts/menu.h"

namespace kv {
namespace {

constexpr uint32_t V = kVersionable;

struct Expected {
  const char* className;
  uint32_t schema;
  const char* base;
  int kindId;
  const char* kindName;
  int category;
};

const Expected kKinds[] = {
    {"CAudio", V | 0, "CInsert", 1000, "Undefined", 0},
    {"CFileAudio", V | 0, "CAudio", 1003, "Sound", 0},
    {"CDiscAudio", V | 0, "CAudio", 1005, "CD Audio", 0},
    {"CMCI", 0, "CInsert", 1016, "MCI", 0},
    {"CDisplay", V | 1, "CVisibleInsert", 1006, "Image", 1},
    {"CAVI", 0, "CVisibleInsert", 1007, "Movie", 1},
    {"CMPlayer", 0, "CVisibleInsert", 1010, "MediaPlayer", 1},
    {"CSDButton", 0, "CVisibleInsert", 1011, "Button", 1},
    {"CBasic", 0, "CVisibleInsert", 1012, "Orlan", 1},
    {"CText", V | 0, "CGraphic", 1023, "Text", 1},
    {"ScDLL", 0, "CVisibleInsert", 1034, "DLL", 1},
    {"CSprite", 0, "CVisibleInsert", 6026, "Sprite", 1},
    {"CHotSpot", 0, "CVisibleInsert", 6031, "Hotspot", 1},
    {"CRTF", V | 0, "CVisibleInsert", 6076, "Rich Text", 1},
    {"CStageCursor", V | 0, "CVisibleInsert", 6077, "Stage Cursor", 1},
    {"C3d", V | 1, "CVisibleInsert", 6117, "3D", 1},
    {"CMenuObj", V | 0, "CVisibleInsert", 218, "Menu", 1},
    {"CDataEntry", 0, "CVisibleInsert", 224, "Data Entry", 1},
    {"COleCtl", 1, "CVisibleInsert", 1000, "ActiveX Control", 1},
    {"CGraphic", V | 0, "CVisibleInsert", 1000, "Undefined", 1},
    {"CObjectFill", V | 0, "CGraphic", 1000, "Undefined", 1},
    {"CRectangle", V | 0, "CObjectFill", 1000, "Rectangle", 1},
    {"CTriangle", V | 0, "CObjectFill", 1000, "Triangle", 1},
    {"CEllipse", V | 0, "CObjectFill", 1000, "Ellipse", 1},
    {"CPoly", V | 0, "CObjectFill", 1000, "Polygon", 1},
};

TEST(KindsIdentity, EveryKindAnswersItsRow) {
  RegisterInsertClasses();
  for (const Expected& e : kKinds) {
    SCOPED_TRACE(e.className);
    const ClassInfo* info = ClassRegistry::Find(e.className);
    ASSERT_TRUE(info && info->factory && info->base);
    EXPECT_EQ(info->schema, e.schema);
    EXPECT_STREQ(info->base->name, e.base);
    auto insert = std::dynamic_pointer_cast<CInsert>(info->factory());
    ASSERT_TRUE(insert);
    EXPECT_EQ(insert->GetKindId(), e.kindId);
    EXPECT_EQ(insert->GetKindName(), e.kindName);
    EXPECT_EQ(insert->GetContainerKind(), 0);
    EXPECT_EQ(insert->GetCategory(), e.category);
    EXPECT_TRUE(insert->CanPlay());
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
