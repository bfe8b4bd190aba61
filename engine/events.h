// Event codes an insert raises and its handlers answer. Each code is also the
// string id of the event's name.
#pragma once

#include <cstdint>

namespace kv::event {

inline constexpr uint32_t kStopPlaying = 9000;
inline constexpr uint32_t kLoaded = 9003;
inline constexpr uint32_t kOnStage = 9004;
inline constexpr uint32_t kLeftButtonPressed = 9005;
inline constexpr uint32_t kLeftButtonReleased = 9006;
inline constexpr uint32_t kEqual = 9007;
inline constexpr uint32_t kNotEqual = 9008;
inline constexpr uint32_t kGreater = 9009;
inline constexpr uint32_t kLess = 9010;
inline constexpr uint32_t kGreaterOrEqual = 9011;
inline constexpr uint32_t kLessOrEqual = 9012;
inline constexpr uint32_t kSetup = 9013;
inline constexpr uint32_t kFileChange = 9014;
inline constexpr uint32_t kRightButtonPressed = 9015;
inline constexpr uint32_t kRightButtonReleased = 9016;
inline constexpr uint32_t kMiddleButtonPressed = 9017;
inline constexpr uint32_t kMiddleButtonReleased = 9018;
// A menu raises the choice of an item under the same code.
inline constexpr uint32_t kMenuItemChosen = kMiddleButtonReleased;
inline constexpr uint32_t kLeftNoAction = 9019;
inline constexpr uint32_t kCursorEntering = 9020;
inline constexpr uint32_t kCursorLeaving = 9021;
inline constexpr uint32_t kOffStage = 9022;
inline constexpr uint32_t kTimerExpired = 9023;
inline constexpr uint32_t kTimerDead = 9024;
inline constexpr uint32_t kSpriteAutoCentered = 9026;
inline constexpr uint32_t kSpriteCenterCycling = 9027;
inline constexpr uint32_t kHotkeyPressed = 9028;
inline constexpr uint32_t kHotkeyReleased = 9030;
inline constexpr uint32_t kDraggingWithin = 9031;
inline constexpr uint32_t kGoingOnStage = 9032;
inline constexpr uint32_t kEnabled = 9033;
inline constexpr uint32_t kDisabled = 9034;
inline constexpr uint32_t kShown = 9035;
inline constexpr uint32_t kHidden = 9036;
inline constexpr uint32_t kPaused = 9037;
inline constexpr uint32_t kUnpaused = 9038;
inline constexpr uint32_t kStartPlaying = 9039;
inline constexpr uint32_t kCursorMoving = 9040;
inline constexpr uint32_t kDoubleClick = 9043;
inline constexpr uint32_t kDropFromDrag = 9044;

// A handler's event code before it is attached to any event.
inline constexpr uint32_t kNoEvent = 999999;

}  // namespace kv::event
