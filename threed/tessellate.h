// Turning the metafile's polygons and analytic shapes into triangles for the
// model (threed/metafile.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "threed/model.h"

namespace kv::threed {

// The resolution of analytic shapes: segments around and along a surface,
// and of curves.
inline constexpr int kAround = 24;
inline constexpr int kAlong = 12;
inline constexpr int kCurveSegments = 32;

struct FaceTriangle {
  uint32_t index[3];
  uint8_t outline = 7;  // as Triangle::outline
};

// A planar face of `points`: the first ring is its outline, any further ring
// a hole. Concave outlines and holes are split by ear clipping (holes first
// joined to the outline by a bridge); the triangles keep the outline's
// turning direction.
std::vector<FaceTriangle> TriangulateFace(const std::vector<Vec3>& points,
                                          const std::vector<std::vector<uint32_t>>& rings);

struct Surface {
  std::vector<Vec3> points;
  std::vector<Vec3> normals;  // zero: flat, the triangle's own
  std::vector<FaceTriangle> triangles;
};

// The box with a corner at `origin` spanned by the three vectors.
Surface BoxSurface(Vec3 orientation, Vec3 major, Vec3 minor, Vec3 origin);
Surface DiskSurface(Vec3 major, Vec3 minor, Vec3 origin);
Surface EllipsoidSurface(Vec3 orientation, Vec3 major, Vec3 minor, Vec3 origin);
// `caps`: 1 top, 2 bottom (a cone has no top).
Surface CylinderSurface(Vec3 orientation, Vec3 major, Vec3 minor, Vec3 origin, uint32_t caps, bool cone);
Surface TorusSurface(Vec3 orientation, Vec3 major, Vec3 minor, Vec3 origin, float ratio);

}  // namespace kv::threed
