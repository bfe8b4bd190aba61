#include "stage/picture_processing.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "stage/pixel_format.h"
#include "stage/sprite.h"

namespace kv {

namespace {

// Whole-picture scratch blocks are kept per thread for the next operation:
// fresh ones cost a page fault per 4 KiB, more than most operations' work.
class BlockCache {
 public:
  ~BlockCache() {
    for (const Block& b : blocks_) ::operator delete(b.p);
  }
  void* Take(size_t bytes) {
    for (size_t i = 0; i < blocks_.size(); ++i)
      if (blocks_[i].bytes == bytes) {
        void* p = blocks_[i].p;
        kept_ -= bytes;
        blocks_.erase(blocks_.begin() + ptrdiff_t(i));
        return p;
      }
    return ::operator new(bytes);
  }
  void Give(void* p, size_t bytes) {
    if (bytes < kSmall || bytes > kMaxKept) {
      ::operator delete(p);
      return;
    }
    blocks_.push_back({p, bytes});
    kept_ += bytes;
    while (kept_ > kMaxKept || blocks_.size() > kMaxBlocks) {
      kept_ -= blocks_.front().bytes;
      ::operator delete(blocks_.front().p);
      blocks_.erase(blocks_.begin());
    }
  }

 private:
  static constexpr size_t kSmall = 64 * 1024;
  static constexpr size_t kMaxKept = 64u << 20;
  static constexpr size_t kMaxBlocks = 12;
  struct Block {
    void* p;
    size_t bytes;
  };
  std::vector<Block> blocks_;
  size_t kept_ = 0;
};

BlockCache& Blocks() {
  thread_local BlockCache cache;
  return cache;
}

template <class T>
struct Recycled {
  using value_type = T;
  Recycled() = default;
  template <class U>
  Recycled(const Recycled<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(Blocks().Take(n * sizeof(T))); }
  void deallocate(T* p, size_t n) { Blocks().Give(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const Recycled<U>&) const { return true; }
};

template <class T>
using Buffer = std::vector<T, Recycled<T>>;

// Working pixels: 0x00RRGGBB, rows top-down, no padding.
using Work = Buffer<uint32_t>;
using Plane = Buffer<int32_t>;

constexpr int R(uint32_t p) { return int(p >> 16) & 0xFF; }
constexpr int G(uint32_t p) { return int(p >> 8) & 0xFF; }
constexpr int B(uint32_t p) { return int(p) & 0xFF; }
constexpr uint32_t Rgb(int r, int g, int b) { return uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b); }
constexpr uint32_t FromRef(ColorRef c) { return Rgb(c.Red(), c.Green(), c.Blue()); }
constexpr ColorRef ToRef(uint32_t p) { return ColorRef::FromRgb(uint8_t(R(p)), uint8_t(G(p)), uint8_t(B(p))); }
constexpr int Luminance(int r, int g, int b) { return (30 * r + 59 * g + 11 * b) / 100; }
constexpr int Luminance(uint32_t p) { return Luminance(R(p), G(p), B(p)); }
constexpr uint8_t Clamp255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

ptrdiff_t RowBytes(int width, int bpp) { return ((ptrdiff_t(width) * bpp / 8) + 3) & ~ptrdiff_t(3); }

// The colour a 16-bit pixel of `layout` keeps of `p` (truncation, read back by shifting).
uint32_t Quantise16(uint32_t p, Layout16 layout) {
  return layout == Layout16::k565 ? (p & 0xF8FCF8u) : (p & 0xF8F8F8u);
}

Work ToWork(const DecodedPicture& pic) {
  const int w = pic.width, h = pic.height;
  Work out(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = pic.bits.data() + pic.stride * y;
    uint32_t* d = &out[size_t(y) * w];
    switch (pic.bitsPerPixel) {
      case 8:
        for (int x = 0; x < w; ++x) d[x] = s[x] < pic.colorTable.size() ? FromRef(pic.colorTable[s[x]]) : 0;
        break;
      case 16:
        for (int x = 0; x < w; ++x) {
          const uint16_t v = uint16_t(s[2 * x] | s[2 * x + 1] << 8);
          d[x] = FromRef(pic.layout16 == Layout16::k565 ? FromRgb565(v) : FromRgb555(v));
        }
        break;
      case 24:
        for (int x = 0; x < w; ++x) d[x] = Rgb(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
        break;
      default:
        std::memcpy(d, s, size_t(w) * 4);
        for (int x = 0; x < w; ++x) d[x] &= 0x00FFFFFFu;
        break;
    }
  }
  return out;
}

// The palette entry nearest a colour (squared distance, first of equals),
// remembered per colour because pictures repeat colours a lot.
class NearestEntry {
 public:
  explicit NearestEntry(const std::vector<ColorRef>& table) : table_(table) {}
  uint8_t operator()(uint32_t p) {
    if (auto it = memo_.find(p); it != memo_.end()) return it->second;
    int best = 0;
    long bestDist = -1;
    for (size_t i = 0; i < table_.size() && i < 256; ++i) {
      const long dr = R(p) - table_[i].Red(), dg = G(p) - table_[i].Green(), db = B(p) - table_[i].Blue();
      const long dist = dr * dr + dg * dg + db * db;
      if (bestDist < 0 || dist < bestDist) best = int(i), bestDist = dist;
    }
    memo_.emplace(p, uint8_t(best));
    return uint8_t(best);
  }

 private:
  const std::vector<ColorRef>& table_;
  std::unordered_map<uint32_t, uint8_t> memo_;
};

void NewBits(DecodedPicture& pic, int width, int height) {
  pic.width = width;
  pic.height = height;
  pic.stride = RowBytes(width, pic.bitsPerPixel);
  pic.bits.assign(size_t(pic.stride) * height, 0);
}

// Writes `work` into `pic` at its depth. An 8-bit picture keeps the index of
// every pixel whose colour `before` already had (same size only) and takes
// the nearest table entry for the others.
void FromWork(DecodedPicture& pic, const Work& work, int width, int height, const Work* before) {
  std::vector<uint8_t> oldIndices;
  if (pic.bitsPerPixel == 8 && before) {
    oldIndices.resize(size_t(width) * height);
    for (int y = 0; y < height; ++y)
      std::memcpy(&oldIndices[size_t(y) * width], pic.bits.data() + pic.stride * y, size_t(width));
  }
  if (width != pic.width || height != pic.height || !before) NewBits(pic, width, height);
  NearestEntry nearest(pic.colorTable);
  for (int y = 0; y < height; ++y) {
    uint8_t* d = pic.bits.data() + pic.stride * y;
    const uint32_t* s = &work[size_t(y) * width];
    switch (pic.bitsPerPixel) {
      case 8:
        for (int x = 0; x < width; ++x) {
          const size_t i = size_t(y) * width + x;
          d[x] = (!oldIndices.empty() && (*before)[i] == s[x]) ? oldIndices[i] : nearest(s[x]);
        }
        break;
      case 16:
        for (int x = 0; x < width; ++x) {
          const ColorRef c = ToRef(s[x]);
          const uint16_t v = pic.layout16 == Layout16::k565
                                 ? ToRgb565(c)
                                 : uint16_t((c.Red() & 0xF8) << 7 | (c.Green() & 0xF8) << 2 | c.Blue() >> 3);
          d[2 * x] = uint8_t(v);
          d[2 * x + 1] = uint8_t(v >> 8);
        }
        break;
      case 24:
        for (int x = 0; x < width; ++x) {
          d[3 * x] = uint8_t(B(s[x]));
          d[3 * x + 1] = uint8_t(G(s[x]));
          d[3 * x + 2] = uint8_t(R(s[x]));
        }
        break;
      default:
        std::memcpy(d, s, size_t(width) * 4);
        break;
    }
  }
}

struct Box {
  int left, top, right, bottom;  // inclusive
  bool Empty() const { return right < left || bottom < top; }
};

Box BoxOf(const PictureRegion& r) { return {r.left, r.top, r.right, r.bottom}; }

template <class F>
void ForEachInBox(Work& work, int width, const Box& b, F&& f) {
  if (b.Empty()) return;
  for (int y = b.top; y <= b.bottom; ++y) {
    uint32_t* row = &work[size_t(y) * width];
    for (int x = b.left; x <= b.right; ++x) row[x] = f(row[x]);
  }
}

// --- the colour operations on working pixels

void Greyscale(Work& work, int width, const Box& b) {
  ForEachInBox(work, width, b, [](uint32_t p) {
    const int l = Luminance(p);
    return Rgb(l, l, l);
  });
}

void Invert(Work& work, int width, const Box& b) {
  ForEachInBox(work, width, b, [](uint32_t p) { return ~p & 0x00FFFFFFu; });
}

void RedEye(Work& work, int width, const Box& b) {
  ForEachInBox(work, width, b, [](uint32_t p) {
    const int r = R(p), g = G(p), bl = B(p);
    if (r > g || r > bl) return Rgb(std::min(g, bl), g, bl);
    return p;
  });
}

// The channel map of brightness `value` (0 to 400, not 100).
std::array<uint8_t, 256> BrightnessMap(int value) {
  std::array<uint8_t, 256> map{};
  for (int c = 0; c < 256; ++c) {
    int v = std::min(255, c * value / 100);
    if (value > 100 && v == 0) v = (value * 255 / 100) % 256;
    map[c] = uint8_t(v);
  }
  return map;
}

void Brightness(Work& work, int value) {
  const auto map = BrightnessMap(value);
  for (uint32_t& p : work) p = Rgb(map[R(p)], map[G(p)], map[B(p)]);
}

// A pixel brightened by a fifth; 214 and above is already at the top.
constexpr int Brighter(int c) { return c >= 214 ? 255 : c * 6 / 5; }

// Edge measures: the difference of the mean luminances of the columns left
// and right of the pixel, and of the rows above and below it; a pixel whose
// larger measure exceeds 20 is brightened. Judged on the unchanged picture.
void BrightenEdges(Work& work, int width, int height, Box b) {
  b.left = std::max(b.left, 2);
  b.top = std::max(b.top, 2);
  b.right = std::min(b.right, width - 2);
  b.bottom = std::min(b.bottom, height - 2);
  if (b.Empty()) return;
  Plane lum(work.size());
  for (size_t i = 0; i < work.size(); ++i) lum[i] = Luminance(work[i]);
  auto L = [&](int x, int y) { return lum[size_t(y) * width + x]; };
  for (int y = b.top; y <= b.bottom; ++y) {
    for (int x = b.left; x <= b.right; ++x) {
      const int left = (L(x - 1, y - 1) + L(x - 1, y) + L(x - 1, y + 1)) / 3;
      const int right = (L(x + 1, y - 1) + L(x + 1, y) + L(x + 1, y + 1)) / 3;
      const int above = (L(x - 1, y - 1) + L(x, y - 1) + L(x + 1, y - 1)) / 3;
      const int below = (L(x - 1, y + 1) + L(x, y + 1) + L(x + 1, y + 1)) / 3;
      if (std::max(std::abs(left - right), std::abs(above - below)) <= 20) continue;
      uint32_t& p = work[size_t(y) * width + x];
      p = Rgb(Brighter(R(p)), Brighter(G(p)), Brighter(B(p)));
    }
  }
}

// Stretches the tones of the box so that its darkest luminance becomes 0 and
// its brightest 255; a box of one luminance is left alone.
void TonalStretch(Work& work, int width, const Box& b) {
  if (b.Empty()) return;
  int lo = 255, hi = 0;
  for (int y = b.top; y <= b.bottom; ++y)
    for (int x = b.left; x <= b.right; ++x) {
      const int l = Luminance(work[size_t(y) * width + x]);
      lo = std::min(lo, l);
      hi = std::max(hi, l);
    }
  if (hi <= lo) return;
  std::array<uint8_t, 256> map{};
  for (int c = 0; c < 256; ++c) map[c] = Clamp255((c - lo) * 255 / (hi - lo));
  ForEachInBox(work, width, b, [&](uint32_t p) { return Rgb(map[R(p)], map[G(p)], map[B(p)]); });
}

// Weighted sums of each channel over a window centred on each pixel (`weights`
// along rows and along columns, cut at the picture's edges), handed with the
// sum of the weights used to `finish(i, r, g, b, n)` for pixel index i.
template <size_t N, class Finish>
void SeparableSums(const Work& src, int width, int height, const std::array<int, N>& weights, Finish&& finish) {
  constexpr int half = int(N) / 2;
  std::vector<int32_t> colWeight(size_t(width), 0), rowWeight(size_t(height), 0);
  for (int x = 0; x < width; ++x)
    for (int k = -half; k <= half; ++k)
      if (x + k >= 0 && x + k < width) colWeight[size_t(x)] += weights[size_t(k + half)];
  for (int y = 0; y < height; ++y)
    for (int k = -half; k <= half; ++k)
      if (y + k >= 0 && y + k < height) rowWeight[size_t(y)] += weights[size_t(k + half)];
  // Along rows: the channels split out once (zeros beyond the edges), then
  // the taps, which vectorise.
  Plane rows[3];
  for (auto& v : rows) v.resize(src.size());
  Plane channel(size_t(width) + 2 * half);
  for (int y = 0; y < height; ++y) {
    const uint32_t* s = &src[size_t(y) * width];
    for (int ch = 0; ch < 3; ++ch) {
      const int shift = 16 - 8 * ch;
      int32_t* c = channel.data() + half;
      for (int x = 0; x < width; ++x) c[x] = int32_t(s[x] >> shift) & 0xFF;
      int32_t* r = &rows[ch][size_t(y) * width];
      for (int x = 0; x < width; ++x) {
        int32_t sum = 0;
        for (int k = 0; k < int(N); ++k) sum += weights[size_t(k)] * c[x + k - half];
        r[x] = sum;
      }
    }
  }
  // Along columns, one row of sums at a time, finished at once.
  Plane sums[3];
  for (auto& v : sums) v.resize(size_t(width));
  for (int y = 0; y < height; ++y) {
    for (int ch = 0; ch < 3; ++ch) {
      int32_t* d = sums[ch].data();
      std::fill(d, d + width, 0);
      for (int k = -half; k <= half; ++k) {
        const int yy = y + k;
        if (yy < 0 || yy >= height) continue;
        const int32_t wgt = weights[size_t(k + half)];
        const int32_t* r = &rows[ch][size_t(yy) * width];
        for (int x = 0; x < width; ++x) d[x] += wgt * r[x];
      }
    }
    const size_t base = size_t(y) * width;
    for (int x = 0; x < width; ++x)
      finish(base + size_t(x), sums[0][size_t(x)], sums[1][size_t(x)], sums[2][size_t(x)],
             colWeight[size_t(x)] * rowWeight[size_t(y)]);
  }
}

// Division by the weight sum; inside the picture the sum is always `full`,
// a constant the compiler divides by without a divide instruction.
template <int full>
inline int DivideBy(int v, int n) {
  return n == full ? v / full : v / n;
}

Work Blur(const Work& src, int width, int height) {
  Work out(src.size());
  SeparableSums<5>(src, width, height, {1, 1, 1, 1, 1}, [&](size_t i, int r, int g, int b, int n) {
    out[i] = Rgb(DivideBy<25>(r, n), DivideBy<25>(g, n), DivideBy<25>(b, n));
  });
  return out;
}

// Weights 5 for the pixel, 2 beside it, 1 at the corners: the product of
// 1-2-1 along rows and columns plus one more for the pixel itself. A
// neighbourhood of one colour averages to that colour exactly.
Work Soften(const Work& src, int width, int height) {
  Work out(src.size());
  SeparableSums<3>(src, width, height, {1, 2, 1}, [&](size_t i, int r, int g, int b, int n) {
    const uint32_t p = src[i];
    out[i] = Rgb(DivideBy<17>(r + R(p), n + 1), DivideBy<17>(g + G(p), n + 1), DivideBy<17>(b + B(p), n + 1));
  });
  return out;
}

// Section rows run from the bottom up: index p is row height - 1 - p / width
// from the top. Each pixel from index width + 1 to width * (height - 1) - 2
// compares with the one width + 1 indices before it.
Work Emboss(const Work& src, int width, int height, uint32_t background) {
  Work out(src.size(), background);
  auto at = [&](long p) -> size_t { return size_t(height - 1 - p / width) * width + size_t(p % width); };
  const long first = long(width) + 1, last = long(width) * (height - 1) - 2;
  for (long p = first; p <= last; ++p) {
    const uint32_t a = src[at(p)], n = src[at(p - width - 1)];
    out[at(p)] = Rgb(Clamp255(192 + 3 * (R(n) - R(a))), Clamp255(192 + 3 * (G(n) - G(a))),
                     Clamp255(192 + 3 * (B(n) - B(a))));
  }
  return out;
}

// --- operations that only move pixels, on colours or on palette indices

template <class V>
V Mirror(const V& src, int width, int height) {
  using T = typename V::value_type;
  V out(src.size());
  for (int y = 0; y < height; ++y) {
    const T* s = &src[size_t(y) * width];
    T* d = &out[size_t(y) * width];
    std::reverse_copy(s, s + width, d);
  }
  return out;
}

template <class V>
void Flip(V& px, int width, int height) {
  for (int y = 0; y < height / 2; ++y)
    std::swap_ranges(px.begin() + ptrdiff_t(y) * width, px.begin() + ptrdiff_t(y + 1) * width,
                     px.begin() + ptrdiff_t(height - 1 - y) * width);
}

// Every second pixel in section order, starting with the second; an even
// width switches the phase at each row. Either way a pixel is copied when
// its column plus its row counted from the bottom is odd.
template <class V, class T = typename V::value_type>
V Checkerboard(const V& src, int width, int height, T background) {
  V out(src.size(), background);
  for (int y = 0; y < height; ++y) {
    const int phase = (height - 1 - y) & 1;
    for (int x = 1 - phase; x < width; x += 2) out[size_t(y) * width + x] = src[size_t(y) * width + x];
  }
  return out;
}

struct Turn {
  double c, s;
  int width, height;
};

// Positive angles turn clockwise on the stage. Right angles are exact.
Turn TurnFor(int degrees, int width, int height, bool keepSize) {
  const int d = ((degrees % 360) + 360) % 360;
  double c, s;
  switch (d) {
    case 0: c = 1, s = 0; break;
    case 90: c = 0, s = 1; break;
    case 180: c = -1, s = 0; break;
    case 270: c = 0, s = -1; break;
    default: {
      const double a = d * 3.14159265358979323846 / 180.0;
      c = std::cos(a), s = std::sin(a);
    }
  }
  if (keepSize) return {c, s, width, height};
  const int w = int(std::lround(width * std::abs(c) + height * std::abs(s)));
  const int h = int(std::lround(width * std::abs(s) + height * std::abs(c)));
  return {c, s, std::max(w, 1), std::max(h, 1)};
}

template <class V, class T = typename V::value_type>
V Rotate(const V& src, int width, int height, const Turn& t, T background) {
  V out(size_t(t.width) * t.height, background);
  const double hw = width / 2.0, hh = height / 2.0;
  for (int y = 0; y < t.height; ++y) {
    const double dy = y + 0.5 - t.height / 2.0;
    const double dx0 = 0.5 - t.width / 2.0;
    // Source point of the destination pixel's centre: turned back by the angle.
    double sx = t.c * dx0 + t.s * dy + hw;
    double sy = -t.s * dx0 + t.c * dy + hh;
    T* d = &out[size_t(y) * t.width];
    for (int x = 0; x < t.width; ++x, sx += t.c, sy -= t.s) {
      const double fx = std::floor(sx), fy = std::floor(sy);
      if (fx < 0 || fy < 0 || fx >= width || fy >= height) continue;
      d[x] = src[size_t(fy) * width + size_t(fx)];
    }
  }
  return out;
}

std::vector<uint8_t> Indices(const DecodedPicture& pic) {
  std::vector<uint8_t> out(size_t(pic.width) * pic.height);
  for (int y = 0; y < pic.height; ++y)
    std::memcpy(&out[size_t(y) * pic.width], pic.bits.data() + pic.stride * y, size_t(pic.width));
  return out;
}

void SetIndices(DecodedPicture& pic, const std::vector<uint8_t>& idx, int width, int height) {
  NewBits(pic, width, height);
  for (int y = 0; y < height; ++y)
    std::memcpy(pic.bits.data() + pic.stride * y, &idx[size_t(y) * width], size_t(width));
}

bool MovesPixelsOnly(int type) {
  return type == picture_op::kCheckerboard || type == picture_op::kRotate || type == picture_op::kMirror ||
         type == picture_op::kFlip;
}

template <class V, class T = typename V::value_type>
V MovePixels(V px, const PictureOpArgs& a, int width, int height, T background,
                          int* newWidth, int* newHeight) {
  *newWidth = width, *newHeight = height;
  switch (a.type) {
    case picture_op::kCheckerboard: return Checkerboard(px, width, height, background);
    case picture_op::kMirror: return Mirror(px, width, height);
    case picture_op::kFlip: Flip(px, width, height); return px;
    default: {
      const Turn t = TurnFor(a.value, width, height, a.value2 != 0);
      *newWidth = t.width, *newHeight = t.height;
      return Rotate(px, width, height, t, background);
    }
  }
}

// An 8-bit picture: palette work where the operation allows it, index moves
// for the operations that only move pixels, colours otherwise.
bool ApplyIndexed(DecodedPicture& pic, const PictureOpArgs& a, bool whole) {
  pic.colorTable.resize(256);
  const int w = pic.width, h = pic.height;
  switch (a.type) {
    case picture_op::kGreyScale:
      if (!whole) break;  // a part takes the nearest colours, below
      {
        std::vector<uint8_t> idx = Indices(pic);
        std::array<uint8_t, 256> grey{};
        for (int i = 0; i < 256; ++i)
          grey[i] = uint8_t(Luminance(pic.colorTable[i].Red(), pic.colorTable[i].Green(), pic.colorTable[i].Blue()));
        for (uint8_t& i : idx) i = grey[i];
        for (int i = 0; i < 256; ++i) pic.colorTable[i] = ColorRef::FromRgb(uint8_t(i), uint8_t(i), uint8_t(i));
        SetIndices(pic, idx, w, h);
        return true;
      }
    case picture_op::kInvert:
      if (!whole) break;
      for (ColorRef& c : pic.colorTable) c = ColorRef(~c.value);
      return true;
    case picture_op::kBrightness: {
      const auto map = BrightnessMap(std::clamp(a.value, 0, 400));
      for (ColorRef& c : pic.colorTable) c = ColorRef::FromRgb(map[c.Red()], map[c.Green()], map[c.Blue()]);
      return true;
    }
    default:
      if (MovesPixelsOnly(a.type)) {
        NearestEntry nearest(pic.colorTable);
        const uint8_t bg = nearest(FromRef(a.background));
        int nw = 0, nh = 0;
        std::vector<uint8_t> idx = MovePixels(Indices(pic), a, w, h, bg, &nw, &nh);
        SetIndices(pic, idx, nw, nh);
        return true;
      }
  }
  return false;  // colour work
}

}  // namespace

bool IsPictureOp(int type) { return type >= picture_op::kGreyScale && type <= picture_op::kFlip; }

bool IsPackedPictureOp(int type) {
  return type == picture_op::kGreyScale || type == picture_op::kInvert || type == picture_op::kRedEye ||
         type == picture_op::kBrightenEdges || type == picture_op::kTonal || type == picture_op::kFlip;
}

PictureRegion NormaliseRegion(PictureRegion r, int width, int height) {
  if (r.left == -1) r.left = 0;
  if (r.top == -1) r.top = 0;
  if (r.right == -1) r.right = width - 1;
  if (r.bottom == -1) r.bottom = height - 1;
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  r.left = std::clamp(r.left, 0, std::max(0, width - 1));
  r.right = std::clamp(r.right, 0, std::max(0, width - 1));
  r.top = std::clamp(r.top, 0, std::max(0, height - 1));
  r.bottom = std::clamp(r.bottom, 0, std::max(0, height - 1));
  return r;
}

bool CoversPicture(const PictureRegion& r, int width, int height) {
  return r.left == 0 && r.top == 0 && r.right == width - 1 && r.bottom == height - 1;
}

bool ApplyPictureOp(DecodedPicture& pic, const PictureOpArgs& a) {
  if (!IsPictureOp(a.type)) throw std::invalid_argument("no picture operation of type " + std::to_string(a.type));
  const int bpp = pic.bitsPerPixel;
  if ((bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) || pic.width <= 0 || pic.height <= 0) return false;
  const bool packed = IsPackedPictureOp(a.type);
  // A left of -1 means the whole picture; only the packed group is limited.
  PictureRegion region = packed && a.region.left != -1 ? a.region : PictureRegion{};
  region = NormaliseRegion(region, pic.width, pic.height);
  const Box box = BoxOf(region);
  const bool whole = CoversPicture(region, pic.width, pic.height);
  const int w = pic.width, h = pic.height;

  if (bpp == 8 && ApplyIndexed(pic, a, whole)) return true;
  if (a.type == picture_op::kBrightness && std::clamp(a.value, 0, 400) == 100) return true;

  // A 16-bit picture is worked on as 5-5-5 in the packed group and as 5-6-5
  // on the surface; either way it keeps only what its components hold.
  if (bpp == 16) {
    const Layout16 target = packed ? Layout16::k555 : Layout16::k565;
    if (pic.layout16 != target) {
      Work work = ToWork(pic);
      pic.layout16 = target;
      FromWork(pic, work, w, h, nullptr);
    }
  }
  Work work = ToWork(pic);
  const Work before = bpp == 8 ? work : Work();
  uint32_t background = FromRef(a.background);
  if (bpp == 16) background = Quantise16(background, pic.layout16);
  int nw = w, nh = h;
  switch (a.type) {
    case picture_op::kGreyScale: Greyscale(work, w, box); break;
    case picture_op::kInvert: Invert(work, w, box); break;
    case picture_op::kBrightness: Brightness(work, std::clamp(a.value, 0, 400)); break;
    case picture_op::kRedEye: RedEye(work, w, box); break;
    case picture_op::kBrightenEdges: BrightenEdges(work, w, h, box); break;
    case picture_op::kTonal: TonalStretch(work, w, box); break;
    case picture_op::kBlur: work = Blur(work, w, h); break;
    case picture_op::kEmboss:
    case picture_op::kEmbossToo: work = Emboss(work, w, h, background); break;
    case picture_op::kSoften: work = Soften(work, w, h); break;
    default: work = MovePixels(std::move(work), a, w, h, background, &nw, &nh); break;
  }
  FromWork(pic, work, nw, nh, (bpp == 8 && nw == w && nh == h) ? &before : nullptr);
  return true;
}

bool SpritePictureAtDepth(StageSprite& sprite, DecodedPicture& out) {
  std::lock_guard lock(sprite.Lock());
  const PixelBuffer& p = sprite.Picture();
  if (p.IsNull()) return false;
  const int w = p.Width(), h = p.Height();
  int bpp = sprite.SourceBits();
  if (bpp == 8 && sprite.Indices().size() != size_t(w) * h) bpp = 24;
  if (bpp != 8 && bpp != 16 && bpp != 24) bpp = 32;
  out = DecodedPicture{};
  out.bitsPerPixel = bpp;
  out.layout16 = Layout16::k565;
  out.width = w;
  out.height = h;
  out.stride = RowBytes(w, bpp);
  out.bits.assign(size_t(out.stride) * h, 0);
  if (bpp == 8) {
    out.colorTable.assign(sprite.ColorTable().begin(), sprite.ColorTable().end());
    for (int y = 0; y < h; ++y)
      std::memcpy(out.bits.data() + out.stride * y, &sprite.Indices()[size_t(y) * w], size_t(w));
    return true;
  }
  Work work(size_t(w) * h);
  for (int y = 0; y < h; ++y) {
    uint32_t* d = &work[size_t(y) * w];
    if (p.Format() == PixelFormat::kXrgb32) {
      std::memcpy(d, p.Row(y), size_t(w) * 4);
      for (int x = 0; x < w; ++x) d[x] &= 0x00FFFFFFu;
    } else {
      for (int x = 0; x < w; ++x) d[x] = FromRef(p.GetPixel(x, y));
    }
  }
  FromWork(out, work, w, h, &work);
  return true;
}

}  // namespace kv
