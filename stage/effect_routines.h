// The step routines of the transition effects: one per family, with its
// variants as parameters. A routine knows nothing of sprites: it brings an
// EffectFrame (a mask of revealed pixels, or pieces of the old and new
// images) to each of its steps, in object coordinates. The transition engine
// draws frames through the compositor; docs/effects.md describes each family.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/geometry.h"
#include "stage/effects.h"

namespace kv {

// Step counts above this are merged into fewer, larger steps.
inline constexpr int kMaxEffectSteps = 16384;

// Part of an image drawn in one frame. Plain sources copy `src` of the image
// (the object's size) to `dst`, stretching when the sizes differ. Coarse
// sources draw the image as tiles of `cell` pixels, the grid starting at
// `origin`, each tile in the colour of its centre pixel.
struct EffectPiece {
  enum Source : uint8_t { kNew, kOld, kNewCoarse, kOldCoarse };
  Source source = kNew;
  Rect src;
  Rect dst;
  Rect clip;  // empty: dst (plain) or the whole object (coarse)
  int cell = 1;
  Point origin{};
};

struct EffectFrame {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> mask;  // mask routines: 1 where the new image shows, rows of `width`
  std::vector<EffectPiece> pieces;
  // Mask routines: the parts of the step's rectangle in which pixels changed
  // (empty: the whole rectangle). Shapes that grow apart change little of a
  // rectangle that spans them all.
  std::vector<Rect> parts;
};

class EffectRoutine {
 public:
  virtual ~EffectRoutine() = default;
  // Steps to run; 0 goes straight to the final state.
  int Steps() const { return steps_; }
  // The count the step clock is started with.
  int ClockSteps() const { return clockSteps_; }
  // A mask routine shows the new image in place where its mask is set;
  // the others describe every frame by pieces.
  bool UsesMask() const { return usesMask_; }
  // Brings `frame` to step i; steps come in order from 0. Answers the
  // rectangle that changed.
  virtual Rect Step(int i, EffectFrame& frame) = 0;

 protected:
  int steps_ = 0;
  int clockSteps_ = 0;
  bool usesMask_ = false;
};

struct RoutineInput {
  uint32_t effect = 0;
  int param1 = 0;
  int param2 = 0;
  int width = 0;
  int height = 0;
  uint32_t seed = 0;  // seconds of the clock: the shift register's start, the random generators' seed
};

// The routine of an effect from 1 to the last; null for any other number and
// for the palette fades, which a true-colour stage replaces before this.
std::unique_ptr<EffectRoutine> MakeEffectRoutine(const RoutineInput& in);

// The shift-register order of the pixel fade and the random cells: n calls
// give every index below n once, in a pseudo-random order fixed by `seed`.
class CellSequence {
 public:
  CellSequence(uint32_t n, uint32_t seed);
  uint32_t Next();
  int Bits() const { return bits_; }

 private:
  uint32_t n_;
  uint32_t reg_;
  uint32_t mask_;
  int bits_;
  int tapA_;
  int tapB_;
};

}  // namespace kv
