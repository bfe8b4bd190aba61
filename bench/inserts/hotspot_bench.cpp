// Hit tests of a hot spot with a 40-point star outline over a grid of stage
// points: shown at its outline's size (BM_Shown/100, the baseline),
// stretched 2.5 times (BM_Shown/250), and resized before every sweep. The mask is rendered once per sprite and a
// hit only maps the point, so the ratios stretched / baseline and
// resized / baseline should both stay at most 1.2.
#include <benchmark/benchmark.h>

#include <cmath>

#include "inserts/hotspot.h"
#include "stage/qt_painter.h"

namespace kv {
namespace {

constexpr int kSide = 200;  // the outline's box

CHotSpot::Mask StarMask() {
  EnsureGuiApplication();
  CHotSpot h;
  h.Reset();
  h.fillMode = 2;
  for (int k = 0; k < 40; ++k) {
    const double a = k * M_PI / 20, r = k % 2 ? kSide / 2.0 : kSide / 5.0;
    h.outline.push_back({int32_t(std::lround(kSide / 2.0 + r * std::cos(a))), int32_t(std::lround(kSide / 2.0 + r * std::sin(a)))});
  }
  return h.RenderMask();
}

// 64 x 64 points spread evenly over `r`: every sweep asks as many.
int Sweep(const CHotSpot::Mask& mask, const StageSprite& sprite, const Rect& r) {
  constexpr int kPoints = 64;
  int hits = 0;
  for (int j = 0; j < kPoints; ++j)
    for (int i = 0; i < kPoints; ++i)
      hits += mask.Hits(sprite, r.left + i * r.Width() / kPoints, r.top + j * r.Height() / kPoints);
  return hits;
}

// Shown at range(0) percent of the outline's size: 100 is the baseline.
void BM_Shown(benchmark::State& state) {
  const CHotSpot::Mask mask = StarMask();
  StageSprite sprite;
  const int side = int((kSide + 1) * state.range(0) / 100);
  const Rect r{0, 0, side, side};
  sprite.Setup(r, {0, 0, r.Width(), r.Height()}, 0, false, ColorRef(), 0, 0);
  for (auto _ : state) benchmark::DoNotOptimize(Sweep(mask, sprite, r));
}
BENCHMARK(BM_Shown)->Arg(100)->Arg(250);

void BM_ResizedEverySweep(benchmark::State& state) {
  const CHotSpot::Mask mask = StarMask();
  StageSprite sprite;
  sprite.Setup({0, 0, kSide + 1, kSide + 1}, {0, 0, kSide + 1, kSide + 1}, 0, false, ColorRef(), 0, 0);
  int grow = 0;
  for (auto _ : state) {
    grow = (grow + 1) % 8;
    const Rect r{0, 0, kSide + 1 + grow, kSide + 1 + grow};
    sprite.MoveTo(r, 0, true);
    benchmark::DoNotOptimize(Sweep(mask, sprite, r));
  }
}
BENCHMARK(BM_ResizedEverySweep);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
