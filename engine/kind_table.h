// The one list of insert kinds. engine/kinds.cpp builds the identity table
// from it and each layer's Register...Classes() registers its classes from
// it, so a new kind is its own files plus one line here.
//
// X(Class, kind id, kind name, container kind, category, plays, window)
//   kind name  null for a base class, which answers "Undefined"
//   plays      kPlays, kNeverPlays, or NotYet("what it needs"): a kind that
//              loads and stores but has no behaviour yet raises a run-time
//              error naming what it needs when played
//   window     kWindow when the kind lives in a native widget
// Names are resolved in engine/kinds.cpp (namespaces kind and category).
#pragma once

// Kinds of the engine layer, which registers them itself.
#define KV_ENGINE_KINDS(X)                                                                   \
  X(CInsert, kInsertFolder, "Insert Folder", 2, kPlain, kNeverPlays, kNoWindow)               \
  X(CBottom, kInsertFolder, ".................", 0, kPlain, kNeverPlays, kNoWindow)           \
  X(CWait, kWait, "Wait", 0, kPlain, kNeverPlays, kNoWindow)                                  \
  X(CFlow, kScriptFlow, "Script Flow", 0, kFlow, kNeverPlays, kNoWindow)                      \
  X(CVar, kGlobalVariables, "Global Variables", 0, kVariables, kNeverPlays, kNoWindow)        \
  X(CCalc, kCalculation, "Calculation", 0, kPlain, kPlays, kNoWindow)                         \
  X(CJump, kJump, "Jump", 0, kPlain, kNeverPlays, kNoWindow)                                  \
  X(CLabel, kLabel, "Label", 0, kPlain, kNeverPlays, kNoWindow)                               \
  X(CCompare, kComparison, "Comparison", 0, kPlain, kPlays, kNoWindow)                        \
  X(CLaunch, kLaunch, "Launch", 0, kPlain, kPlays, kNoWindow)                                 \
  X(Ccomment, kComment, "Comment", 0, kPlain, kNeverPlays, kNoWindow)                         \
  X(CTimer, kind::kTimer, "Timer", 0, category::kTimer, kPlays, kNoWindow)

// Records the engine's kinds hold, registered with them.
#define KV_ENGINE_RECORDS(X) X(CVarsItem)

// Kinds of the layers above (stage, media, extensions), registered by
// RegisterInsertClasses().
#define KV_UPPER_KINDS(X)                                                                                      \
  X(CMCI, kMci, "MCI", 0, kPlain, kPlays, kNoWindow)                                                            \
  X(CAudio, kInsertFolder, nullptr, 0, kPlain, kPlays, kNoWindow)                                               \
  X(CFileAudio, kSound, "Sound", 0, kPlain, kPlays, kNoWindow)                                                  \
  X(CDiscAudio, kCdAudio, "CD Audio", 0, kPlain, kPlays, kNoWindow)                                             \
  X(CVisibleInsert, kInsertFolder, nullptr, 0, kVisible, kPlays, kNoWindow)                                     \
  X(CDisplay, kImage, "Image", 0, kVisible, kPlays, kNoWindow)                                                  \
  X(CAVI, kMovie, "Movie", 0, kVisible, kPlays, kNoWindow)                                                      \
  X(CMPlayer, kMediaPlayer, "MediaPlayer", 0, kVisible, kPlays, kNoWindow)                                      \
  X(CSDButton, kButton, "Button", 0, kVisible, kPlays, kNoWindow)                                               \
  X(CBasic, kOrlan, "Orlan", 0, kVisible, kPlays, kNoWindow)                                                    \
  X(CText, kind::kText, "Text", 0, kVisible, kPlays, kNoWindow)                                                 \
  X(ScDLL, kDll, "DLL", 0, kVisible, kPlays, kNoWindow)                                                         \
  X(CSprite, kSprite, "Sprite", 0, kVisible, kPlays, kNoWindow)                                                \
  X(CHotSpot, kHotspot, "Hotspot", 0, kVisible, kPlays, kNoWindow)                                              \
  X(CRTF, kRichText, "Rich Text", 0, kVisible, kPlays, kWindow)                                                 \
  X(CStageCursor, kStageCursor, "Stage Cursor", 0, kVisible, kPlays, kNoWindow)                                 \
  X(C3d, k3d, "3D", 0, kVisible, kPlays, kNoWindow)                                                             \
  X(CMenuObj, kMenu, "Menu", 0, kVisible, kPlays, kNoWindow)                                                    \
  X(CDataEntry, kDataEntry, "Data Entry", 0, kVisible, kPlays, kWindow)                                         \
  X(COleCtl, kInsertFolder, "ActiveX Control", 0, kVisible, kPlays, kWindow)                                    \
  X(CGraphic, kInsertFolder, nullptr, 0, kVisible, kPlays, kNoWindow)                                           \
  X(CObjectFill, kInsertFolder, nullptr, 0, kVisible, kPlays, kNoWindow)                                        \
  X(CRectangle, kInsertFolder, "Rectangle", 0, kVisible, kPlays, kNoWindow)                                     \
  X(CTriangle, kInsertFolder, "Triangle", 0, kVisible, kPlays, kNoWindow)                                       \
  X(CEllipse, kInsertFolder, "Ellipse", 0, kVisible, kPlays, kNoWindow)                                         \
  X(CPoly, kInsertFolder, "Polygon", 0, kVisible, kPlays, kNoWindow)

// Records the upper kinds hold, registered with them.
#define KV_UPPER_RECORDS(X) X(CKVFont) X(CCollectData) X(CMenuDefinition) X(CMenuItem) X(CSubMenu)
