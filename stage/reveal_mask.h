// A sprite's reveal mask: which pixels of its area the compositor draws while
// a transition effect runs. The effect engine owns and edits it; the
// compositor reads it under the stage lock when it draws the sprite.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/geometry.h"

namespace kv {

struct RevealMask {
  Rect area;                  // stage rectangle covered; nothing outside it is drawn
  uint8_t on = 1;             // the byte value that means "drawn here"
  std::vector<uint8_t> bits;  // one byte per pixel of `area`, rows of area.Width()

  void Reset(const Rect& r, uint8_t value = 0) {
    area = r;
    bits.assign(size_t(std::max(r.Width(), 0)) * size_t(std::max(r.Height(), 0)), value);
  }
  int Stride() const { return area.Width(); }
  // The byte of stage point (x, y), which must lie in `area`.
  uint8_t* At(int x, int y) { return &bits[size_t(y - area.top) * size_t(Stride()) + size_t(x - area.left)]; }
  const uint8_t* At(int x, int y) const {
    return &bits[size_t(y - area.top) * size_t(Stride()) + size_t(x - area.left)];
  }
  bool Drawn(int x, int y) const { return area.Contains(x, y) && *At(x, y) == on; }
  // Sets the part of stage rectangle `r` inside `area`.
  void Fill(const Rect& r, uint8_t value) {
    const Rect c = r.Intersect(area);
    for (int y = c.top; y < c.bottom; ++y) std::fill_n(At(c.left, y), c.Width(), value);
  }
};

}  // namespace kv
