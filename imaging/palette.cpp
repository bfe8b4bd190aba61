#include "imaging/palette.h"

#include <algorithm>
#include <numeric>

#include "imaging/codec_internal.h"
#include "stage/pixel_loops.h"

namespace kv::imaging {

namespace {

// Counts every pixel's cell; 8-bit pictures through their colour table.
std::optional<ColorHistogram> Count(const PictureView& pic, bool indexedToo) {
  const int bpp = pic.bitsPerPixel;
  if (pic.width <= 0 || pic.height <= 0 || !pic.bits) return std::nullopt;
  if (bpp != 16 && bpp != 24 && bpp != 32 && !(indexedToo && bpp == 8)) return std::nullopt;
  ColorHistogram h;
  std::vector<uint8_t> rgb(size_t(pic.width) * 3);
  for (int y = 0; y < pic.height; ++y) {
    RowToRgb(pic, y, rgb.data());
    for (int x = 0; x < pic.width; ++x) {
      uint16_t& n = h.cells[size_t(ColorHistogram::Cell(ColorRef::FromRgb(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2])))];
      if (n != 0xFFFF) ++n;
    }
  }
  return h;
}

int Channel(int cell, int channel) { return cell >> (10 - 5 * channel) & 31; }

struct Box {
  std::vector<int> cells;
  uint64_t count = 0;
};

}  // namespace

const Palette& DefaultPalette() {
  static const Palette palette = [] {
    Palette p;
    p.entries = {ColorRef::FromRgb(0, 0, 0),       ColorRef::FromRgb(128, 0, 0),     ColorRef::FromRgb(0, 128, 0),
                 ColorRef::FromRgb(128, 128, 0),   ColorRef::FromRgb(0, 0, 128),     ColorRef::FromRgb(128, 0, 128),
                 ColorRef::FromRgb(0, 128, 128),   ColorRef::FromRgb(192, 192, 192), ColorRef::FromRgb(192, 220, 192),
                 ColorRef::FromRgb(166, 202, 240)};
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) p.entries.push_back(ColorRef::FromRgb(uint8_t(r * 51), uint8_t(g * 51), uint8_t(b * 51)));
    for (int i = 1; i <= 20; ++i) {
      const auto v = uint8_t(i * 255 / 21);
      p.entries.push_back(ColorRef::FromRgb(v, v, v));
    }
    for (const ColorRef c : {ColorRef::FromRgb(255, 251, 240), ColorRef::FromRgb(160, 160, 164),
                             ColorRef::FromRgb(128, 128, 128), ColorRef::FromRgb(255, 0, 0), ColorRef::FromRgb(0, 255, 0),
                             ColorRef::FromRgb(255, 255, 0), ColorRef::FromRgb(0, 0, 255), ColorRef::FromRgb(255, 0, 255),
                             ColorRef::FromRgb(0, 255, 255), ColorRef::FromRgb(255, 255, 255)})
      p.entries.push_back(c);
    return p;
  }();
  return palette;
}

std::optional<ColorHistogram> BuildHistogram(const PictureView& picture) { return Count(picture, false); }

std::optional<Palette> Popularity(const PictureView& picture, int maxColors) {
  if (maxColors < 1 || maxColors > 256) return std::nullopt;
  const std::optional<ColorHistogram> h = Count(picture, true);
  if (!h) return std::nullopt;
  std::vector<int> used;
  for (int cell = 0; cell < 32768; ++cell)
    if (h->cells[size_t(cell)]) used.push_back(cell);
  const size_t n = std::min(used.size(), size_t(maxColors));
  std::partial_sort(used.begin(), used.begin() + ptrdiff_t(n), used.end(), [&](int a, int b) {
    return h->cells[size_t(a)] != h->cells[size_t(b)] ? h->cells[size_t(a)] > h->cells[size_t(b)] : a < b;
  });
  Palette p;
  for (size_t i = 0; i < n; ++i) p.entries.push_back(ColorHistogram::CellColor(used[i]));
  return p;
}

std::optional<Palette> MedianCut(const ColorHistogram& h, int maxColors) {
  if (maxColors < 1 || maxColors > 256 || h.cells.size() != 32768) return std::nullopt;
  std::vector<Box> boxes(1);
  for (int cell = 0; cell < 32768; ++cell)
    if (h.cells[size_t(cell)]) boxes[0].cells.push_back(cell), boxes[0].count += h.cells[size_t(cell)];
  if (boxes[0].cells.empty()) return std::nullopt;
  while (int(boxes.size()) < maxColors) {
    // The box of most pixels that still holds more than one cell.
    Box* widest = nullptr;
    for (Box& b : boxes)
      if (b.cells.size() > 1 && (!widest || b.count > widest->count)) widest = &b;
    if (!widest) break;
    int side = 0, longest = -1;
    for (int ch = 0; ch < 3; ++ch) {
      const auto [lo, hi] = std::minmax_element(widest->cells.begin(), widest->cells.end(),
                                                [&](int a, int b) { return Channel(a, ch) < Channel(b, ch); });
      if (Channel(*hi, ch) - Channel(*lo, ch) > longest) longest = Channel(*hi, ch) - Channel(*lo, ch), side = ch;
    }
    std::stable_sort(widest->cells.begin(), widest->cells.end(),
                     [&](int a, int b) { return Channel(a, side) < Channel(b, side); });
    // The first cell at which half the pixels are counted ends the lower box; both keep a cell.
    uint64_t running = 0;
    size_t split = 1;
    for (size_t i = 0; i + 1 < widest->cells.size(); ++i) {
      running += h.cells[size_t(widest->cells[i])];
      split = i + 1;
      if (running * 2 >= widest->count) break;
    }
    Box upper;
    upper.cells.assign(widest->cells.begin() + ptrdiff_t(split), widest->cells.end());
    widest->cells.resize(split);
    for (int cell : upper.cells) upper.count += h.cells[size_t(cell)];
    widest->count -= upper.count;
    boxes.push_back(std::move(upper));
  }
  Palette p;
  for (const Box& b : boxes) {
    uint64_t sum[3] = {};
    for (int cell : b.cells) {
      const ColorRef c = ColorHistogram::CellColor(cell);
      const uint64_t n = h.cells[size_t(cell)];
      sum[0] += c.Red() * n, sum[1] += c.Green() * n, sum[2] += c.Blue() * n;
    }
    auto mean = [&](uint64_t s) { return uint8_t((s + b.count / 2) / b.count); };
    p.entries.push_back(ColorRef::FromRgb(mean(sum[0]), mean(sum[1]), mean(sum[2])));
  }
  return p;
}

int NearestIndex(const Palette& palette, ColorRef c) {
  int best = 0, bestDistance = 1 << 30;
  for (size_t i = 0; i < palette.entries.size(); ++i) {
    const ColorRef e = palette.entries[i];
    const int dr = e.Red() - c.Red(), dg = e.Green() - c.Green(), db = e.Blue() - c.Blue();
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) best = int(i), bestDistance = distance;
  }
  return best;
}

DecodedPicture ReduceColors(const PictureView& pic) {
  if (pic.bitsPerPixel == 8) {
    DecodedPicture same;
    same.width = pic.width, same.height = pic.height, same.bitsPerPixel = 8;
    same.stride = ptrdiff_t(detail::PaddedStride(uint64_t(pic.width), 8));
    same.bits.resize(size_t(same.stride) * size_t(pic.height));
    for (int y = 0; y < pic.height; ++y)
      std::copy_n(pic.bits + pic.stride * y, pic.width, same.bits.begin() + same.stride * y);
    same.colorTable.assign(pic.colorTable.begin(), pic.colorTable.end());
    return same;
  }
  const std::optional<ColorHistogram> h = BuildHistogram(pic);
  std::optional<Palette> palette = Popularity(pic);
  if (!palette && h) palette = MedianCut(*h);
  const Palette& chosen = palette ? *palette : DefaultPalette();
  // Each cell is matched once; pixels go through their cell.
  std::vector<uint8_t> cellIndex(32768, 0);
  for (int cell = 0; cell < 32768; ++cell)
    if (!h || h->cells[size_t(cell)]) cellIndex[size_t(cell)] = uint8_t(NearestIndex(chosen, ColorHistogram::CellColor(cell)));
  DecodedPicture out;
  out.width = pic.width, out.height = pic.height, out.bitsPerPixel = 8;
  out.stride = ptrdiff_t(detail::PaddedStride(uint64_t(std::max(pic.width, 0)), 8));
  out.bits.assign(size_t(out.stride) * size_t(std::max(pic.height, 0)), 0);
  out.colorTable = chosen.entries;
  std::vector<uint8_t> rgb(size_t(std::max(pic.width, 0)) * 3);
  for (int y = 0; y < pic.height && pic.bits; ++y) {
    RowToRgb(pic, y, rgb.data());
    for (int x = 0; x < pic.width; ++x)
      out.bits[size_t(out.stride * y + x)] =
          cellIndex[size_t(ColorHistogram::Cell(ColorRef::FromRgb(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2])))];
  }
  return out;
}

ColorTranslation TranslationTable(const Palette& picture, const Palette& stage) {
  ColorTranslation t;
  std::iota(t.map.begin(), t.map.end(), 0);
  for (size_t i = 0; i < std::min<size_t>(picture.entries.size(), 256); ++i) {
    if (i < stage.entries.size() && picture.entries[i] == stage.entries[i]) continue;
    t.map[i] = uint8_t(NearestIndex(stage, picture.entries[i]));
    if (t.map[i] != i) t.active = true;
  }
  return t;
}

uint8_t IndexedPicture::IndexAt(int x, int y) const {
  const uint8_t byte = rows[size_t(stride * y + x * bits / 8)];
  const int perByte = 8 / bits;
  return uint8_t(byte >> (8 - bits * (x % perByte + 1)) & ((1 << bits) - 1));
}

std::optional<IndexedPicture> PackIndexed(const PictureView& pic, int bits) {
  if ((bits != 1 && bits != 4 && bits != 8) || pic.bitsPerPixel != 8 || pic.width <= 0 || pic.height <= 0 || !pic.bits)
    return std::nullopt;
  IndexedPicture out;
  out.width = pic.width, out.height = pic.height, out.bits = bits;
  out.stride = ptrdiff_t(detail::PaddedStride(uint64_t(pic.width), uint64_t(bits)));
  out.rows.assign(size_t(out.stride) * size_t(pic.height), 0);
  const int perByte = 8 / bits;
  for (int y = 0; y < pic.height; ++y)
    for (int x = 0; x < pic.width; ++x) {
      const uint8_t index = pic.bits[pic.stride * y + x];
      if (index >> bits) return std::nullopt;
      out.rows[size_t(out.stride * y + x / perByte)] |= uint8_t(index << (8 - bits * (x % perByte + 1)));
    }
  out.palette.entries.assign(pic.colorTable.begin(), pic.colorTable.end());
  out.palette.entries.resize(size_t(1) << bits);
  return out;
}

namespace {

// Whether the packed rows hold the whole picture: callers may build one by hand.
bool Consistent(const IndexedPicture& p) {
  if ((p.bits != 1 && p.bits != 4 && p.bits != 8) || p.width <= 0 || p.height <= 0) return false;
  return p.stride >= ptrdiff_t(detail::PaddedStride(uint64_t(p.width), uint64_t(p.bits))) &&
         p.rows.size() >= size_t(p.stride) * size_t(p.height);
}

}  // namespace

DecodedPicture Widen(const IndexedPicture& p) {
  DecodedPicture out;
  if (!Consistent(p)) return out;
  out.width = p.width, out.height = p.height, out.bitsPerPixel = 8;
  out.stride = ptrdiff_t(detail::PaddedStride(uint64_t(p.width), 8));
  out.bits.assign(size_t(out.stride) * size_t(p.height), 0);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) out.bits[size_t(out.stride * y + x)] = p.IndexAt(x, y);
  out.colorTable = p.palette.entries;
  return out;
}

PixelBuffer Translate(const IndexedPicture& p, PixelFormat format) {
  if (!Consistent(p)) return {};
  PixelBuffer out(p.width, p.height, format);
  if (out.IsNull()) return out;
  // Indexes past the palette read as black, as the stage reads them.
  std::array<uint32_t, 256> p32{};
  std::array<uint16_t, 256> p16{};
  for (size_t i = 0; i < 256; ++i) {
    const ColorRef c = i < p.palette.entries.size() ? p.palette.entries[i] : ColorRef();
    p32[i] = ToXrgb32(c);
    p16[i] = ToRgb565(c);
  }
  std::vector<uint8_t> row(size_t(p.width));
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) row[size_t(x)] = p.IndexAt(x, y);
    if (format == PixelFormat::kXrgb32)
      loops::ConvertIndexedTo32(out.Row(y), out.Stride(), row.data(), p.width, p.width, 1, p32.data());
    else
      loops::ConvertIndexedTo16(out.Row(y), out.Stride(), row.data(), p.width, p.width, 1, p16.data());
  }
  return out;
}

}  // namespace kv::imaging
