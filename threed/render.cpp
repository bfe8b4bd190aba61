#include "threed/render.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace kv::threed {

Scene MakeScene(Model model) {
  Scene s;
  const Bounds b = model.ComputeBounds();
  if (!b.empty) {
    s.centre = (b.min + b.max) * 0.5f;
    s.radius = Length(b.max - b.min) * 0.5f;
  }
  s.model = std::move(model);
  return s;
}

namespace {

// The lights, in the space of the turned model (centre at the origin, the
// camera on +z), with their intensities. Their sum on a face turned to the
// camera stays below 1, so lit colours keep their hue.
constexpr float kAmbient = 0.25f;
constexpr Vec3 kDirectionalTravel{1, -1, -2};  // from the upper left, in front
constexpr float kDirectional = 0.55f;
constexpr float kPoint = 0.25f;  // at (-3, 3, camera distance) radii

// The perspective camera's near and far planes and the orthographic
// camera's far plane, for a model of radius 1; they grow with the model.
constexpr float kHither = 0.001f;
constexpr float kYon = 1000.0f;
constexpr float kOrthographicYon = 100000.0f;

struct Lit {
  float x, y, z;  // view space: camera at the origin looking along -z
  float r, g, b;
};

struct Projected {
  float x, y;  // pixels, y down
  float key;   // grows towards the camera, linear across the screen
  float r, g, b;
};

uint32_t Pack(float r, float g, float b) {
  auto ch = [](float v) { return uint32_t(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); };
  return ch(r) << 16 | ch(g) << 8 | ch(b);
}

class Raster {
 public:
  Raster(const View& v, std::span<uint32_t> pixels, float focal, bool ortho, float farKey)
      : w_(v.width), h_(v.height), px_(pixels), depth_(size_t(v.width) * size_t(v.height), farKey), focal_(focal),
        ortho_(ortho) {}

  Projected Project(const Lit& l) const {
    Projected p;
    if (ortho_) {
      p.x = w_ * 0.5f + l.x * focal_;
      p.y = h_ * 0.5f - l.y * focal_;
      p.key = l.z;
    } else {
      const float inv = 1.0f / -l.z;
      p.x = w_ * 0.5f + l.x * focal_ * inv;
      p.y = h_ * 0.5f - l.y * focal_ * inv;
      p.key = inv;
    }
    p.r = l.r, p.g = l.g, p.b = l.b;
    return p;
  }

  // Edge functions over the triangle's box; a pixel on an edge belongs to
  // one of the two triangles sharing it.
  void Fill(Projected a, Projected b, Projected c, float opacity) {
    float area = Edge(a, b, c.x, c.y);
    if (area == 0) return;
    if (area < 0) std::swap(b, c), area = -area;
    const int x0 = std::max(0, int(std::floor(std::min({a.x, b.x, c.x}))));
    const int x1 = std::min(w_ - 1, int(std::ceil(std::max({a.x, b.x, c.x}))));
    const int y0 = std::max(0, int(std::floor(std::min({a.y, b.y, c.y}))));
    const int y1 = std::min(h_ - 1, int(std::ceil(std::max({a.y, b.y, c.y}))));
    if (x0 > x1 || y0 > y1) return;
    const float inv = 1.0f / area;
    const bool ownBC = Owns(b, c), ownCA = Owns(c, a), ownAB = Owns(a, b);
    for (int y = y0; y <= y1; ++y) {
      const float py = float(y) + 0.5f;
      uint32_t* row = px_.data() + size_t(y) * size_t(w_);
      float* drow = depth_.data() + size_t(y) * size_t(w_);
      for (int x = x0; x <= x1; ++x) {
        const float pxc = float(x) + 0.5f;
        const float e0 = Edge(b, c, pxc, py), e1 = Edge(c, a, pxc, py), e2 = Edge(a, b, pxc, py);
        if (e0 < 0 || e1 < 0 || e2 < 0) continue;
        if ((e0 == 0 && !ownBC) || (e1 == 0 && !ownCA) || (e2 == 0 && !ownAB)) continue;
        const float l0 = e0 * inv, l1 = e1 * inv, l2 = e2 * inv;
        const float key = l0 * a.key + l1 * b.key + l2 * c.key;
        if (key <= drow[x]) continue;
        const float r = l0 * a.r + l1 * b.r + l2 * c.r, g = l0 * a.g + l1 * b.g + l2 * c.g,
                    bl = l0 * a.b + l1 * b.b + l2 * c.b;
        if (opacity >= 1) {
          drow[x] = key;
          row[x] = Pack(r, g, bl);
        } else {
          const uint32_t o = row[x];
          const float k = 1 - opacity;
          row[x] = Pack(r * opacity + float((o >> 16) & 255) / 255 * k, g * opacity + float((o >> 8) & 255) / 255 * k,
                        bl * opacity + float(o & 255) / 255 * k);
        }
      }
    }
  }

  // A DDA line from a to b; `depthTest` false draws over everything.
  void Line(const Projected& a, const Projected& b, bool depthTest) {
    const float dx = b.x - a.x, dy = b.y - a.y;
    const int steps = int(std::ceil(std::max(std::fabs(dx), std::fabs(dy))));
    for (int i = 0; i <= steps; ++i) {
      const float t = steps == 0 ? 0 : float(i) / float(steps);
      Plot(a.x + dx * t, a.y + dy * t, a.key + (b.key - a.key) * t, a.r + (b.r - a.r) * t,
           a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, depthTest);
    }
  }

  void Plot(float fx, float fy, float key, float r, float g, float b, bool depthTest) {
    const int x = int(std::floor(fx)), y = int(std::floor(fy));
    if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
    const size_t at = size_t(y) * size_t(w_) + size_t(x);
    if (depthTest) {
      if (key < depth_[at]) return;
      depth_[at] = key;
    }
    px_[at] = Pack(r, g, b);
  }

 private:
  static float Edge(const Projected& a, const Projected& b, float x, float y) {
    return (b.x - a.x) * (y - a.y) - (b.y - a.y) * (x - a.x);
  }
  // Of two triangles sharing an edge, it is walked a -> b in one and b -> a
  // in the other: only one of the directions owns the pixels on it.
  static bool Owns(const Projected& a, const Projected& b) { return b.y > a.y || (b.y == a.y && b.x > a.x); }

  int w_, h_;
  std::span<uint32_t> px_;
  std::vector<float> depth_;
  float focal_;
  bool ortho_;
};

// Clips a polygon in view space to z <= -hither (Sutherland-Hodgman, one
// plane); the far plane is left to the depth test.
int ClipNear(const Lit* in, int n, float hither, Lit* out) {
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const Lit& a = in[i];
    const Lit& b = in[(i + 1) % n];
    const bool ain = a.z <= -hither, bin = b.z <= -hither;
    if (ain) out[m++] = a;
    if (ain != bin) {
      const float t = (-hither - a.z) / (b.z - a.z);
      out[m++] = {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, -hither, a.r + (b.r - a.r) * t,
                  a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
    }
  }
  return m;
}

}  // namespace

void Render(const Scene& scene, const View& view, std::span<uint32_t> pixels) {
  if (view.width <= 0 || view.height <= 0 || pixels.size() < size_t(view.width) * size_t(view.height)) return;
  const uint32_t c = view.clearColor;
  const uint32_t clear = (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
  std::fill_n(pixels.begin(), size_t(view.width) * size_t(view.height), clear);
  const Model& model = scene.model;
  if (model.triangles.empty() && model.lines.empty() && model.points.empty()) return;

  // The turn: X, then Y, then Z, applied to row vectors.
  const float deg = std::numbers::pi_v<float> / 180.0f;
  const float ax = view.orientation[0] * deg, ay = view.orientation[1] * deg, az = view.orientation[2] * deg;
  const float cx = std::cos(ax), sx = std::sin(ax), cy = std::cos(ay), sy = std::sin(ay), cz = std::cos(az),
              sz = std::sin(az);
  // Rows of Rx * Ry * Rz.
  const float m[3][3] = {{cy * cz, cy * sz, -sy},
                         {sx * sy * cz - cx * sz, sx * sy * sz + cx * cz, sx * cy},
                         {cx * sy * cz + sx * sz, cx * sy * sz - sx * cz, cx * cy}};
  auto turn = [&m](Vec3 p) {
    return Vec3{p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0], p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1],
                p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2]};
  };

  const float r = scene.radius > 0 ? scene.radius : 1.0f;
  const bool ortho = view.orthographic;
  const float distance = kFitDistance * r + (ortho ? 0.0f : view.distanceOffset);
  const float halfView = float(std::min(view.width, view.height)) * 0.5f;
  const float fitted = r * 8.0f / 7.0f;
  // Perspective: the view's half angle has the sine fitted / (7 r).
  const float sinHalf = fitted / (kFitDistance * r);
  const float focal = ortho ? halfView / fitted : halfView / std::tan(std::asin(sinHalf));
  const float hither = kHither * r;
  const float farKey = ortho ? -(kOrthographicYon * r) : 1.0f / (kYon * r);
  Raster raster(view, pixels, focal, ortho, farKey);

  const Vec3 eye{0, 0, distance};
  const Vec3 toDirectional = Normalized(kDirectionalTravel * -1.0f);
  const Vec3 pointLight{-3 * r, 3 * r, distance};

  auto shade = [&](Vec3 p, Vec3 n, const Rgb& diffuse, const Triangle& t) {
    float d = kAmbient;
    float spec = 0;
    const Vec3 toEye = ortho ? Vec3{0, 0, 1} : Normalized(eye - p);
    auto light = [&](Vec3 l, float intensity) {
      const float nl = Dot(n, l);
      if (nl <= 0) return;
      d += intensity * nl;
      if (t.specularExponent > 0) {
        const Vec3 refl = n * (2 * nl) - l;
        const float rv = Dot(refl, toEye);
        if (rv > 0) spec += intensity * std::pow(rv, t.specularExponent);
      }
    };
    light(toDirectional, kDirectional);
    light(Normalized(pointLight - p), kPoint);
    return Rgb{diffuse.r * d + t.specular.r * spec, diffuse.g * d + t.specular.g * spec,
               diffuse.b * d + t.specular.b * spec};
  };

  auto toView = [&](Vec3 p) { return Vec3{p.x, p.y, p.z - distance}; };

  auto drawTriangle = [&](const Triangle& t) {
    Vec3 q[3];
    for (int k = 0; k < 3; ++k) q[k] = turn(t.v[k].position - scene.centre);
    Vec3 faceNormal = Normalized(Cross(q[1] - q[0], q[2] - q[0]));
    const Vec3 look = ortho ? Vec3{0, 0, 1} : eye - q[0];
    const bool back = Dot(Cross(q[1] - q[0], q[2] - q[0]), look) < 0;
    if (back && view.backfacing == Backfacing::kRemove) return;
    const float flip = back && view.backfacing == Backfacing::kFlip ? -1.0f : 1.0f;
    Lit lit[3];
    for (int k = 0; k < 3; ++k) {
      const Vec3 vp = toView(q[k]);
      Rgb col = t.v[k].color;
      if (!view.wireframe) {
        const Vec3 n = (t.v[k].normal == Vec3{} ? faceNormal : Normalized(turn(t.v[k].normal))) * flip;
        col = shade(q[k], n, t.v[k].color, t);
      }
      lit[k] = {vp.x, vp.y, vp.z, col.r, col.g, col.b};
    }
    if (view.wireframe) {
      for (int k = 0; k < 3; ++k) {
        if (!(t.outline & (1 << k))) continue;
        Lit seg[2] = {lit[k], lit[(k + 1) % 3]}, clipped[3];
        if (ClipNear(seg, 2, hither, clipped) < 2) continue;
        raster.Line(raster.Project(clipped[0]), raster.Project(clipped[1]), false);
      }
      return;
    }
    Lit poly[4];
    const int n = ClipNear(lit, 3, hither, poly);
    for (int k = 1; k + 1 < n; ++k)
      raster.Fill(raster.Project(poly[0]), raster.Project(poly[k]), raster.Project(poly[k + 1]), t.opacity);
  };

  for (const Triangle& t : model.triangles)
    if (t.opacity >= 1 || view.wireframe) drawTriangle(t);
  // See-through triangles blend over what is drawn, in the model's order.
  if (!view.wireframe)
    for (const Triangle& t : model.triangles)
      if (t.opacity < 1) drawTriangle(t);

  const bool depthTest = !view.wireframe;
  for (const Segment& s : model.lines) {
    const Vec3 a = toView(turn(s.a - scene.centre)), b = toView(turn(s.b - scene.centre));
    Lit seg[2] = {{a.x, a.y, a.z, s.color.r, s.color.g, s.color.b}, {b.x, b.y, b.z, s.color.r, s.color.g, s.color.b}};
    Lit clipped[3];
    if (ClipNear(seg, 2, hither, clipped) < 2) continue;
    raster.Line(raster.Project(clipped[0]), raster.Project(clipped[1]), depthTest);
  }
  for (const ModelPoint& d : model.points) {
    const Vec3 p = toView(turn(d.position - scene.centre));
    if (p.z > -hither) continue;
    const Projected pr = raster.Project({p.x, p.y, p.z, d.color.r, d.color.g, d.color.b});
    raster.Plot(pr.x, pr.y, pr.key, pr.r, pr.g, pr.b, depthTest);
  }
}

}  // namespace kv::threed
