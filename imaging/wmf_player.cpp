// WMF: the 16-bit Windows metafile, with or without the placeable header,
// played record by record onto the shared canvas.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "imaging/metafile_canvas.h"

namespace kv::imaging::detail {

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kHeaderSize = 18;

enum Record : uint16_t {
  kEof = 0x0000,
  kSaveDc = 0x001E,
  kSetBkMode = 0x0102,
  kSetMapMode = 0x0103,
  kSetRop2 = 0x0104,
  kSetPolyFillMode = 0x0106,
  kRestoreDc = 0x0127,
  kPaintRegion = 0x012B,
  kSelectClipRegion = 0x012C,
  kSelectObject = 0x012D,
  kSetTextAlign = 0x012E,
  kDibCreatePatternBrush = 0x0142,
  kDeleteObject = 0x01F0,
  kCreatePatternBrush = 0x01F9,
  kCreatePalette = 0x00F7,
  kSetBkColor = 0x0201,
  kSetTextColor = 0x0209,
  kSetWindowOrg = 0x020B,
  kSetWindowExt = 0x020C,
  kSetViewportOrg = 0x020D,
  kSetViewportExt = 0x020E,
  kOffsetWindowOrg = 0x020F,
  kOffsetViewportOrg = 0x0211,
  kLineTo = 0x0213,
  kMoveTo = 0x0214,
  kOffsetClipRgn = 0x0220,
  kFillRegion = 0x0228,
  kCreatePenIndirect = 0x02FA,
  kCreateFontIndirect = 0x02FB,
  kCreateBrushIndirect = 0x02FC,
  kPolygon = 0x0324,
  kPolyline = 0x0325,
  kScaleWindowExt = 0x0410,
  kScaleViewportExt = 0x0412,
  kExcludeClipRect = 0x0415,
  kIntersectClipRect = 0x0416,
  kEllipse = 0x0418,
  kRectangle = 0x041B,
  kSetPixel = 0x041F,
  kTextOut = 0x0521,
  kPolyPolygon = 0x0538,
  kRoundRect = 0x061C,
  kPatBlt = 0x061D,
  kCreateRegion = 0x06FF,
  kArc = 0x0817,
  kPie = 0x081A,
  kChord = 0x0830,
  kDibBitBlt = 0x0940,
  kExtTextOut = 0x0A32,
  kDibStretchBlt = 0x0B41,
  kSetDibToDev = 0x0D33,
  kStretchDib = 0x0F43,
};

struct WmfLayout {
  bool placeable = false;
  int16_t box[4] = {};  // left, top, right, bottom
  uint16_t inch = 0;
  size_t recordsAt = 0;
  size_t end = 0;  // the end of the records the header announces, within the file
  uint16_t objects = 0;
};

WmfLayout ReadLayout(std::span<const uint8_t> bytes) {
  WmfLayout l;
  ByteReader in(bytes);
  if (bytes.size() >= 4 && LoadLe32(bytes.data()) == kPlaceableKey) {
    l.placeable = true;
    in.Skip(6);
    for (int16_t& v : l.box) v = int16_t(in.U16());
    l.inch = in.U16();
    in.Skip(6);
  }
  const size_t headerAt = in.Position();
  const uint16_t type = in.U16();
  const uint16_t headerWords = in.U16();
  if ((type != 1 && type != 2) || headerWords != kHeaderSize / 2) Fail(PicError::kUnknownType, "not a Windows metafile");
  in.Skip(2);  // version
  const uint64_t words = in.U32();
  l.objects = in.U16();
  in.Skip(6);
  l.recordsAt = in.Position();
  // The header's length bounds the records; a length past the file's end is
  // left to the record checks, which refuse a record that runs past it.
  const uint64_t end = headerAt + words * 2;
  l.end = size_t(std::min<uint64_t>(end > l.recordsAt ? end : bytes.size(), bytes.size()));
  return l;
}

// Walks the records, checking each one's length against the bytes present.
template <typename Visit>
void ForEachRecord(std::span<const uint8_t> bytes, const WmfLayout& l, Visit&& visit) {
  size_t at = l.recordsAt;
  while (at < l.end) {
    if (l.end - at < 6) Fail(PicError::kTruncated, "a metafile record is cut short");
    const uint64_t length = uint64_t(LoadLe32(&bytes[at])) * 2;
    const uint16_t function = uint16_t(bytes[at + 4] | bytes[at + 5] << 8);
    if (length < 6) Fail(PicError::kCorrupt, "a metafile record is shorter than its header");
    if (length > l.end - at) Fail(PicError::kTruncated, "a metafile record runs past the end of the file");
    if (function == kEof) return;
    if (!visit(function, length, bytes.subspan(at + 6, size_t(length - 6)))) return;
    at += size_t(length);
  }
}

int16_t Word(std::span<const uint8_t> p, size_t i) {
  return i * 2 + 1 < p.size() ? int16_t(p[2 * i] | p[2 * i + 1] << 8) : int16_t(0);
}

// What a plain metafile without a window extent draws on, in its own pixels
// (the text mode: one logical unit a pixel, moved by the window origin).
// Text counts by its reference point and opaque box; empty when nothing draws.
QRect DrawnBounds(std::span<const uint8_t> bytes, const WmfLayout& l) {
  int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
  int64_t orgX = 0, orgY = 0;
  auto point = [&](int64_t x, int64_t y) {
    x -= orgX, y -= orgY;
    left = std::min(left, x), right = std::max(right, x);
    top = std::min(top, y), bottom = std::max(bottom, y);
  };
  // (y, x) at word i.
  auto yx = [&](std::span<const uint8_t> p, size_t i) { point(Word(p, i + 1), Word(p, i)); };
  // bottom, right, top, left from word i.
  auto box = [&](std::span<const uint8_t> p, size_t i) { yx(p, i), yx(p, i + 2); };
  // A destination of (height, width) at word i and (y, x) after it.
  auto extent = [&](std::span<const uint8_t> p, size_t i) {
    const int64_t x = Word(p, i + 3), y = Word(p, i + 2);
    point(x, y);
    point(x + Word(p, i + 1), y + Word(p, i));
  };
  auto points = [&](std::span<const uint8_t> p, size_t first, uint64_t count) {
    for (uint64_t k = 0; k < count && first + 2 * k + 1 < p.size() / 2; ++k)
      point(Word(p, size_t(first + 2 * k)), Word(p, size_t(first + 2 * k + 1)));
  };
  ForEachRecord(bytes, l, [&](uint16_t function, uint64_t length, std::span<const uint8_t> p) {
    switch (function) {
      case kSetWindowOrg: orgY = Word(p, 0), orgX = Word(p, 1); break;
      case kOffsetWindowOrg: orgY += Word(p, 0), orgX += Word(p, 1); break;
      case kMoveTo: case kLineTo: yx(p, 0); break;
      case kRectangle: case kEllipse: box(p, 0); break;
      case kRoundRect: box(p, 2); break;
      case kArc: case kPie: case kChord: box(p, 4); break;
      case kSetPixel: yx(p, 2); break;
      case kPatBlt: extent(p, 2); break;
      case kPolygon: case kPolyline: points(p, 1, uint16_t(Word(p, 0))); break;
      case kPolyPolygon: {
        const size_t n = uint16_t(Word(p, 0));
        uint64_t total = 0;
        for (size_t i = 0; i < n; ++i) total += uint16_t(Word(p, 1 + i));
        points(p, 1 + n, total);
        break;
      }
      case kTextOut: {
        const size_t chars = (uint16_t(Word(p, 0)) + 1) / 2;
        yx(p, 1 + chars);
        break;
      }
      case kExtTextOut:
        yx(p, 0);
        if (uint16_t(Word(p, 3)) & (gdi::kEtoOpaque | gdi::kEtoClipped)) {
          point(Word(p, 4), Word(p, 5));
          point(Word(p, 6), Word(p, 7));
        }
        break;
      // A blit without a bitmap has a reserved word before its destination.
      case kDibBitBlt: extent(p, length / 2 == uint64_t(function >> 8) + 3 ? 5 : 4); break;
      case kDibStretchBlt: extent(p, length / 2 == uint64_t(function >> 8) + 3 ? 7 : 6); break;
      case kStretchDib: extent(p, 7); break;
      case kSetDibToDev: extent(p, 5); break;
      default: break;
    }
    return true;
  });
  if (left > right || top > bottom) return {};
  // A drawing of one line or point is still a pixel wide.
  constexpr int64_t kReach = int64_t(1) << 22;
  auto clamp = [&](int64_t v) { return int(std::clamp(v, -kReach, kReach)); };
  return QRect(clamp(left), clamp(top), int(std::max<int64_t>(1, clamp(right) - clamp(left))),
               int(std::max<int64_t>(1, clamp(bottom) - clamp(top))));
}

void OwnSize(std::span<const uint8_t> bytes, const WmfLayout& l, int& width, int& height, QPointF* windowExt,
             QPointF* drawnAt = nullptr) {
  int64_t w = 0, h = 0;
  if (l.placeable) {
    if (l.inch == 0) Fail(PicError::kCorrupt, "the placeable header gives no units per inch");
    // 96 pixels an inch, rounded.
    w = (std::abs(int64_t(l.box[2]) - l.box[0]) * 96 + l.inch / 2) / l.inch;
    h = (std::abs(int64_t(l.box[3]) - l.box[1]) * 96 + l.inch / 2) / l.inch;
    if (l.box[2] == l.box[0] || l.box[3] == l.box[1]) Fail(PicError::kCorrupt, "the metafile's bounding box is empty");
    w = std::max<int64_t>(w, 1), h = std::max<int64_t>(h, 1);
  } else {
    // A plain metafile's size is its first window extent, in pixels; without
    // one, what it draws, as other readers size it.
    ForEachRecord(bytes, l, [&](uint16_t function, uint64_t, std::span<const uint8_t> p) {
      if (function != kSetWindowExt || p.size() < 4 || Word(p, 0) == 0 || Word(p, 1) == 0) return true;
      h = std::abs(int64_t(Word(p, 0)));
      w = std::abs(int64_t(Word(p, 1)));
      return false;
    });
    if (w == 0 || h == 0) {
      const QRect drawn = DrawnBounds(bytes, l);
      w = drawn.width(), h = drawn.height();
      if (drawnAt) *drawnAt = drawn.topLeft();
    }
    if (w <= 0 || h <= 0) Fail(PicError::kCorrupt, "the metafile's bounding box is empty");
  }
  if (w > kMaxSide || h > kMaxSide) Fail(PicError::kTooLarge, "the metafile is too large");
  width = int(w), height = int(h);
  if (windowExt) *windowExt = QPointF(double(w), double(h));
}

// Parameters of one record, 16-bit words unless named otherwise.
class Params {
 public:
  explicit Params(std::span<const uint8_t> p) : in_(p), size_(p.size()) {}
  double S() { return int16_t(in_.U16()); }
  uint16_t U() { return in_.U16(); }
  uint32_t U32() { return in_.U32(); }
  ColorRef Color() { return ColorRef(in_.U32()); }
  // (y, x) as most records store a point.
  QPointF YX() {
    const double y = S();
    return {S(), y};
  }
  // bottom, right, top, left.
  QRectF Box() {
    const double b = S(), r = S(), t = S(), l = S();
    return QRectF(QPointF(l, t), QPointF(r, b));
  }
  std::span<const uint8_t> Take(uint64_t n) { return in_.Take(n); }
  std::span<const uint8_t> Rest() { return in_.Take(in_.Remaining()); }
  size_t Remaining() const { return in_.Remaining(); }
  size_t Size() const { return size_; }

 private:
  ByteReader in_;
  size_t size_;
};

std::vector<QPointF> Points(Params& p, uint64_t count) { return Points16(p.Take(count * 4)); }

// A bottom-up bitmap counts its source rows from the bottom.
bool BottomUp(std::span<const uint8_t> dib) {
  if (dib.size() < 12) return true;
  if (LoadLe32(dib.data()) == 12) return true;
  return int32_t(LoadLe32(dib.data() + 8)) > 0;
}

void Bitmap(MetafileCanvas& canvas, std::span<const uint8_t> dib, const QRectF& dst, QRectF src, uint32_t rop,
            bool sourceFromBottom, const MetafileOptions& options) {
  Picture bitmap;
  DecodeOptions decode;
  decode.maxPixels = options.maxPixels;
  DecodeDib(dib, 0, 0, bitmap, decode);
  const int h = bitmap.pixels.height;
  if (src.isEmpty()) src = QRectF(0, 0, bitmap.pixels.width, h);
  if (sourceFromBottom && BottomUp(dib)) src.moveTop(h - src.bottom());
  canvas.DrawBitmap(bitmap, dst, src, rop);
}

GdiRegion ReadRegion(Params& p) {
  p.Take(10);  // next in chain, object type, object count, region size
  const uint16_t scans = p.U();
  p.Take(10);  // largest scan, bounding box
  std::vector<QRect> rects;
  for (uint32_t s = 0; s < scans; ++s) {
    const uint16_t count = p.U();
    const int top = int16_t(p.U()), bottom = int16_t(p.U());
    const auto lines = p.Take(uint64_t(count / 2) * 4);
    for (size_t i = 0; i + 4 <= lines.size(); i += 4) {
      const int left = int16_t(lines[i] | lines[i + 1] << 8), right = int16_t(lines[i + 2] | lines[i + 3] << 8);
      if (right > left && bottom > top) rects.emplace_back(left, top, right - left, bottom - top);
    }
    p.U();  // the count again
  }
  return GdiRegion{RegionOf(rects)};
}

LogFont ReadFont(Params& p) {
  LogFont f;
  f.height = int16_t(p.U());
  f.width = int16_t(p.U());
  f.escapement = int16_t(p.U());
  p.U();  // orientation
  f.weight = int16_t(p.U());
  const auto flags = p.Take(8);
  f.italic = flags[0] != 0;
  f.underline = flags[1] != 0;
  f.strikeOut = flags[2] != 0;
  f.charset = flags[3];
  // The face name: up to 32 bytes, ended by a zero or by the record.
  const auto face = p.Rest();
  size_t n = 0;
  while (n < face.size() && n < 32 && face[n] != 0) ++n;
  f.face = FromCp1252(face.first(n)).toStdString();
  return f;
}

void TextRecord(MetafileCanvas& canvas, Params& p, bool extended) {
  QPointF at;
  uint16_t length = 0, options = 0;
  std::optional<QRectF> rect;
  std::span<const uint8_t> chars;
  if (extended) {
    at = p.YX();
    length = p.U();
    options = p.U();
    if (options & (gdi::kEtoOpaque | gdi::kEtoClipped)) {
      const double l = p.S(), t = p.S(), r = p.S(), b = p.S();
      rect = QRectF(QPointF(l, t), QPointF(r, b));
    }
    chars = p.Take(length);
    if (length & 1) p.Take(1);
  } else {
    length = p.U();
    chars = p.Take(length);
    if (length & 1) p.Take(1);
    at = p.YX();
  }
  std::vector<double> dx;
  if (extended && p.Remaining() >= uint64_t(length) * 2) {
    const auto raw = p.Take(uint64_t(length) * 2);
    for (size_t i = 0; i < length; ++i) dx.push_back(int16_t(raw[2 * i] | raw[2 * i + 1] << 8));
  }
  canvas.Text(at, TextOfFont(chars, canvas.Dc().font), options, rect, dx);
}

}  // namespace

void WmfSize(std::span<const uint8_t> bytes, int& width, int& height) {
  OwnSize(bytes, ReadLayout(bytes), width, height, nullptr);
}

void PlayWmf(std::span<const uint8_t> bytes, Picture& out, const MetafileOptions& options) {
  const WmfLayout l = ReadLayout(bytes);
  int ownWidth = 0, ownHeight = 0;
  QPointF ownExt, drawnAt;
  OwnSize(bytes, l, ownWidth, ownHeight, &ownExt, &drawnAt);
  const int width = options.width > 0 ? options.width : ownWidth;
  const int height = options.height > 0 ? options.height : ownHeight;
  OutputPicture output = NewOutput(width, height, options.maxPixels);
  {
  MetafileCanvas canvas(output.image, options.background, l.objects);
  DcState& dc = canvas.Dc();
  // The caller's picture is the viewport; the window starts as the placeable
  // box (or the size found above) and the records move it.
  dc.mapMode = gdi::kAnisotropic;
  dc.viewportExt = QPointF(width, height);
  if (l.placeable) {
    dc.windowOrg = QPointF(l.box[0], l.box[1]);
    canvas.SetWindowExt(QPointF(int64_t(l.box[2]) - l.box[0], int64_t(l.box[3]) - l.box[1]));
  } else {
    dc.windowExt = ownExt;
    // Sized by its drawing: the drawing's top left is the picture's.
    dc.viewportOrg = QPointF(-drawnAt.x() * width / ownExt.x(), -drawnAt.y() * height / ownExt.y());
  }

  ForEachRecord(bytes, l, [&](uint16_t function, uint64_t length, std::span<const uint8_t> raw) {
    Params p(raw);
    // Whether a blit record carries a bitmap: those without are one word shorter than their number says.
    const bool noBitmap = length / 2 == uint64_t(function >> 8) + 3;
    switch (function) {
      case kSaveDc: canvas.SaveDc(); break;
      case kRestoreDc: canvas.RestoreDc(int16_t(p.U())); break;
      case kSetBkMode: dc.bkMode = p.U(); break;
      case kSetMapMode:
        // The picture fills the caller's frame whatever unit the records use;
        // only the isotropic mode changes how the window meets it.
        dc.mapMode = p.U() == gdi::kIsotropic ? gdi::kIsotropic : gdi::kAnisotropic;
        break;
      case kSetRop2: dc.rop2 = p.U(); break;
      case kSetPolyFillMode: dc.polyFillMode = p.U(); break;
      case kSetTextAlign: dc.textAlign = p.U(); break;
      case kSetBkColor: dc.bkColor = p.Color(); break;
      case kSetTextColor: dc.textColor = p.Color(); break;
      case kSetWindowOrg: dc.windowOrg = p.YX(); break;
      case kSetWindowExt: canvas.SetWindowExt(p.YX()); break;
      case kOffsetWindowOrg: dc.windowOrg += p.YX(); break;
      case kScaleWindowExt: {
        const double yDen = p.S(), yNum = p.S(), xDen = p.S(), xNum = p.S();
        if (xDen != 0 && yDen != 0)
          canvas.SetWindowExt(QPointF(dc.windowExt.x() * xNum / xDen, dc.windowExt.y() * yNum / yDen));
        break;
      }
      case kSetViewportOrg:
      case kSetViewportExt:
      case kOffsetViewportOrg:
      case kScaleViewportExt:
        // The viewport is the caller's picture: a metafile never moves itself out of it.
        break;
      case kMoveTo: canvas.MoveTo(p.YX()); break;
      case kLineTo: canvas.LineTo(p.YX()); break;
      case kExcludeClipRect: canvas.ExcludeClip(p.Box()); break;
      case kIntersectClipRect: canvas.IntersectClip(p.Box()); break;
      case kOffsetClipRgn: canvas.OffsetClip(p.YX()); break;
      case kEllipse: canvas.Ellipse(p.Box()); break;
      case kRectangle: canvas.Rectangle(p.Box()); break;
      case kRoundRect: {
        const QPointF corner = p.YX();
        canvas.RoundRect(p.Box(), corner);
        break;
      }
      case kArc:
      case kPie:
      case kChord: {
        const QPointF end = p.YX(), start = p.YX();
        const QRectF box = p.Box();
        const auto kind = function == kArc   ? MetafileCanvas::ArcKind::kArc
                          : function == kPie ? MetafileCanvas::ArcKind::kPie
                                             : MetafileCanvas::ArcKind::kChord;
        canvas.Arc(kind, box, start, end);
        break;
      }
      case kSetPixel: {
        const ColorRef color = p.Color();
        canvas.SetPixel(p.YX(), color);
        break;
      }
      case kPatBlt: {
        const uint32_t rop = p.U32();
        const QPointF size = p.YX(), at = p.YX();
        canvas.PatBlt(QRectF(at, QSizeF(size.x(), size.y())), rop);
        break;
      }
      case kPolygon:
      case kPolyline: {
        const std::vector<QPointF> points = Points(p, p.U());
        if (function == kPolygon)
          canvas.Polygon(points);
        else
          canvas.Polyline(points);
        break;
      }
      case kPolyPolygon: {
        const uint16_t n = p.U();
        const auto countBytes = p.Take(uint64_t(n) * 2);
        uint64_t total = 0;
        for (size_t i = 0; i < n; ++i) total += uint16_t(countBytes[2 * i] | countBytes[2 * i + 1] << 8);
        const std::vector<QPointF> points = Points(p, total);
        std::vector<std::span<const QPointF>> polygons;
        size_t at = 0;
        for (size_t i = 0; i < n; ++i) {
          const size_t count = uint16_t(countBytes[2 * i] | countBytes[2 * i + 1] << 8);
          polygons.push_back(std::span<const QPointF>(points).subspan(at, count));
          at += count;
        }
        canvas.PolyPolygon(polygons);
        break;
      }
      case kTextOut: TextRecord(canvas, p, false); break;
      case kExtTextOut: TextRecord(canvas, p, true); break;
      case kSelectObject: canvas.Select(p.U()); break;
      case kDeleteObject: canvas.Delete(p.U()); break;
      case kSelectClipRegion: {
        const GdiObject* object = canvas.Object(p.U());
        const auto* region = object ? std::get_if<GdiRegion>(object) : nullptr;
        canvas.SelectClip(region ? std::optional<QRegion>(region->region) : std::nullopt, gdi::kRgnCopy);
        break;
      }
      case kCreatePenIndirect: {
        LogPen pen;
        pen.style = p.U();
        pen.width = std::abs(p.S());
        p.U();  // the height of the width point is unused
        pen.color = p.Color();
        canvas.Create(canvas.FirstFreeSlot(), pen);
        break;
      }
      case kCreateBrushIndirect: {
        LogBrush brush;
        brush.style = p.U();
        brush.color = p.Color();
        brush.hatch = p.U();
        canvas.Create(canvas.FirstFreeSlot(), brush);
        break;
      }
      case kCreateFontIndirect: canvas.Create(canvas.FirstFreeSlot(), ReadFont(p)); break;
      case kDibCreatePatternBrush: {
        LogBrush brush;
        brush.style = gdi::kBrushDibPattern;
        p.U();
        const uint16_t usage = p.U();
        Picture bitmap;
        DecodeOptions decode;
        decode.maxPixels = options.maxPixels;
        // Colours given as palette indexes (usage 1) have no palette to read here: a black brush.
        if (usage == 0) {
          DecodeDib(p.Rest(), 0, 0, bitmap, decode);
          brush.pattern = ToQImage(bitmap.pixels.View());
        }
        brush.color = ColorRef(0);
        canvas.Create(canvas.FirstFreeSlot(), brush);
        break;
      }
      case kCreateRegion: canvas.Create(canvas.FirstFreeSlot(), ReadRegion(p)); break;
      case kCreatePatternBrush:
      case kCreatePalette:
        // They hold a slot; their contents draw nothing here.
        canvas.Create(canvas.FirstFreeSlot(), std::monostate{});
        break;
      case kFillRegion: {
        const GdiObject* region = canvas.Object(p.U());
        const GdiObject* brush = canvas.Object(p.U());
        if (region && brush && std::holds_alternative<GdiRegion>(*region) && std::holds_alternative<LogBrush>(*brush))
          canvas.FillRegion(std::get<GdiRegion>(*region).region, std::get<LogBrush>(*brush));
        break;
      }
      case kPaintRegion: {
        const GdiObject* region = canvas.Object(p.U());
        if (region && std::holds_alternative<GdiRegion>(*region))
          canvas.FillRegion(std::get<GdiRegion>(*region).region, dc.brush);
        break;
      }
      case kDibBitBlt:
      case kDibStretchBlt: {
        const uint32_t rop = p.U32();
        // A stretching blit names its source size; a plain one uses the destination's.
        const bool stretching = function == kDibStretchBlt;
        QPointF from;
        if (stretching) from = p.YX();
        const QPointF src = p.YX();
        if (noBitmap) p.U();
        const QPointF size = p.YX(), at = p.YX();
        const QRectF dst(at, QSizeF(size.x(), size.y()));
        if (!stretching) from = size;
        if (noBitmap)
          canvas.PatBlt(dst, rop);
        else
          Bitmap(canvas, p.Rest(), dst, QRectF(src, QSizeF(from.x(), from.y())), rop, false, options);
        break;
      }
      case kStretchDib: {
        const uint32_t rop = p.U32();
        p.U();  // colour usage: palette-index tables are read as colours
        const QPointF srcSize = p.YX(), src = p.YX(), size = p.YX(), at = p.YX();
        Bitmap(canvas, p.Rest(), QRectF(at, QSizeF(size.x(), size.y())), QRectF(src, QSizeF(srcSize.x(), srcSize.y())),
               rop, true, options);
        break;
      }
      case kSetDibToDev: {
        p.Take(6);  // colour usage, scan count, first scan
        const QPointF src = p.YX(), size = p.YX(), at = p.YX();
        const QSizeF extent(size.x(), size.y());
        Bitmap(canvas, p.Rest(), QRectF(at, extent), QRectF(src, extent), gdi::kSrcCopy, true, options);
        break;
      }
      default:
        // Palette, escape, flood-fill and other records draw nothing here; the system skips what it does not know too.
        break;
    }
    return true;
  });
  }  // the painter ends before the picture leaves
  out = std::move(output.picture);
}

}  // namespace kv::imaging::detail
