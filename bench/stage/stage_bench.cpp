// Compositor speed: each pixel loop against memcpy of the same bytes, a full
// stage composition against pixman and QPainter, and moving a keyed sprite.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include "stage/compositor.h"
#include "stage/pixel_loops.h"
#include "stage/stretch_map.h"

#ifdef KV_BENCH_PIXMAN
#include <pixman.h>
#endif
#ifdef KV_BENCH_QT
#include <QImage>
#include <QPainter>
#endif

namespace kv {
namespace {

constexpr int kSizes[][2] = {{640, 480}, {1024, 768}, {1920, 1080}};
constexpr ColorRef kKey{0x00FF00FF};

void Sizes(benchmark::internal::Benchmark* b) {
  for (auto& s : kSizes) b->Args({s[0], s[1]});
}

// A picture with about a quarter of its pixels in the key colour.
PixelBuffer Pattern(int w, int h) {
  PixelBuffer p(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p.SetPixel(x, y, ((x / 7 + y / 5) % 4 == 0) ? kKey : ColorRef::FromRgb(uint8_t(x), uint8_t(y), uint8_t(x ^ y)));
  return p;
}

const loops::KeyRanges kRanges{0xFF, 0xFF, 0, 0, 0xFF, 0xFF};

void BM_Memcpy(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const size_t bytes = size_t(w) * h * 4;
  std::vector<uint8_t> src(bytes, 1), dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_Memcpy)->Apply(Sizes);

void BM_Copy(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  PixelBuffer src = Pattern(w, h), dst(w, h);
  for (auto _ : state) {
    loops::CopyRows(dst.Data(), dst.Stride(), src.Data(), src.Stride(), w * 4, h);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
BENCHMARK(BM_Copy)->Apply(Sizes);

void BM_KeyedCopy(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  PixelBuffer src = Pattern(w, h), dst(w, h);
  for (auto _ : state) {
    loops::KeyedCopy32(dst.Data(), dst.Stride(), src.Data(), src.Stride(), w, h, kRanges);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
BENCHMARK(BM_KeyedCopy)->Apply(Sizes);

void BM_KeyedCopy16(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  PixelBuffer src(w, h, PixelFormat::kRgb565), dst(w, h, PixelFormat::kRgb565);
  CopyRect(src, Pattern(w, h), src.Bounds());
  for (auto _ : state) {
    loops::KeyedCopyExact16(dst.Data(), dst.Stride(), src.Data(), src.Stride(), w, h, ToRgb565(kKey));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 2);
}
BENCHMARK(BM_KeyedCopy16)->Apply(Sizes);

// Stretch from two thirds of the size up to the full size.
template <bool Keyed>
void Stretch(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const int sw = w * 2 / 3, sh = h * 2 / 3;
  PixelBuffer src = Pattern(sw, sh), dst(w, h);
  std::vector<int32_t> cols(static_cast<size_t>(w)), rows(static_cast<size_t>(h));
  BuildStretchMap(0, sw, w, 0, w, cols.data());
  BuildStretchMap(0, sh, h, 0, h, rows.data());
  for (auto _ : state) {
    if (Keyed)
      loops::StretchKeyed32(dst.Data(), dst.Stride(), src.Data(), src.Stride(), cols.data(), w, rows.data(), h,
                            kRanges);
    else
      loops::Stretch32(dst.Data(), dst.Stride(), src.Data(), src.Stride(), cols.data(), w, rows.data(), h);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
void BM_Stretch(benchmark::State& state) { Stretch<false>(state); }
void BM_KeyedStretch(benchmark::State& state) { Stretch<true>(state); }
BENCHMARK(BM_Stretch)->Apply(Sizes);
BENCHMARK(BM_KeyedStretch)->Apply(Sizes);

// 24-bit file rows to the stage format (bytes counted on the output side).
void BM_Convert24To32(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const ptrdiff_t ss = (w * 3 + 3) / 4 * 4;
  std::vector<uint8_t> src(size_t(ss) * h, 7);
  PixelBuffer dst(w, h);
  for (auto _ : state) {
    loops::Convert24To32(dst.Data(), dst.Stride(), src.data(), ss, w, h);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * w * h * 4);
}
BENCHMARK(BM_Convert24To32)->Apply(Sizes);

// ---------------------------------------------------------------- full stage

constexpr int kStageW = 1024, kStageH = 768;
constexpr ColorRef kBackColor{0x00806040};

struct SpriteSpec {
  Rect rect;
  int picW, picH;
  bool keyed;
};
// 4 opaque, 3 keyed, 3 stretched (the last one keyed too); none covers another fully.
const SpriteSpec kScene[10] = {
    {{0, 0, 300, 200}, 300, 200, false},       {{250, 100, 550, 350}, 300, 250, false},
    {{600, 50, 900, 300}, 300, 250, false},    {{100, 400, 400, 700}, 300, 300, false},
    {{350, 300, 650, 550}, 300, 250, true},    {{700, 350, 1000, 650}, 300, 300, true},
    {{50, 200, 250, 400}, 200, 200, true},     {{450, 500, 850, 760}, 200, 130, false},
    {{800, 0, 1020, 200}, 110, 100, false},    {{200, 550, 500, 760}, 150, 105, true},
};

// The baselines' sources: alpha 0 where the key is, opaque elsewhere.
uint32_t KeyToAlpha(uint32_t p, bool keyed) {
  return keyed && (p & 0xFFFFFF) == (ToXrgb32(kKey) & 0xFFFFFF) ? 0 : (p | 0xFF000000);
}

std::vector<uint8_t> Picture32(int w, int h, std::vector<uint8_t>& out) {
  const PixelBuffer p = Pattern(w, h);
  out.resize(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y) std::memcpy(&out[size_t(y) * w * 4], p.Row(y), size_t(w) * 4);
  return out;
}

#ifdef KV_BENCH_QT
// The background and every picture of `specs` (the key as alpha in `images`).
template <typename Specs>
void PaintStage(QPainter& p, const Specs& specs, const std::vector<QImage>& images) {
  p.setRenderHint(QPainter::SmoothPixmapTransform, false);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(0, 0, kStageW, kStageH, QColor(0x40, 0x60, 0x80));
  for (size_t i = 0; i < images.size(); ++i) {
    const auto& s = specs[i];
    p.setCompositionMode(s.keyed ? QPainter::CompositionMode_SourceOver : QPainter::CompositionMode_Source);
    p.drawImage(QRect(s.rect.left, s.rect.top, s.rect.Width(), s.rect.Height()), images[i]);
  }
}
#endif

void BM_StageUpdate(benchmark::State& state) {
  Compositor c(CompositorRole::kStage);
  c.Initialise({0, 0, kStageW, kStageH}, kBackColor, PixelFormat::kXrgb32, nullptr);
  std::vector<std::unique_ptr<StageSprite>> sprites;
  for (const SpriteSpec& s : kScene) {
    auto sprite = std::make_unique<StageSprite>();
    std::vector<uint8_t> bits;
    Picture32(s.picW, s.picH, bits);
    sprite->SetPicture({s.picW, s.picH, 32, Layout16::k555, bits.data(), s.picW * 4, {}});
    sprite->Setup(s.rect, {0, 0, s.picW, s.picH}, 5, s.keyed, kKey, 0, 0);
    c.Add(*sprite, true);
    sprites.push_back(std::move(sprite));
  }
  for (auto _ : state) {
    c.Update({0, 0, kStageW, kStageH});
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  for (auto& s : sprites) c.Remove(*s, false);
}
BENCHMARK(BM_StageUpdate)->Unit(benchmark::kMicrosecond);

#ifdef KV_BENCH_PIXMAN
// A source over `pixels` (alpha prepared), scaled by the nearest pixel to `rect`.
pixman_image_t* PixmanSource(uint32_t* pixels, int w, int h, bool keyed, const Rect& rect) {
  pixman_image_t* img = pixman_image_create_bits(keyed ? PIXMAN_a8r8g8b8 : PIXMAN_x8r8g8b8, w, h, pixels, w * 4);
  if (rect.Width() != w || rect.Height() != h) {
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(w) / rect.Width()),
                                pixman_double_to_fixed(double(h) / rect.Height()));
    pixman_image_set_transform(img, &t);
    pixman_image_set_filter(img, PIXMAN_FILTER_NEAREST, nullptr, 0);
  }
  return img;
}

void BM_StagePixman(benchmark::State& state) {
  std::vector<uint32_t> stage(size_t(kStageW) * kStageH);
  pixman_image_t* dst =
      pixman_image_create_bits(PIXMAN_x8r8g8b8, kStageW, kStageH, stage.data(), kStageW * 4);
  const pixman_color_t back{0x4040, 0x6060, 0x8080, 0xFFFF};
  pixman_image_t* fill = pixman_image_create_solid_fill(&back);
  std::vector<std::vector<uint32_t>> pixels;
  std::vector<pixman_image_t*> srcs;
  // Sources prepared outside the timing: the key becomes alpha 0.
  for (const SpriteSpec& s : kScene) {
    std::vector<uint8_t> bits;
    Picture32(s.picW, s.picH, bits);
    std::vector<uint32_t> px(size_t(s.picW) * s.picH);
    std::memcpy(px.data(), bits.data(), px.size() * 4);
    for (uint32_t& p : px) p = KeyToAlpha(p, s.keyed);
    pixels.push_back(std::move(px));
    srcs.push_back(PixmanSource(pixels.back().data(), s.picW, s.picH, s.keyed, s.rect));
  }
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, fill, nullptr, dst, 0, 0, 0, 0, 0, 0, kStageW, kStageH);
    for (size_t i = 0; i < srcs.size(); ++i) {
      const SpriteSpec& s = kScene[i];
      pixman_image_composite32(s.keyed ? PIXMAN_OP_OVER : PIXMAN_OP_SRC, srcs[i], nullptr, dst, 0, 0, 0, 0,
                               s.rect.left, s.rect.top, s.rect.Width(), s.rect.Height());
    }
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  for (pixman_image_t* i : srcs) pixman_image_unref(i);
  pixman_image_unref(fill);
  pixman_image_unref(dst);
}
BENCHMARK(BM_StagePixman)->Unit(benchmark::kMicrosecond);
#endif

#ifdef KV_BENCH_QT
void BM_StageQPainter(benchmark::State& state) {
  QImage stage(kStageW, kStageH, QImage::Format_RGB32);
  std::vector<QImage> images;
  for (const SpriteSpec& s : kScene) {
    std::vector<uint8_t> bits;
    Picture32(s.picW, s.picH, bits);
    QImage img(s.picW, s.picH, s.keyed ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    for (int y = 0; y < s.picH; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(img.scanLine(y));
      for (int x = 0; x < s.picW; ++x) {
        uint32_t p;
        std::memcpy(&p, &bits[size_t(y * s.picW + x) * 4], 4);
        row[x] = KeyToAlpha(p, s.keyed);
      }
    }
    images.push_back(std::move(img));
  }
  for (auto _ : state) {
    QPainter p(&stage);
    PaintStage(p, kScene, images);
    p.end();
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StageQPainter)->Unit(benchmark::kMicrosecond);
#endif

// ---------------------------------------------------------------- moving

// A 100 x 100 keyed sprite moving one pixel per step over 10 layers of
// pictures, MoveTo with its flush, presented into a window-sized buffer.
void BM_MoveKeyedSprite(benchmark::State& state) {
  PixelBuffer screen(kStageW, kStageH);
  BufferPresenter presenter(screen);
  Compositor c(CompositorRole::kStage);
  c.Initialise({0, 0, kStageW, kStageH}, kBackColor, PixelFormat::kXrgb32, &presenter);
  std::vector<std::unique_ptr<StageSprite>> layers;
  std::vector<uint8_t> bits;
  for (int i = 0; i < 10; ++i) {
    auto s = std::make_unique<StageSprite>();
    Picture32(400, 300, bits);
    s->SetPicture({400, 300, 32, Layout16::k555, bits.data(), 400 * 4, {}});
    s->Setup({100 + i * 30, 100 + i * 20, 500 + i * 30, 400 + i * 20}, {0, 0, 400, 300}, uint16_t(20 + i), i % 2,
             kKey, 0, 0);
    c.Add(*s, true);
    layers.push_back(std::move(s));
  }
  StageSprite mover;
  Picture32(100, 100, bits);
  mover.SetPicture({100, 100, 32, Layout16::k555, bits.data(), 400, {}});
  mover.Setup({200, 200, 300, 300}, {0, 0, 100, 100}, 5, true, kKey, 0, 0);
  c.Add(mover, true);
  c.Update({0, 0, kStageW, kStageH});
  int x = 200;
  for (auto _ : state) {
    x = x >= 600 ? 200 : x + 1;
    mover.MoveTo({x, 200, x + 100, 300}, 5, false);
  }
  c.Remove(mover, false);
  for (auto& s : layers) c.Remove(*s, false);
}
BENCHMARK(BM_MoveKeyedSprite)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------- a moving stage

// The player's frame: a 1024 x 768 stage over a full-size picture with 20
// keyed 64 x 64 sprites, every one moved each frame (a batch of moves and
// one flush), presented into a window-sized buffer as the stage window's
// presenter copies it.
constexpr int kMovers = 20;

Rect MoverAt(int i, int frame) {
  const int x = (i * 97 + frame * 3) % (kStageW - 64), y = (i * 53 + frame * 2) % (kStageH - 64);
  return {x, y, x + 64, y + 64};
}

void BM_Move20KeyedSprites(benchmark::State& state) {
  PixelBuffer window(kStageW, kStageH);
  BufferPresenter presenter(window);
  Compositor c(CompositorRole::kStage);
  c.Initialise({0, 0, kStageW, kStageH}, kBackColor, PixelFormat::kXrgb32, &presenter);
  std::vector<uint8_t> bits;
  StageSprite backdrop;
  Picture32(kStageW, kStageH, bits);
  backdrop.SetPicture({kStageW, kStageH, 32, Layout16::k555, bits.data(), kStageW * 4, {}});
  backdrop.Setup({0, 0, kStageW, kStageH}, {0, 0, kStageW, kStageH}, 100, false, kKey, 0, 0);
  c.Add(backdrop, true);
  std::vector<std::unique_ptr<StageSprite>> movers;
  Picture32(64, 64, bits);
  for (int i = 0; i < kMovers; ++i) {
    auto s = std::make_unique<StageSprite>();
    s->SetPicture({64, 64, 32, Layout16::k555, bits.data(), 64 * 4, {}});
    s->Setup(MoverAt(i, 0), {0, 0, 64, 64}, uint16_t(1 + i), true, kKey, 0, 0);
    c.Add(*s, true);
    movers.push_back(std::move(s));
  }
  c.Update({0, 0, kStageW, kStageH});
  int frame = 0;
  for (auto _ : state) {
    ++frame;
    for (int i = 0; i < kMovers; ++i) movers[size_t(i)]->MoveTo(MoverAt(i, frame), uint16_t(1 + i), true);
    c.Flush(false);
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  for (auto& s : movers) c.Remove(*s, false);
  c.Remove(backdrop, false);
}
BENCHMARK(BM_Move20KeyedSprites)->Unit(benchmark::kMicrosecond);

#ifdef KV_BENCH_QT
// The same frame drawn with QPainter into the window's image: the backdrop
// and the 20 keyed pictures (the key as alpha) at their new places.
void BM_Move20QPainter(benchmark::State& state) {
  QImage window(kStageW, kStageH, QImage::Format_RGB32);
  std::vector<uint8_t> bits;
  Picture32(kStageW, kStageH, bits);
  QImage backdrop(bits.data(), kStageW, kStageH, kStageW * 4, QImage::Format_RGB32);
  backdrop = backdrop.copy();
  Picture32(64, 64, bits);
  QImage mover(64, 64, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < 64; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(mover.scanLine(y));
    for (int x = 0; x < 64; ++x) {
      uint32_t p;
      std::memcpy(&p, &bits[size_t(y * 64 + x) * 4], 4);
      row[x] = KeyToAlpha(p, true);
    }
  }
  int frame = 0;
  for (auto _ : state) {
    ++frame;
    QPainter p(&window);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(0, 0, backdrop);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (int i = 0; i < kMovers; ++i) {
      const Rect r = MoverAt(i, frame);
      p.drawImage(r.left, r.top, mover);
    }
    p.end();
    benchmark::ClobberMemory();
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Move20QPainter)->Unit(benchmark::kMicrosecond);
#endif


// ---------------------------------------------------------------- scaling with the sprite count

// N small sprites scattered over a 1024 x 768 stage (a quarter each opaque,
// keyed, keyed and enlarged, opaque and enlarged; they overlap more as N
// grows) under 8 keyed 48 x 48 movers, each moved every frame (a batch of
// moves and one flush). Sprite sizes are fixed, so the changed area per
// frame is the same at every N: the compositor's time should grow with the
// sprites that touch it, not with N. QPainter and pixman draw the same
// frame whole, as they have no dirty list.
constexpr int kScaledMovers = 8;

struct ScaledSpec {
  Rect rect;
  int picW, picH;
  bool keyed;
  std::vector<uint32_t> pixels;  // 0xFFRRGGBB, the key where the pattern says
};

std::vector<ScaledSpec> ScaledScene(int n) {
  std::vector<ScaledSpec> out;
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % range;
  };
  for (int i = 0; i < n; ++i) {
    ScaledSpec s;
    s.picW = 8 + int(next(17)), s.picH = 8 + int(next(17));
    const bool enlarged = i % 4 >= 2;
    s.keyed = i % 4 == 1 || i % 4 == 2;
    const int w = enlarged ? s.picW * 3 / 2 : s.picW, h = enlarged ? s.picH * 3 / 2 : s.picH;
    const int x = int(next(uint32_t(kStageW - w))), y = int(next(uint32_t(kStageH - h)));
    s.rect = {x, y, x + w, y + h};
    const PixelBuffer p = Pattern(s.picW, s.picH);
    s.pixels.resize(size_t(s.picW) * s.picH);
    for (int r = 0; r < s.picH; ++r) std::memcpy(&s.pixels[size_t(r) * s.picW], p.Row(r), size_t(s.picW) * 4);
    out.push_back(std::move(s));
  }
  return out;
}

Rect ScaledMoverAt(int i, int frame) {
  const int x = (i * 131 + frame * 3) % (kStageW - 48), y = (i * 89 + frame * 2) % (kStageH - 48);
  return {x, y, x + 48, y + 48};
}

// How many sprites a frame has to recompose: the scattered sprites that meet
// a mover's old or new place, plus the movers, averaged over the first 100
// frames. With the stage's size fixed, 10x the sprites puts about 10x of
// them under every changed rectangle once they overlap, so this, not N,
// is what the frame's drawing should grow with.
double TouchedPerFrame(const std::vector<ScaledSpec>& scene) {
  constexpr int kFrames = 100;
  int64_t touched = 0;
  for (int frame = 1; frame <= kFrames; ++frame) {
    std::vector<Rect> changed;
    for (int i = 0; i < kScaledMovers; ++i) changed.push_back(ScaledMoverAt(i, frame - 1).Union(ScaledMoverAt(i, frame)));
    for (const ScaledSpec& s : scene)
      for (const Rect& r : changed)
        if (s.rect.Overlaps(r)) {
          ++touched;
          break;
        }
    touched += kScaledMovers;
  }
  return double(touched) / kFrames;
}

void ScalingArgs(benchmark::internal::Benchmark* b) {
  for (int n : {10, 100, 1000, 10000}) b->Arg(n);
}

void BM_ScaleCompositor(benchmark::State& state) {
  const int n = int(state.range(0));
  PixelBuffer window(kStageW, kStageH);
  BufferPresenter presenter(window);
  Compositor c(CompositorRole::kStage);
  c.Initialise({0, 0, kStageW, kStageH}, kBackColor, PixelFormat::kXrgb32, &presenter);
  std::vector<std::unique_ptr<StageSprite>> sprites;
  for (ScaledSpec& spec : ScaledScene(n)) {
    auto s = std::make_unique<StageSprite>();
    s->SetPicture({spec.picW, spec.picH, 32, Layout16::k555, reinterpret_cast<const uint8_t*>(spec.pixels.data()),
                   spec.picW * 4, {}});
    s->Setup(spec.rect, {0, 0, spec.picW, spec.picH}, 50, spec.keyed, kKey, 0, 0);
    c.Add(*s, false);
    sprites.push_back(std::move(s));
  }
  std::vector<std::unique_ptr<StageSprite>> movers;
  std::vector<uint8_t> bits;
  Picture32(48, 48, bits);
  for (int i = 0; i < kScaledMovers; ++i) {
    auto s = std::make_unique<StageSprite>();
    s->SetPicture({48, 48, 32, Layout16::k555, bits.data(), 48 * 4, {}});
    s->Setup(ScaledMoverAt(i, 0), {0, 0, 48, 48}, 5, true, kKey, 0, 0);
    c.Add(*s, false);
    movers.push_back(std::move(s));
  }
  c.Update({0, 0, kStageW, kStageH});
  int frame = 0;
  for (auto _ : state) {
    ++frame;
    for (int i = 0; i < kScaledMovers; ++i) movers[size_t(i)]->MoveTo(ScaledMoverAt(i, frame), 5, true);
    c.Flush(false);
    benchmark::ClobberMemory();
  }
  state.counters["touched"] = TouchedPerFrame(ScaledScene(n));
  for (auto& s : movers) c.Remove(*s, false);
  for (auto& s : sprites) c.Remove(*s, false);
}
BENCHMARK(BM_ScaleCompositor)->Apply(ScalingArgs)->Unit(benchmark::kMicrosecond);

#ifdef KV_BENCH_QT
void BM_ScaleQPainter(benchmark::State& state) {
  const int n = int(state.range(0));
  QImage window(kStageW, kStageH, QImage::Format_RGB32);
  const std::vector<ScaledSpec> scene = ScaledScene(n);
  auto image = [](const uint32_t* px, int w, int h, bool keyed) {
    QImage img(w, h, keyed ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<uint32_t*>(img.scanLine(y));
      for (int x = 0; x < w; ++x) row[x] = KeyToAlpha(px[size_t(y) * w + x], keyed);
    }
    return img;
  };
  std::vector<QImage> images;
  for (const ScaledSpec& s : scene) images.push_back(image(s.pixels.data(), s.picW, s.picH, s.keyed));
  std::vector<uint8_t> bits;
  Picture32(48, 48, bits);
  const QImage mover = image(reinterpret_cast<const uint32_t*>(bits.data()), 48, 48, true);
  int frame = 0;
  for (auto _ : state) {
    ++frame;
    QPainter p(&window);
    PaintStage(p, scene, images);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (int i = 0; i < kScaledMovers; ++i) {
      const Rect r = ScaledMoverAt(i, frame);
      p.drawImage(r.left, r.top, mover);
    }
    p.end();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ScaleQPainter)->Apply(ScalingArgs)->Unit(benchmark::kMicrosecond);
#endif

#ifdef KV_BENCH_PIXMAN
void BM_ScalePixman(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<uint32_t> stage(size_t(kStageW) * kStageH);
  pixman_image_t* dst = pixman_image_create_bits(PIXMAN_x8r8g8b8, kStageW, kStageH, stage.data(), kStageW * 4);
  const pixman_color_t back{0x4040, 0x6060, 0x8080, 0xFFFF};
  pixman_image_t* fill = pixman_image_create_solid_fill(&back);
  std::vector<ScaledSpec> scene = ScaledScene(n);
  std::vector<pixman_image_t*> srcs;
  for (ScaledSpec& s : scene) {
    for (uint32_t& px : s.pixels) px = KeyToAlpha(px, s.keyed);
    srcs.push_back(PixmanSource(s.pixels.data(), s.picW, s.picH, s.keyed, s.rect));
  }
  std::vector<uint8_t> bits;
  Picture32(48, 48, bits);
  std::vector<uint32_t> moverPixels(48 * 48);
  std::memcpy(moverPixels.data(), bits.data(), moverPixels.size() * 4);
  for (uint32_t& px : moverPixels) px = KeyToAlpha(px, true);
  pixman_image_t* mover = pixman_image_create_bits(PIXMAN_a8r8g8b8, 48, 48, moverPixels.data(), 48 * 4);
  int frame = 0;
  for (auto _ : state) {
    ++frame;
    pixman_image_composite32(PIXMAN_OP_SRC, fill, nullptr, dst, 0, 0, 0, 0, 0, 0, kStageW, kStageH);
    for (size_t i = 0; i < srcs.size(); ++i) {
      const ScaledSpec& s = scene[i];
      pixman_image_composite32(s.keyed ? PIXMAN_OP_OVER : PIXMAN_OP_SRC, srcs[i], nullptr, dst, 0, 0, 0, 0,
                               s.rect.left, s.rect.top, s.rect.Width(), s.rect.Height());
    }
    for (int i = 0; i < kScaledMovers; ++i) {
      const Rect r = ScaledMoverAt(i, frame);
      pixman_image_composite32(PIXMAN_OP_OVER, mover, nullptr, dst, 0, 0, 0, 0, r.left, r.top, 48, 48);
    }
    benchmark::ClobberMemory();
  }
  for (pixman_image_t* i : srcs) pixman_image_unref(i);
  pixman_image_unref(mover);
  pixman_image_unref(fill);
  pixman_image_unref(dst);
}
BENCHMARK(BM_ScalePixman)->Apply(ScalingArgs)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
