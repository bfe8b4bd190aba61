// A 640 x 480 MPEG-4 movie at 30 frames a second, as a fraction of one core:
// decoding alone (the baseline: FFmpeg's own work), and decoding, converting
// each frame once into the stage's format and composing it through a stage
// sprite, which is what a playing movie costs.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "media/movie_decoder.h"
#include "stage/sprite.h"

namespace kv {
namespace {

const std::string kMovie = KV_BENCH_MOVIE;  // made at build time by ffmpeg
constexpr int64_t kSeconds = 5;

// Counter reading seconds of work (CPU time of the one thread) per second of movie.
void ReportCoreFraction(benchmark::State& state) {
  state.counters["core_fraction"] = benchmark::Counter(static_cast<double>(state.iterations() * kSeconds),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_MovieDecodeOnly(benchmark::State& state) {
  for (auto _ : state) {
    auto d = MovieDecoder::OpenFile(kMovie);
    for (int64_t t = 0; t < kSeconds * 1000; t += 1) d->AdvanceTo(t);
    benchmark::DoNotOptimize(d->CurrentFrame());
  }
  ReportCoreFraction(state);
}
BENCHMARK(BM_MovieDecodeOnly)->Unit(benchmark::kMillisecond);

void BM_MovieDecodeConvertCompose(benchmark::State& state) {
  PixelBuffer stage(640, 480, PixelFormat::kXrgb32);
  const Rect whole{0, 0, 640, 480};
  for (auto _ : state) {
    auto d = MovieDecoder::OpenFile(kMovie);
    StageSprite sprite(PixelFormat::kXrgb32);
    sprite.CreateSurface(whole, 1);
    sprite.Setup(whole, whole, 1, false, kDefaultKeyColor, 0, 0);
    d->SetOutput(640, 480, MoviePixels::kXrgb32);
    DrawTarget target{stage, {0, 0}};
    for (int64_t t = 0; t < kSeconds * 1000; t += 1) {
      if (!d->AdvanceTo(t) && t > 0) continue;
      const MoviePicture& p = d->Current();
      PixelBuffer& to = sprite.MutablePicture();
      for (int y = 0; y < p.height; ++y)
        std::memcpy(to.Row(y), p.bits.data() + size_t(y) * size_t(p.Stride()), size_t(p.Stride()));
      sprite.PictureChanged();
      sprite.Draw(target, whole);
    }
    benchmark::DoNotOptimize(stage.Data());
  }
  ReportCoreFraction(state);
}
BENCHMARK(BM_MovieDecodeConvertCompose)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
