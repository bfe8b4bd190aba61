#include "engine/kinds.h"

#include <algorithm>

namespace kv {
namespace {

using namespace kind;
using namespace category;

constexpr KindInfo kKinds[] = {
    {"CInsert", kInsertFolder, "Insert Folder", 2, kPlain, false},
    {"CBottom", kInsertFolder, ".................", 0, kPlain, false},
    {"CWait", kWait, "Wait", 0, kPlain, false},
    {"CFlow", kScriptFlow, "Script Flow", 0, kFlow, false},
    {"CVar", kGlobalVariables, "Global Variables", 0, kVariables, false},
    {"CCalc", kCalculation, "Calculation", 0, kPlain, true},
    {"CJump", kJump, "Jump", 0, kPlain, false},
    {"CMCI", kMci, "MCI", 0, kPlain, true},
    {"CLabel", kLabel, "Label", 0, kPlain, false},
    {"CCompare", kComparison, "Comparison", 0, kPlain, true},
    {"CLaunch", kLaunch, "Launch", 0, kPlain, true},
    {"Ccomment", kComment, "Comment", 0, kPlain, false},
    {"CTimer", kind::kTimer, "Timer", 0, category::kTimer, true},
    {"CAudio", kInsertFolder, nullptr, 0, kPlain, true},
    {"CFileAudio", kSound, "Sound", 0, kPlain, true},
    {"CDiscAudio", kCdAudio, "CD Audio", 0, kPlain, true},
    {"CVisibleInsert", kInsertFolder, nullptr, 0, kVisible, true},
    {"CDisplay", kImage, "Image", 0, kVisible, true},
    {"CAVI", kMovie, "Movie", 0, kVisible, true},
    {"CMPlayer", kMediaPlayer, "MediaPlayer", 0, kVisible, true},
    {"CSDButton", kButton, "Button", 0, kVisible, true},
    {"CBasic", kOrlan, "Orlan", 0, kVisible, true},
    {"CText", kind::kText, "Text", 0, kVisible, true},
    {"ScDLL", kDll, "DLL", 0, kVisible, true},
    {"CSprite", kSprite, "Sprite", 0, kVisible, true},
    {"CHotSpot", kHotspot, "Hotspot", 0, kVisible, true},
    {"CRTF", kRichText, "Rich Text", 0, kVisible, true},
    {"CStageCursor", kStageCursor, "Stage Cursor", 0, kVisible, true},
    {"C3d", k3d, "3D", 0, kVisible, true},
    {"CMenuObj", kMenu, "Menu", 0, kVisible, true},
    {"CDataEntry", kDataEntry, "Data Entry", 0, kVisible, true},
    {"COleCtl", kInsertFolder, "ActiveX Control", 0, kVisible, true},
    {"CGraphic", kInsertFolder, nullptr, 0, kVisible, true},
    {"CObjectFill", kInsertFolder, nullptr, 0, kVisible, true},
    {"CRectangle", kInsertFolder, "Rectangle", 0, kVisible, true},
    {"CTriangle", kInsertFolder, "Triangle", 0, kVisible, true},
    {"CEllipse", kInsertFolder, "Ellipse", 0, kVisible, true},
    {"CPoly", kInsertFolder, "Polygon", 0, kVisible, true},
};

}  // namespace

std::span<const KindInfo> KindTable() { return kKinds; }

const KindInfo* FindKind(std::string_view className) {
  auto it = std::find_if(std::begin(kKinds), std::end(kKinds),
                         [&](const KindInfo& k) { return className == k.className; });
  return it == std::end(kKinds) ? nullptr : &*it;
}

}  // namespace kv
