// EMF: the enhanced metafile, played record by record onto the shared canvas,
// its frame mapped onto the picture.
#include <cmath>
#include <cstring>

#include "imaging/metafile_canvas.h"

namespace kv::imaging::detail {

namespace {

constexpr uint32_t kSignature = 0x464D4520;  // " EMF"
constexpr size_t kHeaderMinimum = 88;

enum Record : uint32_t {
  kHeader = 1,
  kPolyBezier = 2,
  kPolygon = 3,
  kPolyline = 4,
  kPolyBezierTo = 5,
  kPolylineTo = 6,
  kPolyPolyline = 7,
  kPolyPolygon = 8,
  kSetWindowExtEx = 9,
  kSetWindowOrgEx = 10,
  kSetViewportExtEx = 11,
  kSetViewportOrgEx = 12,
  kEof = 14,
  kSetPixelV = 15,
  kSetMapMode = 17,
  kSetBkMode = 18,
  kSetPolyFillMode = 19,
  kSetRop2 = 20,
  kSetTextAlign = 22,
  kSetTextColor = 24,
  kSetBkColor = 25,
  kOffsetClipRgn = 26,
  kMoveToEx = 27,
  kExcludeClipRect = 29,
  kIntersectClipRect = 30,
  kScaleViewportExtEx = 31,
  kScaleWindowExtEx = 32,
  kSaveDc = 33,
  kRestoreDc = 34,
  kSetWorldTransform = 35,
  kModifyWorldTransform = 36,
  kSelectObject = 37,
  kCreatePen = 38,
  kCreateBrushIndirect = 39,
  kDeleteObject = 40,
  kEllipse = 42,
  kRectangle = 43,
  kRoundRect = 44,
  kArc = 45,
  kChord = 46,
  kPie = 47,
  kCreatePalette = 49,
  kLineTo = 54,
  kArcTo = 55,
  kSetArcDirection = 57,
  kBeginPath = 59,
  kEndPath = 60,
  kCloseFigure = 61,
  kFillPath = 62,
  kStrokeAndFillPath = 63,
  kStrokePath = 64,
  kSelectClipPath = 67,
  kAbortPath = 68,
  kFillRgn = 71,
  kPaintRgn = 74,
  kExtSelectClipRgn = 75,
  kBitBlt = 76,
  kStretchBlt = 77,
  kSetDiBitsToDevice = 80,
  kStretchDiBits = 81,
  kExtCreateFontIndirectW = 82,
  kExtTextOutA = 83,
  kExtTextOutW = 84,
  kPolyBezier16 = 85,
  kPolygon16 = 86,
  kPolyline16 = 87,
  kPolyBezierTo16 = 88,
  kPolylineTo16 = 89,
  kPolyPolyline16 = 90,
  kPolyPolygon16 = 91,
  kCreateMonoBrush = 93,
  kCreateDibPatternBrushPt = 94,
  kExtCreatePen = 95,
};

constexpr uint32_t kStockObject = 0x80000000;

struct EmfHeader {
  int32_t frame[4] = {};  // left, top, right, bottom in hundredths of a millimetre
  int32_t device[2] = {};
  int32_t millimetres[2] = {};
  uint16_t handles = 0;
};

EmfHeader ReadHeader(std::span<const uint8_t> bytes) {
  ByteReader in(bytes);
  if (bytes.size() < kHeaderMinimum || LoadLe32(bytes.data()) != kHeader || LoadLe32(bytes.data() + 40) != kSignature)
    Fail(PicError::kUnknownType, "not an enhanced metafile");
  const uint64_t size = LoadLe32(bytes.data() + 4);
  if (size < kHeaderMinimum || size > bytes.size()) Fail(PicError::kTruncated, "the metafile header is cut short");
  EmfHeader h;
  in.Seek(24);
  for (int32_t& v : h.frame) v = in.I32();
  in.Seek(56);
  h.handles = in.U16();
  in.Seek(72);
  for (int32_t& v : h.device) v = in.I32();
  for (int32_t& v : h.millimetres) v = in.I32();
  if (int64_t(h.frame[2]) - h.frame[0] <= 0 || int64_t(h.frame[3]) - h.frame[1] <= 0)
    Fail(PicError::kCorrupt, "the metafile's bounding box is empty");
  return h;
}

// Reference-device pixels per millimetre; 96 dpi when the header names no device.
double PerMm(int32_t pixels, int32_t mm) { return pixels > 0 && mm > 0 ? double(pixels) / mm : 96 / 25.4; }

void OwnSize(const EmfHeader& h, int& width, int& height) {
  // The frame at 96 pixels an inch, rounded.
  const int64_t w = ((int64_t(h.frame[2]) - h.frame[0]) * 96 + 1270) / 2540;
  const int64_t ht = ((int64_t(h.frame[3]) - h.frame[1]) * 96 + 1270) / 2540;
  if (w > kMaxSide || ht > kMaxSide) Fail(PicError::kTooLarge, "the metafile is too large");
  width = int(std::max<int64_t>(w, 1));
  height = int(std::max<int64_t>(ht, 1));
}

// One record: its bytes from the type on; reads past its end throw.
class Rec {
 public:
  explicit Rec(std::span<const uint8_t> r) : r_(r), in_(r, 8) {}
  int32_t I() { return in_.I32(); }
  uint32_t U() { return in_.U32(); }
  float F() {
    const uint32_t v = in_.U32();
    float f;
    std::memcpy(&f, &v, 4);
    return f;
  }
  QPointF Point() {
    const double x = I();
    return {x, double(I())};
  }
  QRectF Box() {
    const double l = I(), t = I(), r = I(), b = I();
    return QRectF(QPointF(l, t), QPointF(r, b));
  }
  void Skip(uint64_t n) { in_.Skip(n); }
  void Seek(size_t at) { in_.Seek(at); }
  std::span<const uint8_t> Take(uint64_t n) { return in_.Take(n); }
  // `count` bytes at `offset` from the record's start, which must lie inside it.
  std::span<const uint8_t> At(uint64_t offset, uint64_t count) const {
    if (offset > r_.size() || count > r_.size() - offset) Fail(PicError::kCorrupt, "a metafile record points outside itself");
    return r_.subspan(size_t(offset), size_t(count));
  }
  std::span<const uint8_t> Bytes() const { return r_; }

 private:
  std::span<const uint8_t> r_;
  ByteReader in_;
};

std::vector<QPointF> Points(Rec& r, uint64_t count, bool small) {
  if (small) return Points16(r.Take(count * 4));
  const auto raw = r.Take(count * 8);
  std::vector<QPointF> points(raw.size() / 8);
  for (size_t i = 0; i < points.size(); ++i) points[i] = QPointF(int32_t(LoadLe32(&raw[8 * i])), int32_t(LoadLe32(&raw[8 * i + 4])));
  return points;
}

// Region data: a 32-byte header (size, type, count, size of the rectangles,
// bounds) and its rectangles.
QRegion ReadRegion(std::span<const uint8_t> data) {
  ByteReader in(data);
  const uint32_t headerSize = in.U32();
  in.Skip(4);
  const uint32_t count = in.U32();
  if (headerSize < 32) Fail(PicError::kCorrupt, "a region header is too short");
  in.Seek(headerSize);
  const auto raw = in.Take(uint64_t(count) * 16);
  std::vector<QRect> rects;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = &raw[16 * i];
    const int64_t l = int32_t(LoadLe32(p)), t = int32_t(LoadLe32(p + 4)), r = int32_t(LoadLe32(p + 8)), b = int32_t(LoadLe32(p + 12));
    if (r > l && b > t) rects.emplace_back(ClampToInt(l), ClampToInt(t), ClampToInt(r - l), ClampToInt(b - t));
  }
  return RegionOf(rects);
}

// A bitmap in a record: its information header and bits at their offsets.
bool ReadBitmap(const Rec& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits, Picture& bitmap,
                const MetafileOptions& options) {
  if (cbBmi == 0) return false;
  r.At(offBmi, cbBmi);
  r.At(offBits, cbBits);
  DecodeOptions decode;
  decode.maxPixels = options.maxPixels;
  // The bits must lie where the record says; the decoder checks they are all there.
  DecodeDib(r.Bytes().first(size_t(uint64_t(offBits) + cbBits)), offBmi, offBits, bitmap, decode);
  return true;
}

bool BottomUp(const Rec& r, uint32_t offBmi) {
  const auto header = r.At(offBmi, 12);
  return LoadLe32(header.data()) == 12 || int32_t(LoadLe32(header.data() + 8)) > 0;
}

QImage Pattern(const Rec& r, uint32_t offBmi, uint32_t cbBmi, uint32_t offBits, uint32_t cbBits,
               const MetafileOptions& options) {
  Picture bitmap;
  if (!ReadBitmap(r, offBmi, cbBmi, offBits, cbBits, bitmap, options)) return {};
  return ToQImage(bitmap.pixels.View());
}

void TextRecord(MetafileCanvas& canvas, Rec& r, bool wide) {
  r.Seek(36);
  const QPointF at = r.Point();
  const uint32_t chars = r.U();
  const uint32_t offString = r.U();
  const uint32_t options = r.U();
  const QRectF rect = r.Box();
  const uint32_t offDx = r.U();
  const auto raw = r.At(offString, uint64_t(chars) * (wide ? 2 : 1));
  QString text;
  if (wide) {
    for (size_t i = 0; i < chars; ++i) text.append(QChar(char16_t(raw[2 * i] | raw[2 * i + 1] << 8)));
    text = WideTextOfFont(std::move(text), canvas.Dc().font);
  } else {
    text = TextOfFont(raw, canvas.Dc().font);
  }
  std::vector<double> dx;
  // ETO_PDY: a vertical advance after each horizontal one.
  const uint64_t per = options & 0x2000 ? 2 : 1;
  if (offDx != 0 && chars > 0) {
    const auto advances = r.At(offDx, uint64_t(chars) * 4 * per);
    for (size_t i = 0; i < chars; ++i) dx.push_back(int32_t(LoadLe32(&advances[4 * per * i])));
  }
  const bool boxed = rect.width() != 0 && rect.height() != 0;
  canvas.Text(at, text, options, boxed ? std::optional<QRectF>(rect) : std::nullopt, dx);
}

}  // namespace

void EmfSize(std::span<const uint8_t> bytes, int& width, int& height) { OwnSize(ReadHeader(bytes), width, height); }

void PlayEmf(std::span<const uint8_t> bytes, Picture& out, const MetafileOptions& options) {
  const EmfHeader h = ReadHeader(bytes);
  int ownWidth = 0, ownHeight = 0;
  OwnSize(h, ownWidth, ownHeight);
  const int width = options.width > 0 ? options.width : ownWidth;
  const int height = options.height > 0 ? options.height : ownHeight;
  OutputPicture output = NewOutput(width, height, options.maxPixels);
  {
    MetafileCanvas canvas(output.image, options.background, h.handles);
    const double pxX = PerMm(h.device[0], h.millimetres[0]), pxY = PerMm(h.device[1], h.millimetres[1]);
    canvas.SetDeviceResolution(pxX, pxY);
    // The frame, in reference-device pixels, onto the whole picture.
    const double left = h.frame[0] / 100.0 * pxX, top = h.frame[1] / 100.0 * pxY;
    const double frameWidth = (int64_t(h.frame[2]) - h.frame[0]) / 100.0 * pxX;
    const double frameHeight = (int64_t(h.frame[3]) - h.frame[1]) / 100.0 * pxY;
    const double sx = width / frameWidth, sy = height / frameHeight;
    canvas.SetFrame(QTransform(sx, 0, 0, sy, -left * sx, -top * sy));
    DcState& dc = canvas.Dc();

    size_t at = 0;
    while (at < bytes.size()) {
      if (bytes.size() - at < 8) Fail(PicError::kTruncated, "a metafile record is cut short");
      const uint32_t type = LoadLe32(&bytes[at]);
      const uint64_t size = LoadLe32(&bytes[at + 4]);
      if (size < 8 || size % 4 != 0) Fail(PicError::kCorrupt, "a metafile record has an impossible length");
      if (size > bytes.size() - at) Fail(PicError::kTruncated, "a metafile record runs past the end of the file");
      if (type == kEof) break;
      Rec r(bytes.subspan(at, size_t(size)));
      at += size_t(size);
      switch (type) {
        case kPolyBezier: case kPolygon: case kPolyline: case kPolyBezierTo: case kPolylineTo:
        case kPolyBezier16: case kPolygon16: case kPolyline16: case kPolyBezierTo16: case kPolylineTo16: {
          const bool small = type >= kPolyBezier16;
          const uint32_t base = small ? type - kPolyBezier16 + kPolyBezier : type;
          r.Skip(16);  // bounds
          const std::vector<QPointF> points = Points(r, r.U(), small);
          switch (base) {
            case kPolyBezier: canvas.PolyBezier(points, false); break;
            case kPolygon: canvas.Polygon(points); break;
            case kPolyline: canvas.Polyline(points); break;
            case kPolyBezierTo: canvas.PolyBezier(points, true); break;
            default: canvas.PolylineTo(points); break;
          }
          break;
        }
        case kPolyPolyline: case kPolyPolygon: case kPolyPolyline16: case kPolyPolygon16: {
          const bool small = type >= kPolyPolyline16;
          r.Skip(16);
          const uint32_t n = r.U();
          const uint32_t count = r.U();
          const auto countBytes = r.Take(uint64_t(n) * 4);
          const std::vector<QPointF> points = Points(r, count, small);
          std::vector<std::span<const QPointF>> parts;
          uint64_t used = 0;
          for (size_t i = 0; i < n; ++i) {
            const uint64_t c = LoadLe32(&countBytes[4 * i]);
            if (c > count - used) Fail(PicError::kCorrupt, "polygon counts exceed the points present");
            parts.push_back(std::span<const QPointF>(points).subspan(size_t(used), size_t(c)));
            used += c;
          }
          if (type == kPolyPolygon || type == kPolyPolygon16)
            canvas.PolyPolygon(parts);
          else
            canvas.PolyPolyline(parts);
          break;
        }
        case kSetWindowExtEx: canvas.SetWindowExt(r.Point()); break;
        case kSetWindowOrgEx: dc.windowOrg = r.Point(); break;
        case kSetViewportExtEx: canvas.SetViewportExt(r.Point()); break;
        case kSetViewportOrgEx: dc.viewportOrg = r.Point(); break;
        case kScaleViewportExtEx:
        case kScaleWindowExtEx: {
          const double xNum = r.I(), xDen = r.I(), yNum = r.I(), yDen = r.I();
          if (xDen == 0 || yDen == 0) break;
          QPointF& ext = type == kScaleWindowExtEx ? dc.windowExt : dc.viewportExt;
          const QPointF scaled(ext.x() * xNum / xDen, ext.y() * yNum / yDen);
          type == kScaleWindowExtEx ? canvas.SetWindowExt(scaled) : canvas.SetViewportExt(scaled);
          break;
        }
        case kSetPixelV: {
          const QPointF p = r.Point();
          canvas.SetPixel(p, ColorRef(r.U()));
          break;
        }
        case kSetMapMode: {
          const uint32_t mode = r.U();
          if (mode >= gdi::kText && mode <= gdi::kAnisotropic) dc.mapMode = int(mode);
          break;
        }
        case kSetBkMode: dc.bkMode = int(r.U()); break;
        case kSetPolyFillMode: dc.polyFillMode = int(r.U()); break;
        case kSetRop2: dc.rop2 = int(r.U()); break;
        case kSetTextAlign: dc.textAlign = r.U(); break;
        case kSetTextColor: dc.textColor = ColorRef(r.U()); break;
        case kSetBkColor: dc.bkColor = ColorRef(r.U()); break;
        case kOffsetClipRgn: canvas.OffsetClip(r.Point()); break;
        case kMoveToEx: canvas.MoveTo(r.Point()); break;
        case kLineTo: canvas.LineTo(r.Point()); break;
        case kExcludeClipRect: canvas.ExcludeClip(r.Box()); break;
        case kIntersectClipRect: canvas.IntersectClip(r.Box()); break;
        case kSaveDc: canvas.SaveDc(); break;
        case kRestoreDc: canvas.RestoreDc(r.I()); break;
        case kSetWorldTransform:
        case kModifyWorldTransform: {
          const double m11 = r.F(), m12 = r.F(), m21 = r.F(), m22 = r.F(), dx = r.F(), dy = r.F();
          const uint32_t mode = type == kSetWorldTransform ? 4 : r.U();
          const QTransform x(m11, m12, m21, m22, dx, dy);
          const bool usable = std::isfinite(m11) && std::isfinite(m12) && std::isfinite(m21) && std::isfinite(m22) &&
                              std::isfinite(dx) && std::isfinite(dy);
          if (mode == 1) dc.world = QTransform();
          if (!usable) break;  // the system refuses such a transform
          if (mode == 2) dc.world = x * dc.world;
          if (mode == 3) dc.world = dc.world * x;
          if (mode == 4) dc.world = x;
          break;
        }
        case kSelectObject: {
          const uint32_t index = r.U();
          if (index & kStockObject)
            canvas.SelectStock(index & ~kStockObject);
          else
            canvas.Select(index);
          break;
        }
        case kCreatePen: {
          const uint32_t slot = r.U();
          LogPen pen;
          pen.style = r.U();
          pen.width = std::abs(double(r.I()));
          r.I();
          pen.color = ColorRef(r.U());
          canvas.Create(slot, pen);
          break;
        }
        case kExtCreatePen: {
          const uint32_t slot = r.U();
          r.Skip(16);  // the pattern bitmap of a pattern pen is not drawn
          LogPen pen;
          pen.style = r.U();
          pen.width = r.U();
          const uint32_t brushStyle = r.U();
          pen.color = ColorRef(r.U());
          if (brushStyle == gdi::kBrushNull) pen.style = gdi::kPenNull;
          canvas.Create(slot, pen);
          break;
        }
        case kCreateBrushIndirect: {
          const uint32_t slot = r.U();
          LogBrush brush;
          brush.style = r.U();
          brush.color = ColorRef(r.U());
          brush.hatch = r.U();
          canvas.Create(slot, brush);
          break;
        }
        case kCreateMonoBrush:
        case kCreateDibPatternBrushPt: {
          const uint32_t slot = r.U();
          r.U();  // colour usage
          const uint32_t offBmi = r.U(), cbBmi = r.U(), offBits = r.U(), cbBits = r.U();
          LogBrush brush;
          brush.style = gdi::kBrushDibPatternPt;
          brush.pattern = Pattern(r, offBmi, cbBmi, offBits, cbBits, options);
          canvas.Create(slot, brush);
          break;
        }
        case kExtCreateFontIndirectW: {
          const uint32_t slot = r.U();
          LogFont f;
          f.height = r.I();
          f.width = r.I();
          f.escapement = r.I();
          r.I();  // orientation
          f.weight = r.I();
          const auto flags = r.Take(8);
          f.italic = flags[0] != 0;
          f.underline = flags[1] != 0;
          f.strikeOut = flags[2] != 0;
          f.charset = flags[3];
          const auto face = r.Take(64);
          QString name;
          for (size_t i = 0; i < 32; ++i) {
            const char16_t c = char16_t(face[2 * i] | face[2 * i + 1] << 8);
            if (c == 0) break;
            name.append(QChar(c));
          }
          f.face = name.toStdString();
          canvas.Create(slot, f);
          break;
        }
        case kCreatePalette: canvas.Create(r.U(), std::monostate{}); break;
        case kDeleteObject: canvas.Delete(r.U()); break;
        case kEllipse: canvas.Ellipse(r.Box()); break;
        case kRectangle: canvas.Rectangle(r.Box()); break;
        case kRoundRect: {
          const QRectF box = r.Box();
          canvas.RoundRect(box, r.Point());
          break;
        }
        case kArc: case kChord: case kPie: case kArcTo: {
          const QRectF box = r.Box();
          const QPointF start = r.Point(), end = r.Point();
          const auto kind = type == kArc    ? MetafileCanvas::ArcKind::kArc
                            : type == kChord ? MetafileCanvas::ArcKind::kChord
                            : type == kPie   ? MetafileCanvas::ArcKind::kPie
                                             : MetafileCanvas::ArcKind::kArcTo;
          canvas.Arc(kind, box, start, end);
          break;
        }
        case kSetArcDirection: dc.arcDirection = int(r.U()); break;
        case kBeginPath: canvas.BeginPath(); break;
        case kEndPath: canvas.EndPath(); break;
        case kCloseFigure: canvas.CloseFigure(); break;
        case kFillPath: canvas.FillPath(); break;
        case kStrokeAndFillPath: canvas.StrokeAndFillPath(); break;
        case kStrokePath: canvas.StrokePath(); break;
        case kAbortPath: canvas.AbortPath(); break;
        case kSelectClipPath: canvas.SelectClipPath(int(r.U())); break;
        case kExtSelectClipRgn: {
          const uint32_t length = r.U();
          const int mode = int(r.U());
          if (length == 0)
            canvas.SelectClip(std::nullopt, mode);
          else
            canvas.SelectClip(ReadRegion(r.At(16, length)), mode);
          break;
        }
        case kFillRgn:
        case kPaintRgn: {
          r.Skip(16);
          const uint32_t length = r.U();
          LogBrush brush = dc.brush;
          if (type == kFillRgn) {
            const GdiObject* object = canvas.Object(r.U());
            if (!object || !std::holds_alternative<LogBrush>(*object)) break;
            brush = std::get<LogBrush>(*object);
          }
          canvas.FillRegion(ReadRegion(r.Take(length)), brush);
          break;
        }
        case kBitBlt:
        case kStretchBlt: {
          r.Skip(16);
          const QPointF at = r.Point(), size = r.Point();
          const uint32_t rop = r.U();
          const QPointF src = r.Point();
          r.Skip(24 + 4 + 4);  // source transform, background colour, colour usage
          const uint32_t offBmi = r.U(), cbBmi = r.U(), offBits = r.U(), cbBits = r.U();
          QPointF srcSize = size;
          if (type == kStretchBlt) srcSize = r.Point();
          const QRectF dst(at, QSizeF(size.x(), size.y()));
          Picture bitmap;
          if (ReadBitmap(r, offBmi, cbBmi, offBits, cbBits, bitmap, options))
            canvas.DrawBitmap(bitmap, dst, QRectF(src, QSizeF(srcSize.x(), srcSize.y())), rop);
          else
            canvas.PatBlt(dst, rop);
          break;
        }
        case kStretchDiBits:
        case kSetDiBitsToDevice: {
          r.Skip(16);
          const QPointF at = r.Point(), src = r.Point(), srcSize = r.Point();
          const uint32_t offBmi = r.U(), cbBmi = r.U(), offBits = r.U(), cbBits = r.U();
          r.U();  // colour usage: palette-index tables are read as colours
          uint32_t rop = gdi::kSrcCopy;
          QPointF size = srcSize;
          if (type == kStretchDiBits) {
            rop = r.U();
            size = r.Point();
          }
          Picture bitmap;
          if (!ReadBitmap(r, offBmi, cbBmi, offBits, cbBits, bitmap, options)) {
            canvas.PatBlt(QRectF(at, QSizeF(size.x(), size.y())), rop);
            break;
          }
          QRectF source(src, QSizeF(srcSize.x(), srcSize.y()));
          // A bottom-up bitmap counts its source rows from the bottom.
          if (BottomUp(r, offBmi)) source.moveTop(bitmap.pixels.height - source.bottom());
          canvas.DrawBitmap(bitmap, QRectF(at, QSizeF(size.x(), size.y())), source, rop);
          break;
        }
        case kExtTextOutA:
        case kExtTextOutW: TextRecord(canvas, r, type == kExtTextOutW); break;
        default:
          // Palette, comment, colour-management and other records draw nothing here.
          break;
      }
    }
  }  // the painter ends before the picture leaves
  out = std::move(output.picture);
}

}  // namespace kv::imaging::detail
