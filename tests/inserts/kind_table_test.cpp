// Every insert class the build registers answers its row of the kinds table
// (class name, schema, kind id, kind name, category, can-play, window-based),
// typed here as the format defines it, and the kinds without behaviour yet
// say what they need; a registered insert class missing here fails.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/insert.h"
#include "engine/kinds.h"
#include "ext/register.h"

namespace kv {
namespace {

constexpr uint32_t V = kVersionable;

struct Row {
  const char* className;
  uint32_t schema;
  int kindId;
  const char* kindName;
  int category;
  bool canPlay;
  bool window = false;
  bool notBuilt = false;
};

constexpr bool W = true;   // lives in a native widget
constexpr bool N = true;   // not built yet

const Row kRows[] = {
    {"CInsert", 0, 1000, "Insert Folder", 0, false},
    {"CBottom", 0, 1000, ".................", 0, false},
    {"CWait", 0, 1002, "Wait", 0, false},
    {"CFlow", 0, 1009, "Script Flow", 4, false},
    {"CVar", 0, 1013, "Global Variables", 3, false},
    {"CCalc", 0, 1014, "Calculation", 0, true},
    {"CJump", 0, 1015, "Jump", 0, false},
    {"CMCI", 0, 1016, "MCI", 0, true},
    {"CLabel", 0, 1018, "Label", 0, false},
    {"CCompare", 0, 1019, "Comparison", 0, true},
    {"CLaunch", 0, 1030, "Launch", 0, true},
    {"Ccomment", 0, 1810, "Comment", 0, false},
    {"CTimer", 0, 6022, "Timer", 2, true},
    {"CAudio", V, 1000, "Undefined", 0, true},
    {"CFileAudio", V, 1003, "Sound", 0, true},
    {"CDiscAudio", V, 1005, "CD Audio", 0, true},
    {"CVisibleInsert", 0, 1000, "Undefined", 1, true},
    {"CDisplay", V | 1, 1006, "Image", 1, true},
    {"CAVI", 0, 1007, "Movie", 1, true},
    {"CMPlayer", 0, 1010, "MediaPlayer", 1, true},
    {"CSDButton", 0, 1011, "Button", 1, true},
    {"CBasic", 0, 1012, "Orlan", 1, true},
    {"CText", V, 1023, "Text", 1, true},
    {"ScDLL", 0, 1034, "DLL", 1, true},
    {"CSprite", 0, 6026, "Sprite", 1, true},
    {"CHotSpot", 0, 6031, "Hotspot", 1, true},
    {"CRTF", V, 6076, "Rich Text", 1, true, W},
    {"CStageCursor", V, 6077, "Stage Cursor", 1, true},
    {"C3d", V | 1, 6117, "3D", 1, true},
    {"CMenuObj", V, 218, "Menu", 1, true},
    {"CDataEntry", 0, 224, "Data Entry", 1, true, W},
    {"COleCtl", 1, 1000, "ActiveX Control", 1, true, W},
    {"CGraphic", V, 1000, "Undefined", 1, true},
    {"CObjectFill", V, 1000, "Undefined", 1, true},
    {"CRectangle", V, 1000, "Rectangle", 1, true},
    {"CTriangle", V, 1000, "Triangle", 1, true},
    {"CEllipse", V, 1000, "Ellipse", 1, true},
    {"CPoly", V, 1000, "Polygon", 1, true},
};

TEST(KindTable, EveryRegisteredInsertClassAnswersItsRow) {
  RegisterInsertClasses();
  std::set<std::string> listed;
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.className);
    listed.insert(r.className);
    const ClassInfo* info = ClassRegistry::Find(r.className);
    ASSERT_TRUE(info && info->factory) << "not registered";
    EXPECT_EQ(info->schema, r.schema);
    auto insert = std::dynamic_pointer_cast<CInsert>(info->factory());
    ASSERT_TRUE(insert);
    EXPECT_EQ(insert->GetKindId(), r.kindId);
    EXPECT_EQ(insert->GetKindName(), r.kindName);
    EXPECT_EQ(insert->GetCategory(), r.category);
    EXPECT_EQ(insert->CanPlay(), r.canPlay);
    EXPECT_EQ(insert->GetContainerKind(), std::string(r.className) == "CInsert" ? 2 : 0);
    EXPECT_EQ(insert->IsWindowBased(), r.window);
    const KindInfo* kind = FindKind(r.className);
    ASSERT_TRUE(kind);
    const std::string detail = NotBuiltDetail(*kind);
    if (r.notBuilt) {
      EXPECT_EQ(detail.rfind(std::string("the ") + r.kindName + " kind needs the ", 0), 0u) << detail;
    } else {
      EXPECT_EQ(detail, "");
    }
  }
  for (const ClassInfo* info : ClassRegistry::All()) {
    if (info->IsDerivedFrom(CInsert::StaticClass())) {
      EXPECT_TRUE(listed.count(info->name)) << info->name;
    }
  }
}

}  // namespace
}  // namespace kv
