// The platform's standard system colours (0x00BBGGRR) that stored kinds take
// as their reset defaults; the classic desktop scheme, fixed so that a new
// object looks the same on every host.
#pragma once

#include <cstdint>

namespace kv::syscolor {

inline constexpr uint32_t kBtnFace = 0x00C8D0D4;       // COLOR_BTNFACE
inline constexpr uint32_t kBtnShadow = 0x00808080;     // COLOR_BTNSHADOW
inline constexpr uint32_t kBtnHighlight = 0x00FFFFFF;  // COLOR_BTNHIGHLIGHT
inline constexpr uint32_t kBtnText = 0x00000000;       // COLOR_BTNTEXT
inline constexpr uint32_t kWindowFrame = 0x00000000;   // COLOR_WINDOWFRAME

}  // namespace kv::syscolor
