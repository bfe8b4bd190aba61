#include "threed/render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "threed/metafile.h"

namespace kv::threed {
namespace {

constexpr int kW = 200, kH = 150;
constexpr uint32_t kWhite = 0x00FFFFFF, kBlack = 0;

Scene FromText(const std::string& body) {
  const std::string s = "3DMetafile ( 1 6 Normal )\n" + body;
  return MakeScene(ReadMetafile({reinterpret_cast<const uint8_t*>(s.data()), s.size()}));
}

std::vector<uint32_t> Draw(const Scene& scene, View v) {
  v.width = kW, v.height = kH;
  std::vector<uint32_t> px(size_t(kW) * kH);
  Render(scene, v, px);
  return px;
}

uint32_t At(const std::vector<uint32_t>& px, int x, int y) { return px[size_t(y) * kW + size_t(x)]; }
int Red(uint32_t p) { return int(p >> 16 & 255); }
int Green(uint32_t p) { return int(p >> 8 & 255); }
int Blue(uint32_t p) { return int(p & 255); }

// The run of pixels of the middle row that differ from `clear`.
int RowSpan(const std::vector<uint32_t>& px, uint32_t clear) {
  int n = 0;
  for (int x = 0; x < kW; ++x) n += At(px, x, kH / 2) != clear;
  return n;
}

const char* kCube = "Box ( )\n";

// The camera's scale, computed from the fitting rule: the sphere around the
// unit cube (radius sqrt(3)/2) grown by 8/7 fills half the view's smaller
// side from 7 radii; the front face is half a unit nearer.
struct Fit {
  float r = std::sqrt(3.0f) / 2;
  float fitted = r * 8 / 7;
  float half = std::min(kW, kH) / 2.0f;
  float focal = half / std::tan(std::asin(fitted / (7 * r)));
  float FrontWidth(float offset) const { return focal / (7 * r + offset - 0.5f); }
};

TEST(Render, ClearColourAroundTheModel) {
  View v;
  v.clearColor = 0x00336699;  // COLORREF: red 0x99, green 0x66, blue 0x33
  const auto px = Draw(FromText(kCube), v);
  EXPECT_EQ(At(px, 0, 0), 0x00996633u);
  EXPECT_NE(At(px, kW / 2, kH / 2), 0x00996633u);
}

TEST(Render, PerspectiveFitsTheModel) {
  const Fit fit;
  const auto px = Draw(FromText(kCube), View{});
  EXPECT_NEAR(RowSpan(px, kWhite), fit.FrontWidth(0), 1.0);
  View far;
  far.distanceOffset = 10;  // depthByLayer's (layer - 101)
  EXPECT_NEAR(RowSpan(Draw(FromText(kCube), far), kWhite), fit.FrontWidth(10), 1.0);
}

TEST(Render, OrthographicShowsTrueSize) {
  const Fit fit;
  View v;
  v.orthographic = true;
  EXPECT_NEAR(RowSpan(Draw(FromText(kCube), v), kWhite), fit.half / fit.fitted, 1.0);
  v.distanceOffset = 10;  // only the perspective camera moves back
  EXPECT_NEAR(RowSpan(Draw(FromText(kCube), v), kWhite), fit.half / fit.fitted, 1.0);
}

TEST(Render, GouraudLightingOfAFaceTurnedToTheCamera) {
  // A red front face: ambient 0.25 + directional 0.55 x n.l + point 0.25 x n.l.
  const auto px = Draw(FromText("Container ( Box ( ) Container ( AttributeSet ( ) DiffuseColor ( 1 0 0 ) ) )"), View{});
  const uint32_t c = At(px, kW / 2, kH / 2);
  EXPECT_EQ(Green(c), 0);
  EXPECT_EQ(Blue(c), 0);
  const float r = std::sqrt(3.0f) / 2, d = 7 * r;
  const float directional = 0.55f * 2 / std::sqrt(6.0f);
  // The centre of the front face is at (0, 0, 0.5); the point light at (-3r, 3r, d).
  const float lx = -3 * r, ly = 3 * r, lz = d - 0.5f;
  const float point = 0.25f * lz / std::sqrt(lx * lx + ly * ly + lz * lz);
  EXPECT_NEAR(Red(c), (0.25f + directional + point) * 255, 2.0);
}

TEST(Render, SpinTurnsAnotherFaceToTheCamera) {
  const Scene s = FromText(
      "Container ( Polygon ( 4  -1 -1 1  1 -1 1  1 1 1  -1 1 1 ) Container ( AttributeSet ( ) DiffuseColor ( 1 0 0 ) ) )\n"
      "Container ( Polygon ( 4  1 -1 1  1 -1 -1  1 1 -1  1 1 1 ) Container ( AttributeSet ( ) DiffuseColor ( 0 0 1 ) ) )\n");
  View v;
  v.backfacing = Backfacing::kRemove;
  v.orientation = {0, 10, 0};  // the face at z = 1 still in front, a little turned
  uint32_t c = At(Draw(s, v), kW / 2, kH / 2);
  EXPECT_GT(Red(c), 0);
  EXPECT_EQ(Blue(c), 0);
  v.orientation = {0, -80, 0};  // the face at x = 1 comes round to the front
  c = At(Draw(s, v), kW / 2, kH / 2);
  EXPECT_EQ(Red(c), 0);
  EXPECT_GT(Blue(c), 0);
}

TEST(Render, BackFaces) {
  // Clockwise seen from the camera: the triangle turns its back.
  const Scene s = FromText("Triangle ( -1 -1 0  -1 1 0  1 -1 0 )\n");
  const Scene front = FromText("Triangle ( -1 -1 0  1 -1 0  -1 1 0 )\n");
  // The centroid (-1/3, -1/3) is about 15 pixels left of and below the centre.
  const int x = kW / 2 - 15, y = kH / 2 + 15;
  View v;
  ASSERT_NE(At(Draw(front, v), x, y), kWhite);
  v.backfacing = Backfacing::kRemove;
  EXPECT_EQ(At(Draw(s, v), x, y), kWhite);
  v.backfacing = Backfacing::kFlip;
  EXPECT_EQ(At(Draw(s, v), x, y), At(Draw(front, v), x, y));
  v.backfacing = Backfacing::kBoth;
  v.clearColor = kBlack;
  // Lit from behind: only the ambient light.
  EXPECT_EQ(Red(At(Draw(s, v), x, y)), int(0.25f * 255 + 0.5f));
}

TEST(Render, WireframeDrawsOutlinesOnly) {
  View v;
  v.wireframe = true;
  v.clearColor = kBlack;
  const auto px = Draw(FromText(kCube), v);
  EXPECT_EQ(At(px, kW / 2, kH / 2), kBlack);  // inside the front face
  // The middle row crosses the vertical edges: the front square's two and
  // the back square's two; the diagonals that split faces are not drawn.
  std::vector<int> hits;
  for (int x = 0; x < kW; ++x)
    if (At(px, x, kH / 2) != kBlack) hits.push_back(x);
  int runs = 0;
  for (size_t i = 0; i < hits.size(); ++i) runs += i == 0 || hits[i] != hits[i - 1] + 1;
  EXPECT_EQ(runs, 4);
}

TEST(Render, SeeThroughBlends) {
  View v;
  v.clearColor = kBlack;
  const auto opaque = Draw(FromText(kCube), v);
  const auto half = Draw(FromText("Container ( Box ( ) Container ( AttributeSet ( ) TransparencyColor ( 0.5 0.5 0.5 ) ) )"), v);
  // Back faces are drawn lit as well; the blend of the front over them is
  // at most the opaque face's value.
  const int o = Red(At(opaque, kW / 2, kH / 2)), h = Red(At(half, kW / 2, kH / 2));
  EXPECT_GT(h, 0);
  EXPECT_LT(h, o);
}

TEST(Render, LinesAndPointsUseTheirColour) {
  View v;
  v.clearColor = kBlack;
  const auto px = Draw(FromText("Container ( Line ( -1 0 0  1 0 0 ) Container ( AttributeSet ( ) DiffuseColor ( 0 1 0 ) ) )"), v);
  EXPECT_EQ(At(px, kW / 2, kH / 2), 0x0000FF00u);
}

TEST(Render, NoSizeDrawsNothing) {
  std::vector<uint32_t> px(4, 7);
  View v;
  v.width = 0, v.height = 2;
  Render(FromText(kCube), v, px);
  EXPECT_EQ(px[0], 7u);
}

}  // namespace
}  // namespace kv::threed
