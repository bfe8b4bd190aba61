// Small value types for stage geometry and colour, shared by the stored
// records, the compositor, its sprites and every later drawing client.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace kv {

// A colour as the stored files hold it: 0x00BBGGRR.
struct ColorRef {
  uint32_t value = 0;

  constexpr ColorRef() = default;
  constexpr explicit ColorRef(uint32_t v) : value(v & 0x00FFFFFFu) {}
  static constexpr ColorRef FromRgb(uint8_t r, uint8_t g, uint8_t b) {
    return ColorRef(uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16);
  }
  constexpr uint8_t Red() const { return uint8_t(value); }
  constexpr uint8_t Green() const { return uint8_t(value >> 8); }
  constexpr uint8_t Blue() const { return uint8_t(value >> 16); }
  friend constexpr bool operator==(ColorRef, ColorRef) = default;
};

// A 64-bit result brought back into int's range.
constexpr int ClampToInt(int64_t v) {
  return int(std::clamp<int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

struct Point {
  int x = 0;
  int y = 0;
  friend constexpr bool operator==(Point, Point) = default;
};

// Left/top inclusive, right/bottom exclusive, as the stage's rectangles are.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  // Coordinates come from stored files, so sizes are taken in 64 bits: the
  // exact span for arithmetic that must not wrap, and its clamped int.
  constexpr int64_t Width64() const { return int64_t(right) - left; }
  constexpr int64_t Height64() const { return int64_t(bottom) - top; }
  constexpr int Width() const { return ClampToInt(Width64()); }
  constexpr int Height() const { return ClampToInt(Height64()); }
  constexpr bool IsEmpty() const { return right <= left || bottom <= top; }
  constexpr bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  constexpr bool Contains(const Rect& r) const {
    return r.left >= left && r.top >= top && r.right <= right && r.bottom <= bottom;
  }
  // Shares at least one pixel.
  constexpr bool Overlaps(const Rect& r) const {
    return r.left < right && left < r.right && r.top < bottom && top < r.bottom;
  }
  // Shares a pixel or an edge.
  constexpr bool Touches(const Rect& r) const {
    return r.left <= right && left <= r.right && r.top <= bottom && top <= r.bottom;
  }
  constexpr Rect Intersect(const Rect& r) const {
    Rect o{std::max(left, r.left), std::max(top, r.top), std::min(right, r.right), std::min(bottom, r.bottom)};
    return o.IsEmpty() ? Rect{} : o;
  }
  constexpr Rect Union(const Rect& r) const {
    if (IsEmpty()) return r;
    if (r.IsEmpty()) return *this;
    return {std::min(left, r.left), std::min(top, r.top), std::max(right, r.right), std::max(bottom, r.bottom)};
  }
  constexpr Rect Offset(int dx, int dy) const {
    return {ClampToInt(int64_t(left) + dx), ClampToInt(int64_t(top) + dy), ClampToInt(int64_t(right) + dx),
            ClampToInt(int64_t(bottom) + dy)};
  }
  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace kv
