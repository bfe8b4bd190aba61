// Rendering a 20,000-triangle model into a 400 x 300 sprite, turning a
// little every frame as a spinning object does: a frame must stay under
// 16 ms for 60 frames a second. Filling the same sprite with its clear
// colour is the baseline.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "threed/render.h"

namespace {

using namespace kv::threed;

// A sphere of 100 x 100 quads: 20,000 triangles with smooth normals.
Scene Sphere() {
  constexpr int n = 100;
  const float pi = std::numbers::pi_v<float>;
  auto at = [&](int i, int j) {
    const float u = 2 * pi * float(i) / n, v = pi * float(j) / n;
    return Vec3{std::cos(u) * std::sin(v), std::sin(u) * std::sin(v), std::cos(v)};
  };
  Model m;
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const Vec3 a = at(i, j), b = at(i + 1, j), c = at(i + 1, j + 1), d = at(i, j + 1);
      const Rgb col{float(i % 2), 0.5f, float(j % 2)};
      m.triangles.push_back({{{a, a, col}, {c, c, col}, {b, b, col}}});
      m.triangles.push_back({{{a, a, col}, {d, d, col}, {c, c, col}}});
    }
  return MakeScene(std::move(m));
}

void BM_RenderSpinning(benchmark::State& state) {
  const Scene scene = Sphere();
  View view;
  view.width = 400, view.height = 300;
  std::vector<uint32_t> pixels(400 * 300);
  float angle = 0;
  for (auto _ : state) {
    view.orientation = {angle, angle * 0.5f, 0};
    angle += 3;
    Render(scene, view, pixels);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.counters["triangles"] = double(scene.model.triangles.size());
}
BENCHMARK(BM_RenderSpinning)->Unit(benchmark::kMillisecond);

void BM_ClearBaseline(benchmark::State& state) {
  std::vector<uint32_t> pixels(400 * 300);
  uint32_t c = 0;
  for (auto _ : state) {
    std::fill(pixels.begin(), pixels.end(), ++c);
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(BM_ClearBaseline)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
