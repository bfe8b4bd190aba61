#include "threed/tessellate.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <unordered_set>

namespace kv::threed {

namespace {

struct P2 {
  double x, y;
};

double Cross(P2 o, P2 a, P2 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

double Area(const std::vector<P2>& p, const std::vector<uint32_t>& ring) {
  double a = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    const P2 u = p[ring[i]], v = p[ring[(i + 1) % ring.size()]];
    a += u.x * v.y - v.x * u.y;
  }
  return a / 2;
}

bool Same(P2 a, P2 b) { return a.x == b.x && a.y == b.y; }

// Whether the segments cross at a point inside both (shared ends do not count).
bool Crosses(P2 a, P2 b, P2 c, P2 d) {
  if (Same(a, c) || Same(a, d) || Same(b, c) || Same(b, d)) return false;
  const double d1 = Cross(c, d, a), d2 = Cross(c, d, b), d3 = Cross(a, b, c), d4 = Cross(a, b, d);
  return ((d1 > 0) != (d2 > 0)) && ((d3 > 0) != (d4 > 0)) && d1 != 0 && d2 != 0 && d3 != 0 && d4 != 0;
}

bool Inside(P2 p, P2 a, P2 b, P2 c) { return Cross(a, b, p) >= 0 && Cross(b, c, p) >= 0 && Cross(c, a, p) >= 0; }

uint64_t EdgeKey(uint32_t a, uint32_t b) { return a < b ? uint64_t(a) << 32 | b : uint64_t(b) << 32 | a; }

// Joins each hole to the outline through a bridge to the nearest outline
// vertex it can see, making one ring.
std::vector<uint32_t> Bridge(const std::vector<P2>& p, std::vector<uint32_t> outer,
                             std::vector<std::vector<uint32_t>> holes) {
  std::sort(holes.begin(), holes.end(), [&p](const auto& a, const auto& b) {
    auto maxX = [&p](const auto& r) {
      double m = -INFINITY;
      for (uint32_t i : r) m = std::max(m, p[i].x);
      return m;
    };
    return maxX(a) > maxX(b);
  });
  for (size_t h = 0; h < holes.size(); ++h) {
    const auto& hole = holes[h];
    size_t mi = 0;
    for (size_t i = 1; i < hole.size(); ++i)
      if (p[hole[i]].x > p[hole[mi]].x) mi = i;
    const P2 m = p[hole[mi]];
    auto blocked = [&](P2 a, P2 b) {
      auto ring = [&](const std::vector<uint32_t>& r) {
        for (size_t i = 0; i < r.size(); ++i)
          if (Crosses(a, b, p[r[i]], p[r[(i + 1) % r.size()]])) return true;
        return false;
      };
      if (ring(outer)) return true;
      for (size_t k = h; k < holes.size(); ++k)
        if (ring(holes[k])) return true;
      return false;
    };
    size_t best = SIZE_MAX;
    double bestDist = INFINITY;
    for (size_t i = 0; i < outer.size(); ++i) {
      const P2 q = p[outer[i]];
      const double d = (q.x - m.x) * (q.x - m.x) + (q.y - m.y) * (q.y - m.y);
      if (d < bestDist && !blocked(m, q)) best = i, bestDist = d;
    }
    if (best == SIZE_MAX) continue;  // no visible vertex: the hole is left out
    std::vector<uint32_t> merged(outer.begin(), outer.begin() + std::ptrdiff_t(best) + 1);
    for (size_t k = 0; k <= hole.size(); ++k) merged.push_back(hole[(mi + k) % hole.size()]);
    merged.insert(merged.end(), outer.begin() + std::ptrdiff_t(best), outer.end());
    outer = std::move(merged);
  }
  return outer;
}

// Ear clipping of a counter-clockwise ring; a ring with no ear left (not
// simple) is finished as a fan so every vertex is used.
void Clip(const std::vector<P2>& p, std::vector<uint32_t> ring, std::vector<FaceTriangle>& out) {
  size_t guard = 0;
  size_t i = 0;
  while (ring.size() > 3) {
    const size_t n = ring.size();
    const uint32_t a = ring[(i + n - 1) % n], b = ring[i % n], c = ring[(i + 1) % n];
    bool ear = Cross(p[a], p[b], p[c]) > 0;
    for (size_t k = 0; ear && k < n; ++k) {
      const uint32_t q = ring[k];
      if (Same(p[q], p[a]) || Same(p[q], p[b]) || Same(p[q], p[c])) continue;
      if (Inside(p[q], p[a], p[b], p[c])) ear = false;
    }
    if (ear || guard > n) {
      out.push_back({{a, b, c}, 0});
      ring.erase(ring.begin() + std::ptrdiff_t(i % n));
      guard = 0;
      if (i > 0) --i;
    } else {
      ++i;
      ++guard;
    }
    i %= ring.size();
  }
  if (ring.size() == 3) out.push_back({{ring[0], ring[1], ring[2]}, 0});
}

}  // namespace

std::vector<FaceTriangle> TriangulateFace(const std::vector<Vec3>& points,
                                          const std::vector<std::vector<uint32_t>>& rings) {
  std::vector<FaceTriangle> out;
  if (rings.empty() || rings[0].size() < 3) return out;
  const auto& outer = rings[0];
  if (rings.size() == 1 && outer.size() == 3) {
    out.push_back({{outer[0], outer[1], outer[2]}, 7});
    return out;
  }
  // Newell's normal of the outline picks the plane to work in.
  Vec3 n{};
  for (size_t i = 0; i < outer.size(); ++i) {
    const Vec3 a = points[outer[i]], b = points[outer[(i + 1) % outer.size()]];
    n = n + Vec3{(a.y - b.y) * (a.z + b.z), (a.z - b.z) * (a.x + b.x), (a.x - b.x) * (a.y + b.y)};
  }
  const float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
  const int drop = ax >= ay && ax >= az ? 0 : ay >= az ? 1 : 2;
  const float sign = (drop == 0 ? n.x : drop == 1 ? n.y : n.z) < 0 ? -1.0f : 1.0f;
  std::vector<P2> p(points.size());
  std::unordered_set<uint64_t> edges;
  for (const auto& ring : rings)
    for (size_t i = 0; i < ring.size(); ++i) {
      const Vec3 v = points[ring[i]];
      // Seen along the normal, the outline turns counter-clockwise.
      P2 q = drop == 0 ? P2{v.y, v.z} : drop == 1 ? P2{v.z, v.x} : P2{v.x, v.y};
      q.x *= sign;
      p[ring[i]] = q;
      edges.insert(EdgeKey(ring[i], ring[(i + 1) % ring.size()]));
    }
  std::vector<uint32_t> main = outer;
  if (Area(p, main) < 0) std::reverse(main.begin(), main.end());
  std::vector<std::vector<uint32_t>> holes(rings.begin() + 1, rings.end());
  for (auto& h : holes)
    if (Area(p, h) > 0) std::reverse(h.begin(), h.end());
  if (!holes.empty()) main = Bridge(p, std::move(main), std::move(holes));
  Clip(p, std::move(main), out);
  for (FaceTriangle& t : out) {
    t.outline = 0;
    for (int k = 0; k < 3; ++k)
      if (edges.count(EdgeKey(t.index[k], t.index[(k + 1) % 3]))) t.outline |= uint8_t(1 << k);
  }
  return out;
}

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// The map from a unit shape's local coordinates (x, y, z) to the model:
// x along `a`, y along `b`, z along `c`, then moved to `origin`.
struct Frame {
  Vec3 a, b, c, origin;
  Vec3 Point(float x, float y, float z) const { return origin + a * x + b * y + c * z; }
  // A local normal through the inverse transpose (the cofactors: the
  // crossed axes), so a stretched shape keeps its normals right.
  Vec3 Normal(float x, float y, float z) const {
    Vec3 n = Cross(b, c) * x + Cross(c, a) * y + Cross(a, b) * z;
    if (Dot(Cross(a, b), c) < 0) n = n * -1.0f;
    return Normalized(n);
  }
};

// A grid of (nu + 1) x (nv + 1) vertices; `at(u, v, point, normal)` with u,
// v from 0 to 1. Each quad splits into two triangles whose outline is the
// quad's; the triangles turn to face along their vertices' normals.
void Grid(Surface& s, int nu, int nv, const std::function<void(float, float, Vec3&, Vec3&)>& at) {
  const uint32_t base = uint32_t(s.points.size());
  for (int j = 0; j <= nv; ++j)
    for (int i = 0; i <= nu; ++i) {
      Vec3 p, n;
      at(float(i) / float(nu), float(j) / float(nv), p, n);
      s.points.push_back(p);
      s.normals.push_back(n);
    }
  auto id = [&](int i, int j) { return base + uint32_t(j * (nu + 1) + i); };
  for (int j = 0; j < nv; ++j)
    for (int i = 0; i < nu; ++i) {
      s.triangles.push_back({{id(i, j), id(i + 1, j), id(i + 1, j + 1)}, 3});
      s.triangles.push_back({{id(i, j), id(i + 1, j + 1), id(i, j + 1)}, 6});
    }
}

void FaceOutward(Surface& s, size_t from) {
  for (size_t k = from; k < s.triangles.size(); ++k) {
    FaceTriangle& t = s.triangles[k];
    const Vec3 a = s.points[t.index[0]], b = s.points[t.index[1]], c = s.points[t.index[2]];
    const Vec3 n = s.normals[t.index[0]] + s.normals[t.index[1]] + s.normals[t.index[2]];
    if (Dot(Cross(b - a, c - a), n) < 0) {
      std::swap(t.index[1], t.index[2]);
      const uint8_t o = t.outline;
      t.outline = uint8_t((o & 2) | (o & 1) << 2 | (o & 4) >> 2);
    }
  }
}

void Cap(Surface& s, const Frame& f, float z, float scale, float facing) {
  const size_t from = s.triangles.size();
  Grid(s, kAround, 1, [&](float u, float v, Vec3& p, Vec3& n) {
    const float r = (1 - v) * scale;
    p = f.Point(r * std::cos(2 * kPi * u), r * std::sin(2 * kPi * u), z);
    n = f.Normal(0, 0, facing);
  });
  FaceOutward(s, from);
}

}  // namespace

Surface BoxSurface(Vec3 orientation, Vec3 major, Vec3 minor, Vec3 origin) {
  Surface s;
  const Frame f{minor, major, orientation, origin};
  // Each face: a corner and its two edges, the third axis' side.
  const struct {
    Vec3 corner, u, v, out;
  } faces[] = {
      {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}, {0, 0, -1}}, {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
      {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, -1, 0}}, {{0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
      {{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}},
  };
  for (const auto& face : faces) {
    const size_t from = s.triangles.size();
    Grid(s, 1, 1, [&](float u, float v, Vec3& p, Vec3& n) {
      const Vec3 l = face.corner + face.u * u + face.v * v;
      p = f.Point(l.x, l.y, l.z);
      n = f.Normal(face.out.x, face.out.y, face.out.z);
    });
    FaceOutward(s, from);
    // Flat faces: the triangle's own normal, which FaceOutward has matched.
    std::fill(s.normals.end() - 4, s.normals.end(), Vec3{});
  }
  return s;
}

Surface DiskSurface(Vec3 major, Vec3 minor, Vec3 origin) {
  Surface s;
  const Frame f{major, minor, Normalized(Cross(major, minor)), origin};
  Cap(s, f, 0, 1, 1);
  return s;
}

Surface EllipsoidSurface(Vec3 orientation, Vec3 major, Vec3 minor, Vec3 origin) {
  Surface s;
  const Frame f{major, minor, orientation, origin};
  Grid(s, kAround, kAlong, [&](float u, float v, Vec3& p, Vec3& n) {
    const float x = std::cos(2 * kPi * u) * std::sin(kPi * v), y = std::sin(2 * kPi * u) * std::sin(kPi * v);
    const float z = std::cos(kPi * v);
    p = f.Point(x, y, z);
    n = f.Normal(x, y, z);
  });
  FaceOutward(s, 0);
  return s;
}

Surface CylinderSurface(Vec3 orientation, Vec3 major, Vec3 minor, Vec3 origin, uint32_t caps, bool cone) {
  Surface s;
  const Frame f{major, minor, orientation, origin};
  Grid(s, kAround, kAlong, [&](float u, float v, Vec3& p, Vec3& n) {
    const float x = std::cos(2 * kPi * u), y = std::sin(2 * kPi * u), r = cone ? 1 - v : 1;
    p = f.Point(x * r, y * r, v);
    n = f.Normal(x, y, cone ? 1.0f : 0.0f);
  });
  FaceOutward(s, 0);
  if (caps & 2) Cap(s, f, 0, 1, -1);
  if ((caps & 1) && !cone) Cap(s, f, 1, 1, 1);
  return s;
}

Surface TorusSurface(Vec3 orientation, Vec3 major, Vec3 minor, Vec3 origin, float ratio) {
  Surface s;
  const Frame f{major, minor, orientation, origin};
  auto point = [&](float u, float v) {
    const float cu = std::cos(2 * kPi * u), su = std::sin(2 * kPi * u);
    const float cv = std::cos(2 * kPi * v), sv = std::sin(2 * kPi * v);
    return f.Point(cu * (1 + ratio * cv), su * (1 + ratio * cv), ratio * sv);
  };
  Grid(s, kAround, kAlong, [&](float u, float v, Vec3& p, Vec3& n) {
    p = point(u, v);
    // The tube's normal: across the two directions of the surface, turned
    // away from the tube's centre line.
    const float h = 1e-3f;
    n = Normalized(Cross(point(u + h, v) - point(u - h, v), point(u, v + h) - point(u, v - h)));
    const float cu = std::cos(2 * kPi * u), su = std::sin(2 * kPi * u);
    if (Dot(n, p - f.Point(cu, su, 0)) < 0) n = n * -1.0f;
  });
  FaceOutward(s, 0);
  return s;
}

}  // namespace kv::threed
