// Every picture operation on every depth, against pixels worked out here
// from the operations' rules (luminance (30 r + 59 g + 11 b) / 100, the 5 x 5
// box, the 5-2-1 weights, the emboss index rule, ...), written plainly per
// pixel rather than as the production loops are.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "stage/picture_processing.h"
#include "stage/sprite.h"

namespace kv {
namespace {

struct Rgb {
  int r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

std::string Text(const Rgb& c) {
  return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

// A picture of plain colours, row-major from the top.
struct Plain {
  int w = 0, h = 0;
  std::vector<Rgb> px;
  Rgb& at(int x, int y) { return px[size_t(y) * w + x]; }
  const Rgb& at(int x, int y) const { return px[size_t(y) * w + x]; }
};

// Channels are multiples of 8 so that 16-bit pictures hold them exactly.
Plain TestPicture(int w, int h) {
  Plain p{w, h, {}};
  p.px.resize(size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      p.at(x, y) = {(x * 40 + y * 24) % 256 & 0xF8, (x * 16 + y * 72 + 8) % 256 & 0xF8, (200 - x * 24 - y * 8) & 0xF8};
  // A hard edge and a red pixel, for the edge and red-eye rules.
  if (w > 4 && h > 3) {
    p.at(3, 2) = {248, 248, 248};
    p.at(1, 1) = {240, 32, 64};
  }
  return p;
}

// The 8-bit pictures' table: the picture's own colours, then a grey ramp and
// a few primaries, then black.
std::vector<ColorRef> PaletteFor(const Plain& p) {
  std::vector<ColorRef> table;
  for (const Rgb& c : p.px) {
    const ColorRef ref = ColorRef::FromRgb(uint8_t(c.r), uint8_t(c.g), uint8_t(c.b));
    if (std::find(table.begin(), table.end(), ref) == table.end()) table.push_back(ref);
  }
  for (int i = 0; i < 256 && table.size() < 256; i += 8) table.push_back(ColorRef::FromRgb(i, i, i));
  for (uint32_t c : {0x0000FFu, 0x00FF00u, 0xFF0000u, 0x00FFFFu, 0xFFFFFFu, 0xF0F8F8u})
    if (table.size() < 256) table.push_back(ColorRef(c));
  table.resize(256);  // black after
  return table;
}

int RowBytes(int w, int bpp) { return ((w * bpp / 8) + 3) & ~3; }

DecodedPicture Encode(const Plain& p, int bpp, const std::vector<ColorRef>& table) {
  DecodedPicture d;
  d.width = p.w;
  d.height = p.h;
  d.bitsPerPixel = bpp;
  d.layout16 = Layout16::k565;
  d.stride = RowBytes(p.w, bpp);
  d.bits.assign(size_t(d.stride) * p.h, 0);
  if (bpp == 8) d.colorTable = table;
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const Rgb c = p.at(x, y);
      uint8_t* o = d.bits.data() + d.stride * y;
      switch (bpp) {
        case 8:
          o[x] = uint8_t(std::find(table.begin(), table.end(), ColorRef::FromRgb(c.r, c.g, c.b)) - table.begin());
          break;
        case 16: {
          const int v = (c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3);
          o[2 * x] = uint8_t(v), o[2 * x + 1] = uint8_t(v >> 8);
          break;
        }
        case 24: o[3 * x] = uint8_t(c.b), o[3 * x + 1] = uint8_t(c.g), o[3 * x + 2] = uint8_t(c.r); break;
        default: o[4 * x] = uint8_t(c.b), o[4 * x + 1] = uint8_t(c.g), o[4 * x + 2] = uint8_t(c.r); break;
      }
    }
  return d;
}

Rgb Decode(const DecodedPicture& d, int x, int y) {
  const uint8_t* o = d.bits.data() + d.stride * y;
  switch (d.bitsPerPixel) {
    case 8: {
      const ColorRef c = d.colorTable.at(o[x]);
      return {c.Red(), c.Green(), c.Blue()};
    }
    case 16: {
      const int v = o[2 * x] | o[2 * x + 1] << 8;
      if (d.layout16 == Layout16::k565) return {(v >> 11) << 3, ((v >> 5) & 63) << 2, (v & 31) << 3};
      return {((v >> 10) & 31) << 3, ((v >> 5) & 31) << 3, (v & 31) << 3};
    }
    case 24: return {o[3 * x + 2], o[3 * x + 1], o[3 * x]};
    default: return {o[4 * x + 2], o[4 * x + 1], o[4 * x]};
  }
}

int Lum(const Rgb& c) { return (30 * c.r + 59 * c.g + 11 * c.b) / 100; }
int Clamp(int v) { return std::clamp(v, 0, 255); }

// What each depth keeps of a computed colour: 8 bits the nearest table entry
// (first of equals), 16 bits the components the form holds.
struct Depth {
  int bpp;
  bool packed;
  const std::vector<ColorRef>* table;
  Rgb Keep(const Rgb& c) const {
    if (bpp == 16) return packed ? Rgb{c.r & 0xF8, c.g & 0xF8, c.b & 0xF8} : Rgb{c.r & 0xF8, c.g & 0xFC, c.b & 0xF8};
    if (bpp != 8) return c;
    long best = -1;
    Rgb out;
    for (const ColorRef& e : *table) {
      const long dr = c.r - e.Red(), dg = c.g - e.Green(), db = c.b - e.Blue();
      const long d = dr * dr + dg * dg + db * db;
      if (best < 0 || d < best) best = d, out = {e.Red(), e.Green(), e.Blue()};
    }
    return out;
  }
};

constexpr Rgb kBack{0xF8, 0xF8, 0xF0};  // 0x00F0F8F8: red F8, green F8, blue F0

using Expect = std::function<Plain(const Plain& src, const Depth& depth)>;

// Per-pixel map inside an inclusive rectangle.
Plain MapIn(const Plain& s, const Depth& d, int l, int t, int r, int b, const std::function<Rgb(Rgb)>& f) {
  Plain out = s;
  for (int y = t; y <= b; ++y)
    for (int x = l; x <= r; ++x) out.at(x, y) = d.Keep(f(s.at(x, y)));
  return out;
}

Plain Grey(const Plain& s, const Depth& d, int l, int t, int r, int b) {
  return MapIn(s, d, l, t, r, b, [](Rgb c) {
    const int v = Lum(c);
    return Rgb{v, v, v};
  });
}

Plain BlurOf(const Plain& s, const Depth& d) {
  Plain out = s;
  for (int y = 0; y < s.h; ++y)
    for (int x = 0; x < s.w; ++x) {
      int n = 0, r = 0, g = 0, b = 0;
      for (int yy = y - 2; yy <= y + 2; ++yy)
        for (int xx = x - 2; xx <= x + 2; ++xx)
          if (xx >= 0 && yy >= 0 && xx < s.w && yy < s.h) ++n, r += s.at(xx, yy).r, g += s.at(xx, yy).g, b += s.at(xx, yy).b;
      out.at(x, y) = d.Keep({r / n, g / n, b / n});
    }
  return out;
}

Plain SoftenOf(const Plain& s, const Depth& d) {
  static const int kWeight[3][3] = {{1, 2, 1}, {2, 5, 2}, {1, 2, 1}};
  Plain out = s;
  for (int y = 0; y < s.h; ++y)
    for (int x = 0; x < s.w; ++x) {
      int n = 0, r = 0, g = 0, b = 0;
      for (int j = -1; j <= 1; ++j)
        for (int i = -1; i <= 1; ++i) {
          const int xx = x + i, yy = y + j;
          if (xx < 0 || yy < 0 || xx >= s.w || yy >= s.h) continue;
          const int k = kWeight[j + 1][i + 1];
          n += k, r += k * s.at(xx, yy).r, g += k * s.at(xx, yy).g, b += k * s.at(xx, yy).b;
        }
      out.at(x, y) = d.Keep({r / n, g / n, b / n});
    }
  return out;
}

// Section index p counts from the bottom row up.
Plain EmbossOf(const Plain& s, const Depth& d) {
  Plain out = s;
  auto at = [&](int p) -> Rgb& { return out.at(p % s.w, s.h - 1 - p / s.w); };
  auto src = [&](int p) { return s.at(p % s.w, s.h - 1 - p / s.w); };
  for (int p = 0; p < s.w * s.h; ++p) at(p) = d.Keep(kBack);
  for (int p = s.w + 1; p <= s.w * (s.h - 1) - 2; ++p) {
    const Rgb a = src(p), n = src(p - (s.w + 1));
    at(p) = d.Keep({Clamp(192 + 3 * (n.r - a.r)), Clamp(192 + 3 * (n.g - a.g)), Clamp(192 + 3 * (n.b - a.b))});
  }
  return out;
}

// Counting in section order (bottom row first), every second pixel from the
// second; an even width switches the phase at each row.
Plain CheckerOf(const Plain& s, const Depth& d) {
  Plain out = s;
  int k = 0;
  bool phase = false;
  for (int row = 0; row < s.h; ++row) {
    if (s.w % 2 == 0 && row > 0) phase = !phase;
    for (int x = 0; x < s.w; ++x, ++k) {
      const int y = s.h - 1 - row;
      const bool copied = ((k % 2) == 1) != phase;
      out.at(x, y) = copied ? s.at(x, y) : d.Keep(kBack);
    }
  }
  return out;
}

Plain EdgesOf(const Plain& s, const Depth& d) {
  Plain out = s;
  auto L = [&](int x, int y) { return Lum(s.at(x, y)); };
  auto up = [](int c) { return c >= 214 ? 255 : c * 12 / 10; };
  for (int y = 2; y <= s.h - 2; ++y)
    for (int x = 2; x <= s.w - 2; ++x) {
      const int h1 = (L(x - 1, y - 1) + L(x - 1, y) + L(x - 1, y + 1)) / 3;
      const int h2 = (L(x + 1, y - 1) + L(x + 1, y) + L(x + 1, y + 1)) / 3;
      const int v1 = (L(x - 1, y - 1) + L(x, y - 1) + L(x + 1, y - 1)) / 3;
      const int v2 = (L(x - 1, y + 1) + L(x, y + 1) + L(x + 1, y + 1)) / 3;
      if (std::max(std::abs(h1 - h2), std::abs(v1 - v2)) > 20) {
        const Rgb c = s.at(x, y);
        out.at(x, y) = d.Keep({up(c.r), up(c.g), up(c.b)});
      }
    }
  return out;
}

Plain TonalOf(const Plain& s, const Depth& d) {
  int lo = 255, hi = 0;
  for (const Rgb& c : s.px) lo = std::min(lo, Lum(c)), hi = std::max(hi, Lum(c));
  return MapIn(s, d, 0, 0, s.w - 1, s.h - 1, [&](Rgb c) {
    auto f = [&](int v) { return Clamp((v - lo) * 255 / (hi - lo)); };
    return Rgb{f(c.r), f(c.g), f(c.b)};
  });
}

Plain Moved(const Plain& s, int w, int h, const std::function<Rgb(int, int)>& f) {
  Plain out{w, h, std::vector<Rgb>(size_t(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) out.at(x, y) = f(x, y);
  (void)s;
  return out;
}

struct Case {
  const char* name;
  int type, value, value2;
  PictureRegion region;
  Expect expect;
  // 8-bit pictures change their colour table, so every colour comes out exact.
  bool tableWork = false;
};

const Case kCases[] = {
    {"grey whole", 1, 0, 0, {}, [](const Plain& s, const Depth& d) { return Grey(s, d, 0, 0, s.w - 1, s.h - 1); },
     true},
    {"grey part", 1, 0, 0, {1, 1, 3, 2}, [](const Plain& s, const Depth& d) { return Grey(s, d, 1, 1, 3, 2); }},
    {"invert swapped corners", 2, 0, 0, {4, 3, 2, 1},
     [](const Plain& s, const Depth& d) {
       return MapIn(s, d, 2, 1, 4, 3, [](Rgb c) { return Rgb{255 - c.r, 255 - c.g, 255 - c.b}; });
     }},
    {"invert whole", 2, 0, 0, {-1, 0, 0, 0},
     [](const Plain& s, const Depth& d) {
       return MapIn(s, d, 0, 0, s.w - 1, s.h - 1, [](Rgb c) { return Rgb{255 - c.r, 255 - c.g, 255 - c.b}; });
     },
     true},
    {"brightness 150", 3, 150, 0, {},
     [](const Plain& s, const Depth& d) {
       return MapIn(s, d, 0, 0, s.w - 1, s.h - 1, [](Rgb c) {
         auto f = [](int v) { return v * 150 / 100 == 0 ? 382 % 256 : std::min(255, v * 150 / 100); };
         return Rgb{f(c.r), f(c.g), f(c.b)};
       });
     },
     true},
    {"brightness 40", 3, 40, 0, {},
     [](const Plain& s, const Depth& d) {
       return MapIn(s, d, 0, 0, s.w - 1, s.h - 1, [](Rgb c) { return Rgb{c.r * 40 / 100, c.g * 40 / 100, c.b * 40 / 100}; });
     },
     true},
    {"brightness 100", 3, 100, 0, {}, [](const Plain& s, const Depth&) { return s; }},
    {"red-eye clamped", 4, 0, 0, {-5, -5, 99, 99},
     [](const Plain& s, const Depth& d) {
       return MapIn(s, d, 0, 0, s.w - 1, s.h - 1, [](Rgb c) {
         return (c.r > c.g || c.r > c.b) ? Rgb{std::min(c.g, c.b), c.g, c.b} : c;
       });
     }},
    {"edges", 5, 0, 0, {}, EdgesOf},
    {"tonal", 6, 0, 0, {}, TonalOf},
    {"blur", 7, 0, 0, {}, BlurOf},
    {"emboss", 8, 0, 0, {}, EmbossOf},
    {"emboss too", 12, 0, 0, {}, EmbossOf},
    {"checkerboard", 9, 0, 0, {}, CheckerOf},
    {"rotate 90", 10, 90, 0, {},
     [](const Plain& s, const Depth&) { return Moved(s, s.h, s.w, [&](int x, int y) { return s.at(y, s.h - 1 - x); }); }},
    {"rotate -90", 10, -90, 0, {},
     [](const Plain& s, const Depth&) { return Moved(s, s.h, s.w, [&](int x, int y) { return s.at(s.w - 1 - y, x); }); }},
    {"rotate 180 keeping size", 10, 180, 1, {},
     [](const Plain& s, const Depth&) {
       return Moved(s, s.w, s.h, [&](int x, int y) { return s.at(s.w - 1 - x, s.h - 1 - y); });
     }},
    {"soften", 11, 0, 0, {}, SoftenOf},
    {"mirror", 13, 0, 0, {},
     [](const Plain& s, const Depth&) { return Moved(s, s.w, s.h, [&](int x, int y) { return s.at(s.w - 1 - x, y); }); }},
    {"flip", 14, 0, 0, {},
     [](const Plain& s, const Depth&) { return Moved(s, s.w, s.h, [&](int x, int y) { return s.at(x, s.h - 1 - y); }); }},
};

struct Shape {
  int w, h;
};

class PictureOps : public ::testing::TestWithParam<std::tuple<int, Shape>> {};

TEST_P(PictureOps, EveryOperationMatchesItsRule) {
  const auto [bpp, shape] = GetParam();
  const Plain src = TestPicture(shape.w, shape.h);
  const std::vector<ColorRef> table = PaletteFor(src);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    DecodedPicture pic = Encode(src, bpp, table);
    PictureOpArgs args;
    args.type = c.type;
    args.value = c.value;
    args.value2 = c.value2;
    args.region = c.region;
    ASSERT_TRUE(ApplyPictureOp(pic, args));
    const bool packed = IsPackedPictureOp(c.type);
    const Depth depth{bpp == 8 && c.tableWork ? 32 : bpp, packed, &table};
    const Plain want = c.expect(src, depth);
    ASSERT_EQ(pic.width, want.w);
    ASSERT_EQ(pic.height, want.h);
    ASSERT_EQ(pic.bitsPerPixel, bpp);
    if (bpp == 16) {
      EXPECT_EQ(pic.layout16, packed ? Layout16::k555 : Layout16::k565);
    }
    int wrong = 0;
    for (int y = 0; y < want.h; ++y)
      for (int x = 0; x < want.w; ++x) {
        const Rgb got = Decode(pic, x, y);
        // Pixels carried over unchanged keep what the depth held.
        if (got != want.at(x, y) && ++wrong <= 4)
          ADD_FAILURE() << "at " << x << "," << y << ": " << Text(got) << " want " << Text(want.at(x, y));
      }
  }
}

INSTANTIATE_TEST_SUITE_P(Depths, PictureOps,
                         ::testing::Combine(::testing::Values(8, 16, 24, 32),
                                            ::testing::Values(Shape{7, 6}, Shape{6, 5})),
                         [](const auto& info) {
                           return std::to_string(std::get<0>(info.param)) + "bit_" +
                                  std::to_string(std::get<1>(info.param).w) + "x" +
                                  std::to_string(std::get<1>(info.param).h);
                         });

// Hand-worked values.
TEST(PictureOps, SinglePixelValues) {
  struct {
    int type, value;
    Rgb in, out;
  } cases[] = {
      {3, 200, {0, 0, 0}, {254, 254, 254}},      // 510 modulo 256
      {3, 0, {200, 100, 50}, {0, 0, 0}},
      {3, 400, {0, 64, 100}, {252, 255, 255}},   // 1020 modulo 256; 256 capped; 400 capped
      {3, 999, {0, 0, 0}, {252, 252, 252}},      // clamped to 400
      {1, 0, {200, 100, 50}, {124, 124, 124}},   // (6000 + 5900 + 550) / 100
      {4, 0, {200, 100, 50}, {50, 100, 50}},
      {4, 0, {40, 100, 50}, {40, 100, 50}},
      {2, 0, {200, 100, 50}, {55, 155, 205}},
  };
  for (const auto& c : cases) {
    Plain p{1, 1, {c.in}};
    DecodedPicture pic = Encode(p, 32, {});
    PictureOpArgs args;
    args.type = c.type;
    args.value = c.value;
    ASSERT_TRUE(ApplyPictureOp(pic, args));
    EXPECT_EQ(Text(Decode(pic, 0, 0)), Text(c.out)) << "type " << c.type << " value " << c.value;
  }
}

TEST(PictureOps, WholeInvertOfAnEightBitPictureChangesOnlyItsTable) {
  const Plain src = TestPicture(7, 6);
  const std::vector<ColorRef> table = PaletteFor(src);
  DecodedPicture whole = Encode(src, 8, table), part = whole;
  PictureOpArgs args;
  args.type = picture_op::kInvert;
  ASSERT_TRUE(ApplyPictureOp(whole, args));
  EXPECT_EQ(whole.bits, Encode(src, 8, table).bits);
  EXPECT_EQ(whole.colorTable[0], ColorRef(~table[0].value));
  args.region = {0, 0, 2, 2};
  ASSERT_TRUE(ApplyPictureOp(part, args));
  EXPECT_EQ(part.colorTable, table);
  EXPECT_NE(part.bits, Encode(src, 8, table).bits);
}

TEST(PictureOps, TwiceMirroredOrFlippedIsTheFirstPicture) {
  for (int bpp : {8, 16, 24, 32})
    for (int type : {picture_op::kMirror, picture_op::kFlip}) {
      const Plain src = TestPicture(7, 6);
      const DecodedPicture first = Encode(src, bpp, PaletteFor(src));
      DecodedPicture pic = first;
      PictureOpArgs args;
      args.type = type;
      ASSERT_TRUE(ApplyPictureOp(pic, args));
      EXPECT_NE(Decode(pic, 0, 0), Decode(first, 0, 0));
      ASSERT_TRUE(ApplyPictureOp(pic, args));
      // A 16-bit flip comes back as 5-5-5, which holds these colours exactly.
      for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < src.w; ++x)
          EXPECT_EQ(Decode(pic, x, y), src.at(x, y)) << bpp << " bits, type " << type << " at " << x << "," << y;
    }
}

TEST(PictureOps, RotationBoundingBoxAndBackground) {
  Plain src{10, 4, std::vector<Rgb>(40, Rgb{0, 0, 0})};
  DecodedPicture pic = Encode(src, 32, {});
  PictureOpArgs args;
  args.type = picture_op::kRotate;
  args.value = 45;
  args.background = ColorRef(0x00FF00FF);
  ASSERT_TRUE(ApplyPictureOp(pic, args));
  // round(10 cos 45 + 4 sin 45) = round(9.899)
  EXPECT_EQ(pic.width, 10);
  EXPECT_EQ(pic.height, 10);
  EXPECT_EQ(Text(Decode(pic, 0, 0)), Text({255, 0, 255}));  // a corner the turn leaves uncovered
  EXPECT_EQ(Text(Decode(pic, 5, 5)), Text({0, 0, 0}));
}

TEST(PictureOps, RegionsAreNormalisedAndClamped) {
  struct {
    PictureRegion in, out;
    bool covers;
  } cases[] = {
      {{-1, -1, -1, -1}, {0, 0, 9, 4}, true},
      {{-1, 2, 3, 3}, {0, 2, 3, 3}, false},
      {{8, 4, 2, 1}, {2, 1, 8, 4}, false},
      {{-20, -7, 50, 70}, {0, 0, 9, 4}, true},
      {{30, 30, 40, 40}, {9, 4, 9, 4}, false},
  };
  for (const auto& c : cases) {
    const PictureRegion r = NormaliseRegion(c.in, 10, 5);
    EXPECT_EQ((std::array{r.left, r.top, r.right, r.bottom}),
              (std::array{c.out.left, c.out.top, c.out.right, c.out.bottom}));
    EXPECT_EQ(CoversPicture(r, 10, 5), c.covers);
  }
}

TEST(PictureOps, UnknownTypesAreRefused) {
  DecodedPicture pic = Encode(TestPicture(3, 3), 32, {});
  for (int type : {0, 15, -1, 100}) {
    PictureOpArgs args;
    args.type = type;
    EXPECT_THROW(ApplyPictureOp(pic, args), std::invalid_argument);
  }
}

// The sprite gives back its picture at the depth it was loaded from.
TEST(PictureOps, SpritePictureComesBackAtItsDepth) {
  const Plain src = TestPicture(7, 6);
  const std::vector<ColorRef> table = PaletteFor(src);
  for (PixelFormat format : {PixelFormat::kXrgb32, PixelFormat::kRgb565})
    for (int bpp : {8, 16, 24, 32}) {
      if (format == PixelFormat::kRgb565 && bpp > 16) continue;  // a 16-bit stage keeps 16 bits
      const DecodedPicture in = Encode(src, bpp, table);
      StageSprite sprite(format);
      ASSERT_EQ(sprite.SetPicture(in.View()), 0);
      DecodedPicture out;
      ASSERT_TRUE(SpritePictureAtDepth(sprite, out));
      EXPECT_EQ(out.bitsPerPixel, bpp);
      for (int y = 0; y < src.h; ++y)
        for (int x = 0; x < src.w; ++x) EXPECT_EQ(Decode(out, x, y), src.at(x, y)) << bpp << " at " << x << "," << y;
    }
}

}  // namespace
}  // namespace kv
