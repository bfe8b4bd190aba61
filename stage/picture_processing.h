// Picture processing: the pixel work of the fourteen operations a script can
// apply to an object's picture (grey scale, invert, brightness, red-eye,
// edges, tonal adjustment, blur, emboss, checkerboard, rotation, soften,
// mirror, flip). Works on a picture at its own depth (8 bits with a colour
// table, 16, 24 or 32 bits); the caller decides what to do with the result.
#pragma once

#include <cstdint>

#include "platform/geometry.h"
#include "stage/picture.h"

namespace kv {

class StageSprite;

namespace picture_op {
inline constexpr int kGreyScale = 1;
inline constexpr int kInvert = 2;
inline constexpr int kBrightness = 3;
inline constexpr int kRedEye = 4;
inline constexpr int kBrightenEdges = 5;
inline constexpr int kTonal = 6;
inline constexpr int kBlur = 7;
inline constexpr int kEmboss = 8;
inline constexpr int kCheckerboard = 9;
inline constexpr int kRotate = 10;
inline constexpr int kSoften = 11;
inline constexpr int kEmbossToo = 12;
inline constexpr int kMirror = 13;
inline constexpr int kFlip = 14;
}  // namespace picture_op

// Whether `type` is one of the fourteen operations.
bool IsPictureOp(int type);
// Whether `type` works on a packed copy (and may be limited to a rectangle).
bool IsPackedPictureOp(int type);

// A rectangle in picture pixels, right and bottom inclusive, rows from the
// top; -1 coordinates mean the picture's edge (left -1: the whole picture).
struct PictureRegion {
  int left = -1, top = -1, right = -1, bottom = -1;
};

// -1 coordinates become the edges, swapped corners are ordered and every
// coordinate is clamped into a `width` x `height` picture.
PictureRegion NormaliseRegion(PictureRegion r, int width, int height);
bool CoversPicture(const PictureRegion& r, int width, int height);

struct PictureOpArgs {
  int type = 0;
  int value = 0;
  int value2 = 0;
  PictureRegion region;
  // What the new picture of the rebuilding operations is filled with first.
  ColorRef background{0x00F0F8F8};
};

// Applies the operation to `pic` (replaced by the result, which may change
// size when rotating). Answers false when the depth is not handled (the
// picture is left as it was). Throws std::invalid_argument for a type that
// is no operation.
bool ApplyPictureOp(DecodedPicture& pic, const PictureOpArgs& args);

// The sprite's picture at the depth it was given in, rebuilt from what the
// sprite keeps (exact for 8-bit pictures and on a 32-bit stage; 16-bit ones
// come back as 5-6-5). False when the sprite has no picture.
bool SpritePictureAtDepth(StageSprite& sprite, DecodedPicture& out);

}  // namespace kv
