#include "stage/effect_routines.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>

namespace kv {

namespace {

constexpr uint16_t kNever = 0xFFFF;  // revealed only by the final state
constexpr int kMaxParameter = 1 << 16;
constexpr double kPi = 3.14159265358979323846;

int Clamp(int v, int lo, int hi) { return std::max(lo, std::min(v, std::max(lo, hi))); }
int CeilDiv(int a, int b) { return (a + b - 1) / b; }

// Maps rectangles and pixels between the object and a routine's own frame,
// in which the effect's front always moves down (+y).
struct Orientation {
  int w, h;
  Orient o;
  bool Transposed() const { return o == Orient::kRight || o == Orient::kLeft; }
  int CW() const { return Transposed() ? h : w; }
  int CH() const { return Transposed() ? w : h; }
  Rect Map(const Rect& c) const {
    switch (o) {
      case Orient::kDown: return c;
      case Orient::kUp: return {c.left, h - c.bottom, c.right, h - c.top};
      case Orient::kRight: return {c.top, c.left, c.bottom, c.right};
      case Orient::kLeft: return {w - c.bottom, c.left, w - c.top, c.right};
    }
    return c;
  }
  // Object pixel (x, y) in the routine's frame.
  void ToFrame(int x, int y, int* cx, int* cy) const {
    *cx = Transposed() ? y : x;
    *cy = o == Orient::kDown ? y : o == Orient::kUp ? h - 1 - y : o == Orient::kRight ? x : w - 1 - x;
  }
};

// --------------------------------------------------------------- mask routines

// A mask routine given by the step at which each pixel appears.
class OrderRoutine : public EffectRoutine {
 public:
  OrderRoutine(int w, int h) : w_(w), h_(h), order_(size_t(w) * h, kNever) { usesMask_ = true; }

  uint16_t& At(int x, int y) { return order_[size_t(y) * w_ + x]; }
  void Keep(int x, int y, int step) {
    uint16_t& o = At(x, y);
    o = uint16_t(std::min<int>(o, std::min(step, int(kNever) - 1)));
  }
  // Sets every pixel from fn(x, y) in the orientation's frame; negative: never.
  template <typename Fn>
  void Build(const Orientation& f, Fn fn) {
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        int cx, cy;
        f.ToFrame(x, y, &cx, &cy);
        const int v = fn(cx, cy);
        At(x, y) = v < 0 ? kNever : uint16_t(std::min(v, int(kNever) - 1));
      }
  }
  // Fixes the step count (the largest order + 1, or `steps` when given) and
  // each step's rectangle; orders past the cap are merged.
  void Finish(int clockSteps, int steps = -1) {
    int top = -1;
    for (uint16_t o : order_)
      if (o != kNever) top = std::max<int>(top, o);
    int n = steps >= 0 ? steps : top + 1;
    if (n > kMaxEffectSteps) {
      for (uint16_t& o : order_)
        if (o != kNever) o = uint16_t(int64_t(o) * kMaxEffectSteps / n);
      clockSteps = int(int64_t(clockSteps) * kMaxEffectSteps / n);
      n = kMaxEffectSteps;
    }
    steps_ = n;
    clockSteps_ = std::min(clockSteps, kMaxEffectSteps);
    boxes_.assign(size_t(n), Rect{});
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        const uint16_t o = At(x, y);
        if (o == kNever || o >= n) continue;
        Rect& b = boxes_[o];
        b = b.IsEmpty() ? Rect{x, y, x + 1, y + 1}
                        : Rect{std::min(b.left, x), std::min(b.top, y), std::max(b.right, x + 1),
                               std::max(b.bottom, y + 1)};
      }
    FindParts(n);
  }
  Rect Step(int i, EffectFrame& f) override {
    if (f.mask.size() != order_.size()) f.mask.assign(order_.size(), 0);
    const Rect b = boxes_[size_t(i)];
    const uint16_t step = uint16_t(i);
    for (int y = b.top; y < b.bottom; ++y) {
      const uint16_t* o = &order_[size_t(y) * w_];
      uint8_t* m = &f.mask[size_t(y) * w_];
      for (int x = b.left; x < b.right; ++x) m[x] |= uint8_t(o[x] == step);
    }
    f.parts.assign(parts_.begin() + partStart_[size_t(i)], parts_.begin() + partStart_[size_t(i) + 1]);
    return b;
  }

 private:
  static constexpr int kTile = 64;

  // Each step's changed pixels as runs of kTile-square tiles along the tile
  // rows, cut to the step's rectangle: a step then recomposes the tiles its
  // pixels lie in rather than the box around all of them.
  void FindParts(int n) {
    const int cols = (w_ + kTile - 1) / kTile, rows = (h_ + kTile - 1) / kTile;
    // The steps present in each tile, tile by tile, so each step's list comes out in tile order.
    std::vector<std::vector<uint32_t>> tilesOf(static_cast<size_t>(n));
    std::vector<int32_t> seen(size_t(n), -1);
    for (int ty = 0; ty < rows; ++ty)
      for (int tx = 0; tx < cols; ++tx) {
        const int tile = ty * cols + tx;
        for (int y = ty * kTile; y < std::min(h_, (ty + 1) * kTile); ++y)
          for (int x = tx * kTile; x < std::min(w_, (tx + 1) * kTile); ++x) {
            const uint16_t o = At(x, y);
            if (o == kNever || o >= n || seen[o] == tile) continue;
            seen[o] = tile;
            tilesOf[o].push_back(uint32_t(tile));
          }
      }
    parts_.clear();
    partStart_.assign(size_t(n) + 1, 0);
    for (int i = 0; i < n; ++i) {
      const std::vector<uint32_t>& t = tilesOf[size_t(i)];
      for (size_t k = 0; k < t.size();) {
        size_t e = k + 1;
        while (e < t.size() && t[e] == t[e - 1] + 1 && t[e] % uint32_t(cols) != 0) ++e;
        const int tx0 = int(t[k] % uint32_t(cols)), tx1 = int(t[e - 1] % uint32_t(cols)), ty = int(t[k] / uint32_t(cols));
        const Rect run{tx0 * kTile, ty * kTile, (tx1 + 1) * kTile, (ty + 1) * kTile};
        parts_.push_back(run.Intersect(boxes_[size_t(i)]));
        k = e;
      }
      partStart_[size_t(i) + 1] = uint32_t(parts_.size());
    }
  }
  int w_, h_;
  std::vector<uint16_t> order_;
  std::vector<Rect> boxes_;
  std::vector<Rect> parts_;            // every step's parts, in step order
  std::vector<uint32_t> partStart_;    // step i's parts: [partStart_[i], partStart_[i + 1])
};

using Routine = std::unique_ptr<EffectRoutine>;

std::unique_ptr<OrderRoutine> NewOrder(const RoutineInput& in) {
  return std::make_unique<OrderRoutine>(in.width, in.height);
}

// Wipe: bands of h rows from the top; the first band takes the remainder.
Routine Wipe(const RoutineInput& in, const Orientation& f) {
  const int d = f.CH(), h = Clamp(in.param1, 1, d), n = d / h, r = d - h * n;
  auto o = NewOrder(in);
  o->Build(f, [&](int, int y) { return y < r ? 0 : (y - r) / h + (r > 0); });
  o->Finish(n, n + (r > 0));
  return o;
}

// Close from both edges toward the middle, or open from the middle.
Routine CloseOpen(const RoutineInput& in, const Orientation& f, bool open) {
  const int d = f.CH(), half = d / 2, h = Clamp(in.param1, 1, half), n = std::max(half / std::max(h, 1), 1);
  auto o = NewOrder(in);
  o->Build(f, [&](int, int y) {
    const int edge = std::min(y, d - 1 - y);
    const int fromMiddle = y < half ? half - 1 - y : y - half;
    return std::min((open ? fromMiddle : edge) / std::max(h, 1), n - 1);
  });
  o->Finish(n, n);
  return o;
}

Routine Blinds(const RoutineInput& in, const Orientation& f) {
  const int h = Clamp(in.param1, 2, f.CH());
  auto o = NewOrder(in);
  o->Build(f, [&](int, int y) { return y % h; });
  o->Finish(h, h);
  return o;
}

Routine GrowingRect(const RoutineInput& in) {
  const int band = std::max(in.param1, 1), n = std::max(CeilDiv(std::max(in.width, in.height) / 2, band), 1);
  auto o = NewOrder(in);
  const double cx = in.width / 2.0, cy = in.height / 2.0;
  o->Build({in.width, in.height, Orient::kDown}, [&](int x, int y) {
    const double t = std::max(std::abs(x + 0.5 - cx) / std::max(cx, 0.5), std::abs(y + 0.5 - cy) / std::max(cy, 0.5));
    return std::min(int(t * n), n - 1);
  });
  o->Finish(n, n);
  return o;
}

// Rows of cells from the top, alternately left to right and right to left.
Routine Blocks(const RoutineInput& in, const Orientation& f) {
  const int cw = Clamp(f.Transposed() ? in.param2 : in.param1, 1, f.CW());
  const int ch = Clamp(f.Transposed() ? in.param1 : in.param2, 1, f.CH());
  const int cols = CeilDiv(f.CW(), cw), rows = CeilDiv(f.CH(), ch);
  auto o = NewOrder(in);
  o->Build(f, [&](int x, int y) {
    const int row = y / ch, col = x / cw;
    return row * cols + (row % 2 == 0 ? col : cols - 1 - col);
  });
  o->Finish(rows * cols, rows * cols);
  return o;
}

// Rows of h: even bands going down from the top, odd bands going up.
Routine SkipLines(const RoutineInput& in, const Orientation& f) {
  const int d = f.CH(), h = Clamp(in.param1, 1, d), bands = CeilDiv(d, h);
  const int lowestOdd = bands % 2 == 0 ? bands - 1 : bands - 2;
  auto o = NewOrder(in);
  o->Build(f, [&](int, int y) {
    const int b = y / h;
    return b % 2 == 0 ? b / 2 : (lowestOdd - b) / 2;
  });
  o->Finish(d / (2 * h) + 1, CeilDiv(bands, 2));
  return o;
}

Routine PixelFade(const RoutineInput& in) {
  const int cw = in.width / 2, n = cw * (in.height / 4);
  auto o = NewOrder(in);
  if (n > 0) {
    CellSequence seq(uint32_t(n), in.seed);
    for (int k = 0; k < n; ++k) {
      const uint32_t g = seq.Next();
      if (g >= uint32_t(n)) break;
      const int x = int(g % uint32_t(cw)) * 2, y = int(g / uint32_t(cw)) * 4;
      for (int dy = 0; dy < 4; ++dy)
        for (int dx = 0; dx < 2; ++dx) o->At(x + dx, y + dy) = uint16_t(std::min(k / 20, int(kNever) - 1));
    }
  }
  o->Finish(n / 20, CeilDiv(n, 20));
  return o;
}

struct Shape {
  enum Kind { kEllipse, kHexagon, kRect } kind;
  int left, top, w, h;
  bool Contains(int x, int y) const {
    const double u = (x + 0.5 - left) / w * 2 - 1, v = (y + 0.5 - top) / h * 2 - 1;
    switch (kind) {
      case kEllipse: return u * u + v * v <= 1;
      case kHexagon: return std::abs(v) <= 1 && std::abs(u) + std::abs(v) * 0.5 <= 1;
      case kRect: return std::abs(u) <= 1 && std::abs(v) <= 1;
    }
    return false;
  }
};

// Cells of a grid, each one step, in the shift register's order.
Routine RandomCells(const RoutineInput& in, int variant) {
  const int W = in.width, H = in.height;
  int w = in.param1, h = in.param2, m, rows, stepX, stepY, offX, offY;
  Shape::Kind kind;
  if (variant == 2) {
    kind = Shape::kRect;
    w = std::max(w, 1), h = std::max(h, 1);
    m = CeilDiv(W, w), rows = CeilDiv(H, h), stepX = w, stepY = h, offX = 0, offY = 0;
  } else {
    std::mt19937 random(in.seed);
    auto pick = [&](int size) { return int(int64_t(random() % 32768) * (size / 4) / 32767 + 2); };
    if (w <= 0) w = pick(W);
    if (h <= 0) h = pick(H);
    kind = variant == 0 ? Shape::kEllipse : Shape::kHexagon;
    // Spacing of half a shape; at least 1, so a 1-pixel shape cannot divide by zero.
    stepX = std::max(w / 2, 1), stepY = std::max(h / 2, 1);
    m = W / stepX + 2, rows = H / stepY + 2, offX = -(w / 2) + 1, offY = -(h / 2) + 1;
  }
  const int64_t cells = int64_t(m) * rows;
  auto o = NewOrder(in);
  const int n = int(std::min<int64_t>(cells, 1 << 22));
  CellSequence seq(uint32_t(n), in.seed);
  for (int k = 0; k < n; ++k) {
    const uint32_t g = seq.Next();
    if (g >= uint32_t(n)) break;
    const Shape s{kind, stepX * int(g % uint32_t(m)) + offX, stepY * int(g / uint32_t(m)) + offY, w, h};
    const Rect box = Rect{s.left, s.top, s.left + w, s.top + h}.Intersect({0, 0, W, H});
    for (int y = box.top; y < box.bottom; ++y)
      for (int x = box.left; x < box.right; ++x)
        if (s.Contains(x, y)) o->Keep(x, y, k);
  }
  o->Finish(n);
  return o;
}

// The hand sweeps clockwise from 12 o'clock; a pixel appears when the hand
// passes the angle of its centre.
Routine Clock(const RoutineInput& in) {
  const int step = Clamp(in.param1, 1, 45);
  int hands = in.param2 == 2 ? 2 : in.param2 == 3 ? 4 : 1;
  if (int64_t(in.width) * in.height > 65535) hands = 1;
  const int sweep = 360 / hands, n = sweep / step + 1;
  auto o = NewOrder(in);
  const double cx = in.width / 2.0, cy = in.height / 2.0;
  o->Build({in.width, in.height, Orient::kDown}, [&](int x, int y) {
    double a = std::atan2(x + 0.5 - cx, -(y + 0.5 - cy)) * 180 / kPi;
    if (a < 0) a += 360;
    return std::min(int(std::fmod(a, sweep) / step), n - 1);
  });
  o->Finish(n, n);
  return o;
}

// 8 x 8 tiles, each pixel appearing at the step its digit gives.
constexpr std::array<std::array<const char*, 8>, 6> kPatterns{{
    {"65433456", "54322345", "43211234", "32100123", "32100123", "43211234", "54322345", "65433456"},  // diamonds
    {"00000000", "44444444", "22222222", "66666666", "11111111", "55555555", "33333333", "77777777"},  // lines
    {"77777777", "66677666", "55566555", "44455444", "33444433", "22333322", "11222211", "00111100"},  // triangles
    {"04263715", "40426371", "24042637", "62404263", "36240426", "73624042", "17362404", "51736240"},  // hatch
    {"01234410", "10233201", "21022012", "32100123", "32100123", "21022012", "10233201", "01234410"},  // X
    {"76666667", "65111156", "61011016", "61111116", "62111126", "61222216", "65111156", "76666667"},  // smiles
}};

Routine SmallPattern(const RoutineInput& in, int variant) {
  const auto& p = kPatterns[size_t(std::clamp(variant, 0, 5))];
  auto o = NewOrder(in);
  o->Build({in.width, in.height, Orient::kDown}, [&](int x, int y) { return p[size_t(y % 8)][x % 8] - '0'; });
  o->Finish(8, 8);
  return o;
}

// Shapes on a grid of `cell` pixels, all growing from their centres.
Routine PatternShapes(const RoutineInput& in, bool diamonds) {
  const int cell = std::max(in.param1, 2);
  auto o = NewOrder(in);
  o->Build({in.width, in.height, Orient::kDown}, [&](int x, int y) {
    const double u = x % cell + 0.5 - cell / 2.0, v = y % cell + 0.5 - cell / 2.0;
    return int(diamonds ? (std::abs(u) + std::abs(v)) / 1.5 : std::sqrt(u * u + v * v));
  });
  o->Finish(cell);
  return o;
}

Routine Wave(const RoutineInput& in, const Orientation& f) {
  const int band = std::max(in.param1, 1), amp = std::max(in.param2, 0);
  const double length = std::max(f.CW() / 3.0, 8.0);
  auto o = NewOrder(in);
  o->Build(f, [&](int x, int y) {
    return int((y + amp * (1 + std::sin(2 * kPi * x / length))) / band);
  });
  o->Finish(CeilDiv(f.CH() + 2 * amp, band));
  return o;
}

// Cells of a grid revealed one per step in the order `cells` lists them.
Routine CellOrder(const RoutineInput& in, int cell, const std::vector<int>& cells, int cols) {
  auto o = NewOrder(in);
  std::vector<int> rank(cells.size() + 1, -1);
  for (size_t k = 0; k < cells.size(); ++k) rank[size_t(cells[k])] = int(k);
  o->Build({in.width, in.height, Orient::kDown}, [&](int x, int y) { return rank[size_t((y / cell) * cols + x / cell)]; });
  o->Finish(int(cells.size()));
  return o;
}

// Enlarges a grid's cells until it has at most kMaxEffectSteps of them.
int CapCell(int cell, int w, int h) {
  cell = std::max(cell, 1);
  while (int64_t(CeilDiv(w, cell)) * CeilDiv(h, cell) > kMaxEffectSteps) cell *= 2;
  return cell;
}

Routine Spiral(const RoutineInput& in) {
  const int cell = CapCell(in.param1, in.width, in.height);
  const int cols = CeilDiv(in.width, cell), rows = CeilDiv(in.height, cell);
  std::vector<int> cells;
  int x = (cols - 1) / 2, y = (rows - 1) / 2, run = 1, dir = 0;
  const int dx[] = {1, 0, -1, 0}, dy[] = {0, 1, 0, -1};
  while (int(cells.size()) < cols * rows) {
    for (int rep = 0; rep < 2; ++rep, dir = (dir + 1) % 4)
      for (int k = 0; k < run; ++k) {
        if (x >= 0 && y >= 0 && x < cols && y < rows) cells.push_back(y * cols + x);
        x += dx[dir], y += dy[dir];
      }
    ++run;
  }
  return CellOrder(in, cell, cells, cols);
}

// Cells in the order a depth-first maze walk discovers them: traces that
// branch across the object.
Routine Circuit(const RoutineInput& in) {
  const int cell = CapCell(std::max(in.param1, 2), in.width, in.height);
  const int cols = CeilDiv(in.width, cell), rows = CeilDiv(in.height, cell);
  std::mt19937 random(in.seed);
  std::vector<int> cells, stack{0};
  std::vector<uint8_t> seen(size_t(cols) * rows, 0);
  seen[0] = 1;
  cells.push_back(0);
  while (!stack.empty()) {
    const int c = stack.back(), cx = c % cols, cy = c / cols;
    int next[4], count = 0;
    if (cx + 1 < cols && !seen[size_t(c + 1)]) next[count++] = c + 1;
    if (cx > 0 && !seen[size_t(c - 1)]) next[count++] = c - 1;
    if (cy + 1 < rows && !seen[size_t(c + cols)]) next[count++] = c + cols;
    if (cy > 0 && !seen[size_t(c - cols)]) next[count++] = c - cols;
    if (count == 0) {
      stack.pop_back();
      continue;
    }
    const int n = next[random() % unsigned(count)];
    seen[size_t(n)] = 1;
    cells.push_back(n);
    stack.push_back(n);
  }
  return CellOrder(in, cell, cells, cols);
}

// Jigsaw pieces in the shift register's order: each cell owns a round knob
// on its right and bottom edges.
Routine Puzzle(const RoutineInput& in) {
  int cw = std::max(in.param1, 4), ch = std::max(in.param2, 4);
  while (int64_t(CeilDiv(in.width, cw)) * CeilDiv(in.height, ch) > kMaxEffectSteps) cw *= 2, ch *= 2;
  const int cols = CeilDiv(in.width, cw), rows = CeilDiv(in.height, ch), n = cols * rows;
  std::vector<int> rank(static_cast<size_t>(n));
  CellSequence seq(uint32_t(n), in.seed);
  for (int k = 0; k < n; ++k) rank[std::min<size_t>(seq.Next(), size_t(n) - 1)] = k;
  const double r = std::min(cw, ch) / 5.0;
  auto inKnob = [r](double dx, double dy) { return dx * dx + dy * dy <= r * r; };
  auto o = NewOrder(in);
  o->Build({in.width, in.height, Orient::kDown}, [&](int x, int y) {
    int col = x / cw, row = y / ch;
    const double px = x + 0.5, py = y + 0.5;
    if (col > 0 && inKnob(px - col * cw, py - (row * ch + ch / 2.0)))
      --col;
    else if (row > 0 && inKnob(px - (col * cw + cw / 2.0), py - row * ch))
      --row;
    return rank[size_t(row * cols + col)];
  });
  o->Finish(n);
  return o;
}

// Lines `width` wide growing across the object, each after its own delay.
Routine GrowingLines(const RoutineInput& in, const Orientation& f) {
  const int width = std::max(in.param1, 1), speed = std::max(f.CH() / 32, 1) * std::max(in.param2, 1);
  std::mt19937 random(in.seed);
  std::vector<int> delay(size_t(CeilDiv(f.CW(), width)));
  for (int& d : delay) d = int(random() % 12);
  auto o = NewOrder(in);
  o->Build(f, [&](int x, int y) { return delay[size_t(x / width)] + y / speed; });
  o->Finish(12 + CeilDiv(f.CH(), speed));
  return o;
}

// The distance measure of a growing shape: the shape of size s is where it is below s.
enum GrowingShape { kCircle, kStar, kRings, kRandomStars, kOctagons, kDiamonds, kFourStars, kCrosses };

double Gauge(int shape, double u, double v) {
  const double au = std::abs(u), av = std::abs(v), r = std::sqrt(u * u + v * v);
  switch (shape) {
    case kStar:
    case kRandomStars: {
      // Five points: the outline's radius falls from 1 at a point to 0.45 between points.
      const double a = std::atan2(u, -v) / (2 * kPi) * 5;
      const double t = std::abs(a - std::floor(a) - 0.5) * 2;
      return r / (0.45 + 0.55 * t);
    }
    case kOctagons: return std::max({au, av, (au + av) * 0.7071});
    case kDiamonds: return au + av;
    case kFourStars: {
      const double s = std::sqrt(au) + std::sqrt(av);
      return s * s / 2;
    }
    case kCrosses: return std::max(std::min(std::abs(u - v), std::abs(u + v)) * 2.5, std::max(au, av));
    default: return r;
  }
}

Routine GrowingShapes(const RoutineInput& in, int shape) {
  const int W = in.width, H = in.height, growth = std::max(in.param1, 1);
  auto o = NewOrder(in);
  const Orientation f{W, H, Orient::kDown};
  if (shape == kCircle || shape == kStar) {
    o->Build(f, [&](int x, int y) { return int(Gauge(shape, x + 0.5 - W / 2.0, y + 0.5 - H / 2.0) / growth); });
  } else if (shape == kRings) {
    // Rings of eight growth steps around the centre: even rings grow outward, odd ones inward.
    const int ring = 8 * growth;
    o->Build(f, [&](int x, int y) {
      const int r = int(std::hypot(x + 0.5 - W / 2.0, y + 0.5 - H / 2.0)), k = r / ring, in_ = r % ring;
      return (k % 2 == 0 ? in_ : ring - 1 - in_) / growth;
    });
  } else {
    // Shapes at random centres, one starting every second step.
    const int count = std::clamp(in.param2, 1, 256);
    std::mt19937 random(in.seed);
    struct Centre { double x, y; int delay; };
    std::vector<Centre> centres;
    for (int i = 0; i < count; ++i)
      centres.push_back({double(random() % unsigned(std::max(W, 1))), double(random() % unsigned(std::max(H, 1))), 2 * i});
    o->Build(f, [&](int x, int y) {
      int best = std::numeric_limits<int>::max();
      for (const Centre& c : centres) {
        const double u = x + 0.5 - c.x, v = y + 0.5 - c.y;
        // Every gauge is at least half the distance, so far shapes are skipped cheaply.
        if (c.delay + int(std::sqrt(u * u + v * v) * 0.5 / growth) >= best) continue;
        best = std::min(best, c.delay + int(Gauge(shape, u, v) / growth));
      }
      return best;
    });
  }
  o->Finish(0);
  return o;
}

// --------------------------------------------------------------- piece routines

// A routine whose frames are pieces, made by `make` for each step.
class PieceRoutine : public EffectRoutine {
 public:
  using Make = std::function<Rect(int step, std::vector<EffectPiece>& pieces)>;
  PieceRoutine(int steps, int clockSteps, Make make) : make_(std::move(make)) {
    steps_ = std::min(steps, kMaxEffectSteps);
    clockSteps_ = std::min(clockSteps, kMaxEffectSteps);
  }
  Rect Step(int i, EffectFrame& f) override {
    f.pieces.clear();
    return make_(i, f.pieces);
  }

 private:
  Make make_;
};

Routine Pieces(int steps, int clockSteps, PieceRoutine::Make make) {
  return std::make_unique<PieceRoutine>(steps, clockSteps, std::move(make));
}

EffectPiece Plain(EffectPiece::Source s, const Rect& src, const Rect& dst) { return {s, src, dst, {}, 1, {}}; }

EffectPiece Coarse(EffectPiece::Source s, int cell, Point origin, const Rect& clip) {
  return {s, {}, {}, clip, std::max(cell, 1), origin};
}

// The stretching wipe: the whole picture squeezed into the revealed part.
Routine StretchWipe(const RoutineInput& in, const Orientation& f) {
  const int d = f.CH(), h = Clamp(in.param1, 1, d), n = d / h, r = d - h * n;
  const Rect whole{0, 0, in.width, in.height};
  return Pieces(n + (r > 0), n, [=](int i, std::vector<EffectPiece>& p) {
    const int m = r > 0 ? r + i * h : (i + 1) * h;
    const Rect part = f.Map({0, 0, f.CW(), m});
    p.push_back(Plain(EffectPiece::kNew, whole, part));
    return part;
  });
}

Routine StretchCloseOpen(const RoutineInput& in, const Orientation& f, bool open) {
  const int d = f.CH(), half = d / 2, h = Clamp(in.param1, 1, half), n = std::max(half / std::max(h, 1), 1);
  const int cw = f.CW();
  const Rect whole{0, 0, in.width, in.height};
  const Rect topHalf = f.Map({0, 0, cw, half}), bottomHalf = f.Map({0, half, cw, d});
  return Pieces(n, n, [=](int i, std::vector<EffectPiece>& p) {
    const bool last = i == n - 1;
    const int top = last ? half : (i + 1) * h, bottom = last ? d - half : (i + 1) * h;
    if (open) {
      p.push_back(Plain(EffectPiece::kNew, topHalf, f.Map({0, half - top, cw, half})));
      p.push_back(Plain(EffectPiece::kNew, bottomHalf, f.Map({0, half, cw, half + bottom})));
    } else {
      p.push_back(Plain(EffectPiece::kNew, topHalf, f.Map({0, 0, cw, top})));
      p.push_back(Plain(EffectPiece::kNew, bottomHalf, f.Map({0, d - bottom, cw, d})));
    }
    return whole;
  });
}

Routine StretchGrowingRect(const RoutineInput& in) {
  const int W = in.width, H = in.height, band = std::max(in.param1, 1);
  const int n = std::max(CeilDiv(std::max(W, H) / 2, band), 1);
  const Rect whole{0, 0, W, H};
  return Pieces(n, n, [=](int i, std::vector<EffectPiece>& p) {
    const int w = W * (i + 1) / n, h = H * (i + 1) / n, l = (W - w) / 2, t = (H - h) / 2;
    const Rect r{l, t, l + w, t + h};
    p.push_back(Plain(EffectPiece::kNew, whole, r));
    return r;
  });
}

// Slide: the bottom l rows of the new picture at the top; with `push` the
// old picture moves down ahead of it.
Routine Slide(const RoutineInput& in, const Orientation& f, bool push) {
  const int d = f.CH(), h = Clamp(in.param1, 1, d), cw = f.CW();
  const Rect whole{0, 0, in.width, in.height};
  return Pieces(CeilDiv(d, h), d / h + 1, [=](int i, std::vector<EffectPiece>& p) {
    const int l = std::min((i + 1) * h, d);
    if (push) p.push_back(Plain(EffectPiece::kOld, f.Map({0, 0, cw, d - l}), f.Map({0, l, cw, d})));
    p.push_back(Plain(EffectPiece::kNew, f.Map({0, d - l, cw, d}), f.Map({0, 0, cw, l})));
    return push ? whole : f.Map({0, 0, cw, l});
  });
}

// Stack: rows filled from the top; each cell enters at the bottom row and
// moves up a row per step, showing the part of the picture of its own place.
Routine Stack(const RoutineInput& in, const Orientation& f) {
  const int CW = f.CW(), CH = f.CH();
  int w = Clamp(f.Transposed() ? in.param2 : in.param1, 2, CW), h = Clamp(f.Transposed() ? in.param1 : in.param2, 2, CH);
  auto count = [&](int cw, int ch) {
    const int64_t c = CeilDiv(CW, cw), r = CeilDiv(CH, ch);
    return c * r * (r + 1) / 2;
  };
  while (count(w, h) > kMaxEffectSteps) w = std::min(w * 2, std::max(CW, 2)), h = std::min(h * 2, std::max(CH, 2));
  const int c = CeilDiv(CW, w), r = CeilDiv(CH, h);
  struct Move { int row, col, at; };
  auto moves = std::make_shared<std::vector<Move>>();
  for (int row = 0; row < r; ++row)
    for (int k = 0; k < c; ++k)
      for (int at = r - 1; at >= row; --at) moves->push_back({row, row % 2 == 0 ? k : c - 1 - k, at});
  const int n = int(moves->size());
  return Pieces(n, n, [=](int i, std::vector<EffectPiece>& p) {
    const Move m = (*moves)[size_t(i)];
    // Done: every row above this cell's, and the cells of its row before it.
    const int done = m.row % 2 == 0 ? m.col : c - 1 - m.col;
    if (m.row > 0) p.push_back(Plain(EffectPiece::kNew, f.Map({0, 0, CW, m.row * h}), f.Map({0, 0, CW, m.row * h})));
    if (done > 0) {
      const Rect row = m.row % 2 == 0 ? Rect{0, m.row * h, done * w, (m.row + 1) * h}
                                      : Rect{(c - done) * w, m.row * h, CW, (m.row + 1) * h};
      const Rect cut = row.Intersect({0, 0, CW, CH});
      p.push_back(Plain(EffectPiece::kNew, f.Map(cut), f.Map(cut)));
    }
    const Rect own = Rect{m.col * w, m.row * h, (m.col + 1) * w, (m.row + 1) * h}.Intersect({0, 0, CW, CH});
    const Rect at = own.Offset(0, (m.at - m.row) * h);
    EffectPiece moving = Plain(EffectPiece::kNew, f.Map(own), f.Map(at));
    moving.clip = f.Map(at.Intersect({0, 0, CW, CH}));
    p.push_back(moving);
    // The cell's previous place (one row below) is restored from the old image.
    return f.Map(at.Union(at.Offset(0, h)).Intersect({0, 0, CW, CH}));
  });
}

// Mosaic: the picture as tiles that shrink to single pixels; the stage
// variants first coarsen the old image; implode grids start at the centre;
// directional ones move a sharp front with a band of tiles ahead of it.
Routine Mosaic(const RoutineInput& in, const Orientation& f, int variant) {
  const int W = in.width, H = in.height, start = std::clamp(in.param1, 2, std::max({W, H, 2}));
  const int by = std::max(in.param2, 1);
  const Rect whole{0, 0, W, H};
  std::vector<int> cells;
  for (int c = start; c > 1; c -= by) cells.push_back(c);
  const bool stage = variant == 1 || variant == 3;
  const bool implode = variant == 2 || variant == 3;
  if (variant == 4) {
    const int d = f.CH(), cw = f.CW(), n = CeilDiv(d + 2 * start, start);
    return Pieces(n, n, [=](int i, std::vector<EffectPiece>& p) {
      const int front = std::min(i * start, d), band = std::min(front + 2 * start, d);
      p.push_back(Plain(EffectPiece::kNew, f.Map({0, 0, cw, front}), f.Map({0, 0, cw, front})));
      if (band > front) p.push_back(Coarse(EffectPiece::kNewCoarse, start, {}, f.Map({0, front, cw, band})));
      return whole;
    });
  }
  const Point origin = implode ? Point{W / 2 % start - start, H / 2 % start - start} : Point{};
  const int oldSteps = stage ? int(cells.size()) : 0;
  const int n = oldSteps + int(cells.size()) + 1;
  return Pieces(n, n, [=](int i, std::vector<EffectPiece>& p) {
    if (i < oldSteps) {
      const int c = cells[cells.size() - 1 - size_t(i)];
      const Point o = implode ? Point{W / 2 % c - c, H / 2 % c - c} : Point{};
      p.push_back(Coarse(EffectPiece::kOldCoarse, c, o, whole));
    } else if (i - oldSteps < int(cells.size())) {
      const int c = cells[size_t(i - oldSteps)];
      p.push_back(Coarse(EffectPiece::kNewCoarse, c, implode ? Point{W / 2 % c - c, H / 2 % c - c} : origin, whole));
    } else {
      p.push_back(Plain(EffectPiece::kNew, whole, whole));
    }
    return whole;
  });
}

// Roll: the picture unrolls from the top edge, the roll itself showing the
// next rows squeezed to half; roll away: the old image rolls up ahead of the
// new one the same way.
Routine Roll(const RoutineInput& in, const Orientation& f, bool away) {
  const int d = f.CH(), cw = f.CW(), band = std::max(in.param1, 1), thick = std::max(in.param2, 1);
  const int n = CeilDiv(d, band);
  return Pieces(n, n, [=](int i, std::vector<EffectPiece>& p) {
    const int l = std::min((i + 1) * band, d), end = std::min(l + thick, d), from = std::min(l + 2 * thick, d);
    p.push_back(Plain(EffectPiece::kNew, f.Map({0, 0, cw, l}), f.Map({0, 0, cw, l})));
    if (end > l)
      p.push_back(Plain(away ? EffectPiece::kOld : EffectPiece::kNew, f.Map({0, l, cw, from}), f.Map({0, l, cw, end})));
    return f.Map({0, std::max(l - band, 0), cw, std::min(end + band, d)});
  });
}

// Move away: the old image slides off in one of eight directions, or
// shrinks away along a spiral, over the new one in place.
Routine MoveAway(const RoutineInput& in, int variant) {
  const int W = in.width, H = in.height, speed = std::max(in.param1, 1);
  const Rect whole{0, 0, W, H};
  if (variant >= 8) {
    const int n = std::max(CeilDiv(std::max(W, H), speed), 1);
    const double turn = variant == 8 ? 1 : -1;
    return Pieces(n, n, [=](int i, std::vector<EffectPiece>& p) {
      const double t = double(i + 1) / n, a = turn * t * 3 * kPi;
      const int w = int(W * (1 - t)), h = int(H * (1 - t));
      const int cx = int(W / 2.0 + std::cos(a) * t * W / 2), cy = int(H / 2.0 + std::sin(a) * t * H / 2);
      p.push_back(Plain(EffectPiece::kNew, whole, whole));
      if (w > 0 && h > 0) p.push_back(Plain(EffectPiece::kOld, whole, {cx - w / 2, cy - h / 2, cx - w / 2 + w, cy - h / 2 + h}));
      return whole;
    });
  }
  static constexpr int kDx[] = {1, 1, 0, -1, -1, -1, 0, 1}, kDy[] = {0, 1, 1, 1, 0, -1, -1, -1};
  const int dx = kDx[variant], dy = kDy[variant];
  const int n = std::max(CeilDiv(std::max(dx ? W : 0, dy ? H : 0), speed), 1);
  return Pieces(n, n, [=](int i, std::vector<EffectPiece>& p) {
    const int s = std::min((i + 1) * speed, std::max(W, H));
    p.push_back(Plain(EffectPiece::kNew, whole, whole));
    p.push_back(Plain(EffectPiece::kOld, whole, whole.Offset(dx * s, dy * s)));
    return whole;
  });
}

// The picture stretched into a rectangle growing from one corner.
Routine DiagonalStretch(const RoutineInput& in, int corner) {
  const int W = in.width, H = in.height, n = std::max(CeilDiv(std::max(W, H), std::max(in.param1, 1)), 1);
  const Rect whole{0, 0, W, H};
  return Pieces(n, n, [=](int i, std::vector<EffectPiece>& p) {
    const int w = W * (i + 1) / n, h = H * (i + 1) / n;
    const bool fromRight = corner == 1 || corner == 2, fromBottom = corner == 2 || corner == 3;
    const int l = fromRight ? W - w : 0, t = fromBottom ? H - h : 0;
    const Rect r{l, t, l + w, t + h};
    p.push_back(Plain(EffectPiece::kNew, whole, r));
    return r;
  });
}

}  // namespace

CellSequence::CellSequence(uint32_t n, uint32_t seed) : n_(n) {
  struct Register { uint32_t below; int bits, a, b; };
  static constexpr Register kRegisters[] = {{128, 7, 6, 2},           {2048, 11, 10, 8},     {32768, 15, 14, 10},
                                            {131072, 17, 16, 13},     {1048576, 20, 19, 2}, {0xFFFFFFFF, 21, 20, 18}};
  const Register* r = kRegisters;
  while (n >= r->below && r->bits != 21) ++r;
  bits_ = r->bits, tapA_ = r->a, tapB_ = r->b;
  mask_ = (1u << bits_) - 1;
  reg_ = seed & 0x1FFFFE & mask_;
}

uint32_t CellSequence::Next() {
  for (uint32_t tries = 0; tries <= mask_; ++tries) {
    const uint32_t bit = ~((reg_ >> tapA_) ^ (reg_ >> tapB_)) & 1;
    reg_ = ((reg_ << 1) | bit) & mask_;
    if (reg_ < n_) return reg_;
  }
  return n_;
}

std::unique_ptr<EffectRoutine> MakeEffectRoutine(const RoutineInput& given) {
  if (given.width <= 0 || given.height <= 0) return nullptr;
  // Stored parameters are bounded: no step or tile is larger than a stage.
  RoutineInput in = given;
  in.param1 = std::clamp(in.param1, -kMaxParameter, kMaxParameter);
  in.param2 = std::clamp(in.param2, -kMaxParameter, kMaxParameter);
  const EffectInfo& info = InfoOf(in.effect);
  const Orientation f{in.width, in.height, info.orient};
  const int v = info.variant;
  switch (info.family) {
    case EffectFamily::kNone: return nullptr;
    case EffectFamily::kWipe: return v ? StretchWipe(in, f) : Wipe(in, f);
    case EffectFamily::kCloseOpen: return v & 2 ? StretchCloseOpen(in, f, v & 1) : CloseOpen(in, f, v & 1);
    case EffectFamily::kBlinds: return Blinds(in, f);
    case EffectFamily::kGrowingRect: return v ? StretchGrowingRect(in) : GrowingRect(in);
    case EffectFamily::kSlide: return Slide(in, f, false);
    case EffectFamily::kBlocks: return Blocks(in, f);
    case EffectFamily::kPush: return Slide(in, f, true);
    case EffectFamily::kStack: return Stack(in, f);
    case EffectFamily::kSmallPattern: return SmallPattern(in, v);
    case EffectFamily::kRandomCells: return RandomCells(in, v);
    case EffectFamily::kPatternShapes: return PatternShapes(in, v == 1);
    case EffectFamily::kPixelFade: return PixelFade(in);
    case EffectFamily::kWave: return Wave(in, f);
    case EffectFamily::kClock: return Clock(in);
    case EffectFamily::kSpiral: return Spiral(in);
    case EffectFamily::kPuzzle: return Puzzle(in);
    case EffectFamily::kCircuit: return Circuit(in);
    case EffectFamily::kSkipLines: return SkipLines(in, f);
    case EffectFamily::kMosaic: return Mosaic(in, f, v);
    case EffectFamily::kPaletteFade: return nullptr;
    case EffectFamily::kRoll: return Roll(in, f, v == 1);
    case EffectFamily::kGrowingShapes: return GrowingShapes(in, v);
    case EffectFamily::kMoveAway: return MoveAway(in, v);
    case EffectFamily::kGrowingLines: return GrowingLines(in, f);
    case EffectFamily::kDiagonalStretch: return DiagonalStretch(in, v);
  }
  return nullptr;
}

}  // namespace kv
