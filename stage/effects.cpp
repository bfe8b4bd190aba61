#include "stage/effects.h"

#include <algorithm>
#include <array>

#include "platform/string_table.h"

namespace kv {

namespace {

using F = EffectFamily;
using O = Orient;

// Rows the stored defaults fix.
constexpr EffectDefaultRow kWipeVertical{1, 0, 10, 2, 0, 1000};
constexpr EffectDefaultRow kWipeHorizontal{1, 0, 10, 4, 0, 1000};
constexpr EffectDefaultRow kCurtain{1, 0, 20, 2, 0, 1000};
constexpr EffectDefaultRow kBlindsRow{8, 0, 65, 8, 0, 1000};
constexpr EffectDefaultRow kGrowRectRow{1, 0, 30, 4, 0, 1000};
constexpr EffectDefaultRow kStretchRow{1, 0, 15, 16, 0, 1500};
constexpr EffectDefaultRow kFadeInRow{5, 0, 1, 5, 0, 5000};
constexpr EffectDefaultRow kFadeColorRow{5, 0, 1, 5, 0, 8000};
constexpr EffectDefaultRow kLinesRow{5, 1, 50, 12, 1, 1000};
constexpr EffectDefaultRow kDiagonalRow{2, 0, 10, 12, 0, 1500};
// Rows of our own for the other families (see docs/effects.md).
constexpr EffectDefaultRow kBandRow{1, 0, 10, 4, 0, 1000};
constexpr EffectDefaultRow kCellRow{8, 8, 10, 40, 40, 1000};
constexpr EffectDefaultRow kStackRow{8, 8, 10, 64, 48, 1500};
constexpr EffectDefaultRow kNoParams{0, 0, 10, 0, 0, 1000};
constexpr EffectDefaultRow kPolygonRow{8, 8, 10, 32, 32, 1000};
constexpr EffectDefaultRow kRectCellRow{4, 4, 10, 16, 16, 1000};
constexpr EffectDefaultRow kPatternRow{8, 0, 10, 32, 0, 1000};
constexpr EffectDefaultRow kWaveRow{1, 2, 10, 4, 16, 1000};
constexpr EffectDefaultRow kClockRow{30, 1, 10, 6, 1, 1000};
constexpr EffectDefaultRow kSmallCellRow{4, 0, 10, 16, 0, 1000};
constexpr EffectDefaultRow kMosaicRow{4, 1, 10, 32, 4, 1000};
constexpr EffectDefaultRow kRollRow{1, 2, 10, 4, 16, 1000};
constexpr EffectDefaultRow kGrowRow{1, 4, 10, 4, 12, 1000};
constexpr EffectDefaultRow kMoveRow{1, 0, 10, 8, 0, 1000};
constexpr EffectDefaultRow kOutside{8, 8, 0, 8, 8, 1000};

constexpr std::array<EffectInfo, kLastEffect + 1> kTable{{
    {F::kNone, O::kDown, 0, kOutside},
    {F::kWipe, O::kDown, 0, kWipeVertical},  // 1
    {F::kWipe, O::kUp, 0, kWipeVertical},
    {F::kWipe, O::kRight, 0, kWipeHorizontal},
    {F::kWipe, O::kLeft, 0, kWipeHorizontal},
    {F::kCloseOpen, O::kDown, 0, kCurtain},  // 5 horizontal close
    {F::kCloseOpen, O::kDown, 1, kCurtain},
    {F::kCloseOpen, O::kRight, 0, kCurtain},  // 7 curtain close
    {F::kCloseOpen, O::kRight, 1, kCurtain},
    {F::kBlinds, O::kDown, 0, kBlindsRow},  // 9
    {F::kBlinds, O::kRight, 0, kBlindsRow},
    {F::kGrowingRect, O::kDown, 0, kGrowRectRow},  // 11
    {F::kSlide, O::kDown, 0, kBandRow},  // 12
    {F::kSlide, O::kUp, 0, kBandRow},
    {F::kSlide, O::kRight, 0, kBandRow},
    {F::kSlide, O::kLeft, 0, kBandRow},
    {F::kBlocks, O::kDown, 0, kCellRow},  // 16
    {F::kBlocks, O::kUp, 0, kCellRow},
    {F::kBlocks, O::kRight, 0, kCellRow},
    {F::kBlocks, O::kLeft, 0, kCellRow},
    {F::kPush, O::kDown, 0, kBandRow},  // 20
    {F::kPush, O::kUp, 0, kBandRow},
    {F::kPush, O::kRight, 0, kBandRow},
    {F::kPush, O::kLeft, 0, kBandRow},
    {F::kStack, O::kDown, 0, kStackRow},  // 24 stack up: filled from the top
    {F::kStack, O::kUp, 0, kStackRow},
    {F::kStack, O::kRight, 0, kStackRow},  // 26 stack left: filled from the left
    {F::kStack, O::kLeft, 0, kStackRow},
    {F::kSmallPattern, O::kDown, 0, kNoParams},  // 28
    {F::kSmallPattern, O::kDown, 1, kNoParams},
    {F::kSmallPattern, O::kDown, 2, kNoParams},
    {F::kSmallPattern, O::kDown, 3, kNoParams},
    {F::kSmallPattern, O::kDown, 4, kNoParams},
    {F::kSmallPattern, O::kDown, 5, kNoParams},
    {F::kRandomCells, O::kDown, 0, kNoParams},  // 34
    {F::kRandomCells, O::kDown, 1, kPolygonRow},
    {F::kRandomCells, O::kDown, 2, kRectCellRow},
    {F::kPatternShapes, O::kDown, 0, kPatternRow},  // 37
    {F::kPatternShapes, O::kDown, 1, kPatternRow},
    {F::kPixelFade, O::kDown, 0, kNoParams},  // 39
    {F::kWave, O::kDown, 0, kWaveRow},  // 40
    {F::kWave, O::kUp, 0, kWaveRow},
    {F::kWave, O::kRight, 0, kWaveRow},
    {F::kWave, O::kLeft, 0, kWaveRow},
    {F::kClock, O::kDown, 0, kClockRow},  // 44
    {F::kSpiral, O::kDown, 0, kSmallCellRow},
    {F::kPuzzle, O::kDown, 0, kCellRow},
    {F::kCircuit, O::kDown, 0, kSmallCellRow},
    {F::kSkipLines, O::kDown, 0, kBandRow},  // 48
    {F::kSkipLines, O::kRight, 0, kBandRow},
    {F::kMosaic, O::kDown, 0, kMosaicRow},  // 50
    {F::kMosaic, O::kDown, 1, kMosaicRow},
    {F::kMosaic, O::kDown, 2, kMosaicRow},
    {F::kMosaic, O::kDown, 3, kMosaicRow},
    {F::kMosaic, O::kDown, 4, kMosaicRow},  // 54
    {F::kMosaic, O::kUp, 4, kMosaicRow},
    {F::kMosaic, O::kRight, 4, kMosaicRow},
    {F::kMosaic, O::kLeft, 4, kMosaicRow},
    {F::kGrowingRect, O::kDown, 1, kStretchRow},  // 58
    {F::kWipe, O::kDown, 1, kStretchRow},  // 59
    {F::kWipe, O::kUp, 1, kStretchRow},
    {F::kWipe, O::kRight, 1, kStretchRow},
    {F::kWipe, O::kLeft, 1, kStretchRow},
    {F::kCloseOpen, O::kDown, 2, kStretchRow},  // 63 stretch close
    {F::kCloseOpen, O::kDown, 3, kStretchRow},
    {F::kCloseOpen, O::kRight, 3, kStretchRow},  // 65 stretch open vertical
    {F::kCloseOpen, O::kRight, 2, kStretchRow},
    {F::kPaletteFade, O::kDown, 0, kFadeInRow},  // 67
    {F::kPaletteFade, O::kDown, 1, kFadeColorRow},
    {F::kPaletteFade, O::kDown, 2, kFadeColorRow},
    {F::kPaletteFade, O::kDown, 3, kFadeColorRow},
    {F::kPaletteFade, O::kDown, 4, kFadeColorRow},
    {F::kPaletteFade, O::kDown, 5, kFadeColorRow},
    {F::kPaletteFade, O::kDown, 6, kFadeColorRow},
    {F::kRoll, O::kDown, 0, kRollRow},  // 74
    {F::kRoll, O::kUp, 0, kRollRow},
    {F::kRoll, O::kRight, 0, kRollRow},
    {F::kRoll, O::kLeft, 0, kRollRow},
    {F::kRoll, O::kDown, 1, kRollRow},  // 78 roll away
    {F::kRoll, O::kUp, 1, kRollRow},
    {F::kRoll, O::kRight, 1, kRollRow},
    {F::kRoll, O::kLeft, 1, kRollRow},
    {F::kGrowingShapes, O::kDown, 0, kGrowRow},  // 82
    {F::kGrowingShapes, O::kDown, 1, kGrowRow},
    {F::kGrowingShapes, O::kDown, 2, kGrowRow},
    {F::kGrowingShapes, O::kDown, 3, kGrowRow},
    {F::kGrowingShapes, O::kDown, 4, kGrowRow},
    {F::kGrowingShapes, O::kDown, 5, kGrowRow},
    {F::kGrowingShapes, O::kDown, 6, kGrowRow},
    {F::kGrowingShapes, O::kDown, 7, kGrowRow},
    {F::kMoveAway, O::kDown, 0, kMoveRow},  // 90
    {F::kMoveAway, O::kDown, 1, kMoveRow},
    {F::kMoveAway, O::kDown, 2, kMoveRow},
    {F::kMoveAway, O::kDown, 3, kMoveRow},
    {F::kMoveAway, O::kDown, 4, kMoveRow},
    {F::kMoveAway, O::kDown, 5, kMoveRow},
    {F::kMoveAway, O::kDown, 6, kMoveRow},
    {F::kMoveAway, O::kDown, 7, kMoveRow},
    {F::kMoveAway, O::kDown, 8, kMoveRow},
    {F::kMoveAway, O::kDown, 9, kMoveRow},
    {F::kGrowingLines, O::kDown, 0, kLinesRow},  // 100
    {F::kGrowingLines, O::kUp, 0, kLinesRow},
    {F::kGrowingLines, O::kRight, 0, kLinesRow},
    {F::kGrowingLines, O::kLeft, 0, kLinesRow},
    {F::kDiagonalStretch, O::kDown, 0, kDiagonalRow},  // 104
    {F::kDiagonalStretch, O::kDown, 1, kDiagonalRow},
    {F::kDiagonalStretch, O::kDown, 2, kDiagonalRow},
    {F::kDiagonalStretch, O::kDown, 3, kDiagonalRow},
}};

int Scaled(int small, int at320, int size) { return small + size * (at320 - small) / 320; }

}  // namespace

const EffectInfo& InfoOf(uint32_t effect) { return kTable[effect <= kLastEffect ? effect : 0]; }

const char* EffectName(uint32_t effect) { return effect <= kLastEffect ? LoadString(kEffectNameBase + effect) : ""; }

EffectParams ResolveEffectParams(uint32_t effect, uint32_t param1, uint32_t param2, uint32_t durationMs, int width,
                                 int height) {
  const bool known = effect >= 1 && effect <= kLastEffect;
  const EffectDefaultRow& d = kTable[known ? effect : 0].defaults;
  const int s = (width + height) / 2;
  EffectParams p{int(param1), int(param2), int(durationMs)};
  if (param1 == kEffectDefault) p.param1 = known ? std::max(Scaled(d.smallP1, d.p1At320, s), 0) : 8;
  if (param2 == kEffectDefault) p.param2 = known ? std::max(Scaled(d.smallP2, d.p2At320, s), 0) : 8;
  if (durationMs == kEffectDefault) p.durationMs = known ? std::max(Scaled(500, d.durationAt320, s), 1) : 1000;
  return p;
}

}  // namespace kv
