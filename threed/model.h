// A 3D model as the renderer draws it: triangles, line segments and points
// in model space with their colours, made by the metafile reader
// (threed/metafile.h) and drawn by the renderer (threed/render.h).
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace kv::threed {

struct Vec3 {
  float x = 0, y = 0, z = 0;
  friend constexpr Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
  friend constexpr Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
  friend constexpr Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
  friend constexpr bool operator==(Vec3, Vec3) = default;
};

constexpr float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
constexpr Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
inline float Length(Vec3 a) { return std::sqrt(Dot(a, a)); }
// The zero vector stays zero.
inline Vec3 Normalized(Vec3 a) {
  const float l = Length(a);
  return l > 0 ? a * (1.0f / l) : a;
}

// Channels from 0 to 1.
struct Rgb {
  float r = 1, g = 1, b = 1;
  friend constexpr bool operator==(Rgb, Rgb) = default;
};

struct ModelVertex {
  Vec3 position;
  Vec3 normal;  // zero: the triangle's own normal is used
  Rgb color;    // diffuse
};

// Counter-clockwise seen from the front.
struct Triangle {
  ModelVertex v[3];
  Rgb specular{0, 0, 0};
  float specularExponent = 0;  // 0: no highlight
  float opacity = 1;
  // Bit i: the edge from v[i] to v[(i + 1) % 3] is an edge of the original
  // polygon, drawn by the wireframe renderer (diagonals of a split are not).
  uint8_t outline = 7;
};

struct Segment {
  Vec3 a, b;
  Rgb color;
};

struct ModelPoint {
  Vec3 position;
  Rgb color;
};

struct Bounds {
  Vec3 min, max;
  bool empty = true;
  void Add(Vec3 p) {
    if (empty) {
      min = max = p;
      empty = false;
      return;
    }
    min = {std::fmin(min.x, p.x), std::fmin(min.y, p.y), std::fmin(min.z, p.z)};
    max = {std::fmax(max.x, p.x), std::fmax(max.y, p.y), std::fmax(max.z, p.z)};
  }
};

struct Model {
  std::vector<Triangle> triangles;
  std::vector<Segment> lines;
  std::vector<ModelPoint> points;

  Bounds ComputeBounds() const {
    Bounds b;
    for (const Triangle& t : triangles)
      for (const ModelVertex& v : t.v) b.Add(v.position);
    for (const Segment& s : lines) b.Add(s.a), b.Add(s.b);
    for (const ModelPoint& d : points) b.Add(d.position);
    return b;
  }
};

}  // namespace kv::threed
