// Transition effects and paths at 1024 x 768: the cost of one effect step
// (the routine's step and the compositor's update of what changed) for one
// effect of every family, and one path step of a 100 x 100 keyed sprite over
// ten layers, in thread CPU time. Baseline: recomposing the whole stage
// once (BM_FullStage, CPU column).
#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>
#include <vector>

#include "stage/compositor.h"
#include "stage/effects.h"
#include "stage/path_stepper.h"
#include "stage/transitions.h"

namespace kv {
namespace {

constexpr int kW = 1024, kH = 768;
constexpr int kStepsTimed = 24;
constexpr ColorRef kKey{0x00FF00FF};

std::unique_ptr<StageSprite> Sprite(const Rect& r, uint16_t layer, bool keyed, int seed) {
  auto s = std::make_unique<StageSprite>();
  s->format = PixelFormat::kXrgb32;
  s->CreateSurface({0, 0, r.Width(), r.Height()}, layer);
  PixelBuffer& p = s->MutablePicture();
  for (int y = 0; y < p.Height(); ++y)
    for (int x = 0; x < p.Width(); ++x)
      p.SetPixel(x, y, keyed && (x / 9 + y / 7) % 4 == 0 ? kKey
                                                         : ColorRef::FromRgb(uint8_t(x + seed), uint8_t(y * 3), uint8_t(seed * 40)));
  s->Setup(r, {0, 0, r.Width(), r.Height()}, layer, keyed, kKey, 0, 0);
  return s;
}

// Ten layers of pictures over the stage, half of them keyed.
struct Scene {
  Compositor c{CompositorRole::kStage};
  std::vector<std::unique_ptr<StageSprite>> layers;
  Scene() {
    c.Initialise({0, 0, kW, kH}, ColorRef(0x00806040), PixelFormat::kXrgb32, nullptr);
    for (int i = 0; i < 10; ++i) {
      const Rect r{(i * 97) % 600, (i * 61) % 400, (i * 97) % 600 + 420, (i * 61) % 400 + 360};
      layers.push_back(Sprite(r, uint16_t(20 + i), i % 2 == 1, i));
      c.Add(*layers.back(), true);
    }
  }
};

void BM_FullStage(benchmark::State& state) {
  Scene scene;
  for (auto _ : state) {
    scene.c.Update({0, 0, kW, kH});
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FullStage)->Unit(benchmark::kMillisecond);

// Times the steps after the first (which carries the set-up) of a full-stage
// show, cut short after kStepsTimed steps.
void BM_EffectStep(benchmark::State& state) {
  const uint32_t effect = uint32_t(state.range(0));
  Scene scene;
  ManualEffectClock clock;
  int seen = 0;
  TransitionEngine engine(scene.c, clock, Pacing::kSleep, [&](uint16_t) { return seen >= kStepsTimed; });
  // Thread CPU time: the machine is shared, so wall time would count others' work.
  auto now = [] {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  };
  double last = 0, total = 0, worst = 0;
  int timed = 0;
  engine.SetObserver([&](int step, int) {
    const double t = now();
    if (step > 0) total += t - last, worst = std::max(worst, t - last), ++timed;
    last = t;
    ++seen;
  });
  auto object = Sprite({0, 0, kW, kH}, 5, false, 7);
  object->compositor = &scene.c;
  for (auto _ : state) {
    seen = 0, total = 0, timed = 0;
    engine.RunShow(*object, {ShowParams::kSrcCopy, effect, kEffectDefault, kEffectDefault, 1000, 0});
    state.SetIterationTime(timed ? total / timed : 0);
    scene.c.Remove(*object, false);
  }
  state.SetLabel(EffectName(effect));
  state.counters["worst_ms"] = worst * 1000;
}
// One effect of each family.
BENCHMARK(BM_EffectStep)
    ->ArgName("effect")
    ->Arg(1)->Arg(5)->Arg(9)->Arg(11)->Arg(12)->Arg(16)->Arg(20)->Arg(24)->Arg(28)->Arg(34)->Arg(37)->Arg(39)
    ->Arg(40)->Arg(44)->Arg(45)->Arg(46)->Arg(47)->Arg(48)->Arg(50)->Arg(54)->Arg(59)->Arg(63)->Arg(67)->Arg(74)
    ->Arg(78)->Arg(83)->Arg(85)->Arg(90)->Arg(98)->Arg(100)->Arg(104)
    ->UseManualTime()
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond);

void BM_PathStep(benchmark::State& state) {
  Scene scene;
  auto mover = Sprite({0, 0, 100, 100}, 10, true, 3);
  scene.c.Add(*mover, true);
  std::vector<PathWaypoint> nodes(3);
  const int xs[] = {60, 960, 960}, ys[] = {60, 700, 701};
  for (int i = 0; i < 3; ++i) {
    nodes[size_t(i)].x = int16_t(xs[i]), nodes[size_t(i)].y = int16_t(ys[i]);
    nodes[size_t(i)].width = nodes[size_t(i)].height = 100;
    nodes[size_t(i)].srcRight = nodes[size_t(i)].srcBottom = 100;
    nodes[size_t(i)].segmentKind = kStraightSegment, nodes[size_t(i)].segmentSpan = 1;
    nodes[size_t(i)].layer = 10;
  }
  const std::vector<PathPose> poses = PathStepper(nodes).Samples();
  SpriteMover move(*mover);
  size_t i = 0;
  for (auto _ : state) {
    move.Move(poses[i]);
    i = (i + 1) % poses.size();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PathStep)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
