// The table of transition effects: each effect number's routine family, its
// variant and its default parameters, and the rule that fills in parameters
// a caller leaves at -1. Used by the transition engine and by kvtool.
#pragma once

#include <cstdint>

namespace kv {

inline constexpr int kLastEffect = 107;
// A parameter or duration passed as -1: take the effect's default.
inline constexpr uint32_t kEffectDefault = 0xFFFFFFFFu;
// The string id of effect n's name is kEffectNameBase + n.
inline constexpr uint32_t kEffectNameBase = 4000;

enum class EffectFamily : uint8_t {
  kNone,
  kWipe,            // variant: 1 stretches the picture into the revealed part
  kCloseOpen,       // variant bit 0: open from the middle; bit 1: stretching
  kBlinds,
  kGrowingRect,     // variant: 1 stretching
  kSlide,
  kBlocks,
  kPush,
  kStack,
  kSmallPattern,    // variant: which 8 x 8 pattern
  kRandomCells,     // variant: 0 ellipses, 1 polygons, 2 rectangles
  kPatternShapes,   // variant: 0 circles, 1 diamonds
  kPixelFade,
  kWave,
  kClock,
  kSpiral,
  kPuzzle,
  kCircuit,
  kSkipLines,
  kMosaic,          // variant: 0 plain, 1 stage, 2 implode, 3 implode stage, 4 directional
  kPaletteFade,     // variant: 0 fade in, 1 to 6 through a colour
  kRoll,            // variant: 0 roll, 1 roll away
  kGrowingShapes,   // variant: see GrowingShape in effect_routines.h
  kMoveAway,        // variant: 0 to 7 the eight directions from right clockwise, 8 and 9 spirals
  kGrowingLines,
  kDiagonalStretch, // variant: the corner the picture grows from
};

// Which way an effect runs: the direction its front moves.
enum class Orient : uint8_t { kDown, kUp, kRight, kLeft };

// The six leading values of a row of the default table.
struct EffectDefaultRow {
  int smallP1, smallP2, reserved, p1At320, p2At320, durationAt320;
};

struct EffectInfo {
  EffectFamily family;
  Orient orient;
  uint8_t variant;
  EffectDefaultRow defaults;
};

// The table row of `effect`; effect 0 and numbers past the last give kNone.
const EffectInfo& InfoOf(uint32_t effect);
// "(None)", "Wipe top to bottom", ...; empty for an unknown number.
const char* EffectName(uint32_t effect);

struct EffectParams {
  int param1 = 0;
  int param2 = 0;
  int durationMs = 0;
};

// Replaces each value given as kEffectDefault by the effect's default for an
// object of `width` x `height`; the others pass unchanged.
EffectParams ResolveEffectParams(uint32_t effect, uint32_t param1, uint32_t param2, uint32_t durationMs, int width,
                                 int height);

}  // namespace kv
