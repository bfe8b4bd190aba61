// Script-flow command codes: the one vocabulary of actions that handlers,
// requests, extensions and builtins use. Each code's name is string 5300 + code.
#pragma once

#include <cstdint>

namespace kv::command {

inline constexpr uint16_t kCallFreestyleScript = 0;
inline constexpr uint16_t kStartLibraryObject = 1;
inline constexpr uint16_t kThreadFreestyleScript = 2;
inline constexpr uint16_t kThreadLibraryObject = 3;
inline constexpr uint16_t kSuspendThisScript = 4;
inline constexpr uint16_t kSuspendScript = 5;
inline constexpr uint16_t kResumePausedObject = 6;
inline constexpr uint16_t kResumeScript = 7;
inline constexpr uint16_t kResumeAllPaused = 8;
inline constexpr uint16_t kHaltCurrentThread = 9;
inline constexpr uint16_t kHaltOtherThreads = 10;
inline constexpr uint16_t kHaltProject = 11;
inline constexpr uint16_t kRemoveObject = 12;
inline constexpr uint16_t kHideObject = 13;
inline constexpr uint16_t kShowHiddenObject = 14;
inline constexpr uint16_t kAdvanceScript = 15;
inline constexpr uint16_t kGoToFreestyleScript = 16;
inline constexpr uint16_t kRestartProject = 17;
inline constexpr uint16_t kJumpToTop = 18;
inline constexpr uint16_t kJumpToLabel = 19;
inline constexpr uint16_t kLeaveFreestyleScript = 20;
inline constexpr uint16_t kRemoveAllObjectsInScript = 21;
inline constexpr uint16_t kRemoveThisObject = 22;
inline constexpr uint16_t kAdvanceThisThread = 23;
inline constexpr uint16_t kDisableObject = 24;
inline constexpr uint16_t kEnableObject = 25;
inline constexpr uint16_t kRetreatThisScript = 26;
inline constexpr uint16_t kClearTheStage = 27;
inline constexpr uint16_t kWaitForAdvance = 28;
inline constexpr uint16_t kFlowReplaceEvent = 29;
inline constexpr uint16_t kFlowLeaveEvent = 30;
inline constexpr uint16_t kFlowRunEvent = 31;
inline constexpr uint16_t kCallOrlanScriptSub = 32;
inline constexpr uint16_t kCallOrlanProjectSub = 33;
inline constexpr uint16_t kGoToNextScene = 34;
inline constexpr uint16_t kGoToPriorScene = 35;
inline constexpr uint16_t kGoToParentScript = 36;
inline constexpr uint16_t kPreloadScript = 37;
inline constexpr uint16_t kJumpToLabelInScript = 38;
inline constexpr uint16_t kShowThisObject = 39;
inline constexpr uint16_t kHideThisObject = 40;
inline constexpr uint16_t kPlayObject = 41;
inline constexpr uint16_t kPlayThisObject = 42;
inline constexpr uint16_t kPauseObject = 43;
inline constexpr uint16_t kPauseAllObjects = 44;
inline constexpr uint16_t kLaunchExecutable = 45;
inline constexpr uint16_t kRunNewProject = 46;
inline constexpr uint16_t kGotoUrl = 47;
inline constexpr uint16_t kInitializeObject = 48;
inline constexpr uint16_t kOpenCompilation = 49;
inline constexpr uint16_t kCloseCompilation = 50;
inline constexpr uint16_t kUnpackCompilation = 51;
inline constexpr uint16_t kStopObject = 52;
inline constexpr uint16_t kGoToScene = 53;
inline constexpr uint16_t kChangeFile = 54;
inline constexpr uint16_t kUpdateObject = 55;
inline constexpr uint16_t kClickObject = 56;
inline constexpr uint16_t kSaveProject = 57;
inline constexpr uint16_t kPrintStage = 58;
inline constexpr uint16_t kPrintObjectDomain = 59;
inline constexpr uint16_t kWriteScript = 60;
inline constexpr uint16_t kNothing = 62;
inline constexpr uint16_t kAppendToScript = 63;
inline constexpr uint16_t kPlaySoundInObject = 64;
inline constexpr uint16_t kPlayThisObjectsSound = 65;
inline constexpr uint16_t kPrintObjectAlone = 66;
inline constexpr uint16_t kProcessPicture = 67;
inline constexpr uint16_t kMoveObjectToCursor = 68;
inline constexpr uint16_t kMoveInTree = 69;
inline constexpr uint16_t kMciString = 70;
inline constexpr uint16_t kStopThisObject = 71;
inline constexpr uint16_t kPauseThisObject = 72;
inline constexpr uint16_t kResumeThisObject = 73;
inline constexpr uint16_t kStopSoundInObject = 74;
inline constexpr uint16_t kStopThisObjectsSound = 75;
inline constexpr uint16_t kDragWithMouse = 76;
inline constexpr uint16_t kSetStartTime = 77;
inline constexpr uint16_t kSetEndTime = 78;
inline constexpr uint16_t kDragStage = 79;
inline constexpr uint16_t kOleDragDrop = 80;
inline constexpr uint16_t kLastCommand = 81;
// Not a command of its own: a request telling a waiting insert that an event occurred.
inline constexpr uint16_t kEventOccurred = 82;
// A CFlow that carries no command.
inline constexpr uint16_t kNone = 0xFFFF;

}  // namespace kv::command
