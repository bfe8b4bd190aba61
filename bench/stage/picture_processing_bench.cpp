// Picture processing on a 1024 x 768 32-bit picture: every operation (type
// 1 to 14; rotation by 30 degrees, both sizes), and the whole round trip on a
// sprite (its picture at its depth, the operation, the picture set back).
// Baseline: copying the picture's bytes once (BM_CopyPicture).
#include <benchmark/benchmark.h>

#include <cstring>

#include "stage/picture_processing.h"
#include "stage/sprite.h"

namespace kv {
namespace {

constexpr int kW = 1024, kH = 768;

DecodedPicture Photo() {
  DecodedPicture p;
  p.width = kW;
  p.height = kH;
  p.bitsPerPixel = 32;
  p.stride = kW * 4;
  p.bits.resize(size_t(p.stride) * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      uint8_t* px = &p.bits[size_t(y) * p.stride + size_t(x) * 4];
      px[0] = uint8_t(x * 7 + y), px[1] = uint8_t(y * 3 ^ x), px[2] = uint8_t((x + y) / 5), px[3] = 0;
    }
  return p;
}

void BM_CopyPicture(benchmark::State& state) {
  const DecodedPicture src = Photo();
  DecodedPicture dst = src;
  for (auto _ : state) {
    std::memcpy(dst.bits.data(), src.bits.data(), src.bits.size());
    benchmark::DoNotOptimize(dst.bits.data());
  }
}
BENCHMARK(BM_CopyPicture)->Unit(benchmark::kMillisecond);

void BM_Operation(benchmark::State& state) {
  const DecodedPicture src = Photo();
  PictureOpArgs args;
  args.type = int(state.range(0));
  args.value = args.type == picture_op::kRotate ? 30 : 150;
  args.value2 = int(state.range(1));
  DecodedPicture pic = src;
  // Each round starts from the same picture; refilling it costs about one
  // BM_CopyPicture, far less than any operation.
  for (auto _ : state) {
    pic.width = src.width, pic.height = src.height, pic.stride = src.stride;
    pic.bits = src.bits;
    benchmark::DoNotOptimize(ApplyPictureOp(pic, args));
  }
}
BENCHMARK(BM_Operation)
    ->ArgNames({"type", "keep"})
    ->ArgsProduct({{1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14}, {0}})
    ->Args({10, 0})
    ->Args({10, 1})
    ->Unit(benchmark::kMillisecond);

void BM_SpriteRoundTrip(benchmark::State& state) {
  const DecodedPicture src = Photo();
  StageSprite sprite(PixelFormat::kXrgb32);
  sprite.SetPicture(src.View());
  PictureOpArgs args;
  args.type = int(state.range(0));
  for (auto _ : state) {
    DecodedPicture pic;
    SpritePictureAtDepth(sprite, pic);
    ApplyPictureOp(pic, args);
    benchmark::DoNotOptimize(sprite.SetPicture(pic.View()));
  }
}
BENCHMARK(BM_SpriteRoundTrip)->ArgName("type")->Arg(2)->Arg(7)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
