#include "imaging/metafile_canvas.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>

#include "platform/symbol_text.h"
#include "platform/text.h"

namespace kv::imaging::detail {

namespace {

// Hostile coordinates are held to this many pixels either side of the
// picture's origin, far beyond any picture, so Qt's rasteriser never sees
// values it cannot represent.
constexpr double kCoordLimit = 1 << 22;
// SaveDC without RestoreDC would otherwise grow without end.
constexpr size_t kMaxSavedStates = 4096;
// Object slots are 16-bit in WMF; EMF tables may claim more than any file uses.
constexpr size_t kMaxObjectSlots = 65536;
// Glyphs larger than this cost much and show nothing more of a picture.
constexpr double kMaxFontPixels = 2048;

QColor ToQColor(ColorRef c) { return QColor(c.Red(), c.Green(), c.Blue()); }

double Clamp(double v) {
  if (!std::isfinite(v)) return 0;
  return std::clamp(v, -kCoordLimit, kCoordLimit);
}

QPointF Map(const QTransform& t, QPointF p) {
  const QPointF d = t.map(p);
  return {Clamp(d.x()), Clamp(d.y())};
}

// Shapes bounded by a rectangle exclude its right and bottom edge: the
// outline runs on the last pixels inside it.
QRectF Inner(const QRectF& d) { return QRectF(d.left(), d.top(), std::max(0.0, d.width() - 1), std::max(0.0, d.height() - 1)); }

// Whole pixels of a rectangle held within the coordinate limit.
QRect ToPixels(const QRectF& r) {
  const QRectF n = r.normalized();
  const int l = int(std::lround(Clamp(n.left()))), t = int(std::lround(Clamp(n.top())));
  const int rr = int(std::lround(Clamp(n.right()))), b = int(std::lround(Clamp(n.bottom())));
  return QRect(l, t, rr - l, b - t);
}

QPainter::CompositionMode ModeForRop2(int rop2) {
  switch (rop2) {
    case gdi::kR2XorPen: return QPainter::RasterOp_SourceXorDestination;
    case gdi::kR2Not: return QPainter::RasterOp_NotDestination;
    case gdi::kR2MaskPen: return QPainter::RasterOp_SourceAndDestination;
    case gdi::kR2MergePen: return QPainter::RasterOp_SourceOrDestination;
    case gdi::kR2NotCopyPen: return QPainter::RasterOp_NotSource;
    default: return QPainter::CompositionMode_SourceOver;
  }
}

// Ternary raster operations that use the source, as composition modes.
std::optional<QPainter::CompositionMode> ModeForSourceRop(uint32_t rop) {
  switch (rop) {
    case gdi::kSrcCopy: return QPainter::CompositionMode_SourceOver;
    case 0x00EE0086: return QPainter::RasterOp_SourceOrDestination;          // SRCPAINT
    case 0x008800C6: return QPainter::RasterOp_SourceAndDestination;         // SRCAND
    case 0x00660046: return QPainter::RasterOp_SourceXorDestination;         // SRCINVERT
    case 0x00330008: return QPainter::RasterOp_NotSource;                    // NOTSRCCOPY
    case 0x00440328: return QPainter::RasterOp_SourceAndNotDestination;      // SRCERASE
    case 0x001100A6: return QPainter::RasterOp_NotSourceAndNotDestination;   // NOTSRCERASE
    case 0x00BB0226: return QPainter::RasterOp_NotSourceOrDestination;       // MERGEPAINT
    default: return std::nullopt;
  }
}

QString FamilyFor(const std::string& face) {
  const std::string upper = ToUpper1252(face);
  if (upper.empty() || upper == "ARIAL" || upper == "HELVETICA" || upper == "MS SANS SERIF" || upper == "SYSTEM" ||
      upper == "MS SHELL DLG" || upper == "TAHOMA" || upper == "VERDANA")
    return QStringLiteral("Liberation Sans");
  if (upper == "TIMES NEW ROMAN" || upper == "TIMES" || upper == "MS SERIF")
    return QStringLiteral("Liberation Serif");
  if (upper == "COURIER NEW" || upper == "COURIER" || upper == "FIXEDSYS" || upper == "TERMINAL")
    return QStringLiteral("Liberation Mono");
  return QString::fromStdString(face);
}

}  // namespace

QImage ToQImage(const PictureView& pic) {
  QImage image(pic.width, pic.height, QImage::Format_RGB32);
  std::vector<uint8_t> rgb(size_t(pic.width) * 3);
  for (int y = 0; y < pic.height; ++y) {
    RowToRgb(pic, y, rgb.data());
    auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < pic.width; ++x) row[x] = qRgb(rgb[3 * x], rgb[3 * x + 1], rgb[3 * x + 2]);
  }
  return image;
}

QRegion RegionOf(const std::vector<QRect>& rects) {
  if (rects.size() > kMaxRegionRects) Fail(PicError::kTooLarge, "a region has too many rectangles");
  QRegion region;
  for (const QRect& r : rects)
    if (!r.isEmpty()) region += r;
  return region;
}

std::vector<QPointF> Points16(std::span<const uint8_t> raw) {
  std::vector<QPointF> points(raw.size() / 4);
  for (size_t i = 0; i < points.size(); ++i)
    points[i] = QPointF(int16_t(raw[4 * i] | raw[4 * i + 1] << 8), int16_t(raw[4 * i + 2] | raw[4 * i + 3] << 8));
  return points;
}

QString FromCp1252(std::span<const uint8_t> bytes) {
  QString s;
  s.reserve(qsizetype(bytes.size()));
  for (uint8_t b : bytes) s.append(QChar(char16_t(Cp1252ToUnicode(b))));
  return s;
}

QString TextOfFont(std::span<const uint8_t> bytes, const LogFont& font) {
  if (font.charset != kSymbolCharset) return FromCp1252(bytes);
  QString s;
  s.reserve(qsizetype(bytes.size()));
  for (uint8_t b : bytes) s.append(QChar(char16_t(SymbolToUnicode(b))));
  return s;
}

QString WideTextOfFont(QString text, const LogFont& font) {
  if (font.charset != kSymbolCharset) return text;
  for (QChar& c : text) {
    const char16_t u = c.unicode();
    if ((u >= 0x20 && u <= 0xFF) || (u >= 0xF020 && u <= 0xF0FF)) c = QChar(char16_t(SymbolToUnicode(uint8_t(u & 0xFF))));
  }
  return text;
}

OutputPicture NewOutput(int width, int height, uint64_t maxPixels) {
  OutputPicture out;
  out.picture.pixels = NewPicture(width, height, 32, maxPixels);
  out.picture.fileBits = 32;
  DecodedPicture& p = out.picture.pixels;
  out.image = QImage(p.bits.data(), p.width, p.height, qsizetype(p.stride), QImage::Format_RGB32);
  return out;
}

MetafileCanvas::MetafileCanvas(QImage& image, ColorRef background, size_t objectSlots)
    : image_(image), objects_(std::min(objectSlots, kMaxObjectSlots)) {
  image_.fill(ToQColor(background));
  painter_.begin(&image_);
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setRenderHint(QPainter::TextAntialiasing, false);
  painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
}

// ---------------------------------------------------------------- mapping

QTransform MetafileCanvas::Full() const {
  double sx = 1, sy = 1;
  switch (dc_.mapMode) {
    case gdi::kLoMetric: sx = pxPerMmX_ * 0.1, sy = -pxPerMmY_ * 0.1; break;
    case gdi::kHiMetric: sx = pxPerMmX_ * 0.01, sy = -pxPerMmY_ * 0.01; break;
    case gdi::kLoEnglish: sx = pxPerMmX_ * 0.254, sy = -pxPerMmY_ * 0.254; break;
    case gdi::kHiEnglish: sx = pxPerMmX_ * 0.0254, sy = -pxPerMmY_ * 0.0254; break;
    case gdi::kTwips: sx = pxPerMmX_ * 25.4 / 1440, sy = -pxPerMmY_ * 25.4 / 1440; break;
    case gdi::kIsotropic:
    case gdi::kAnisotropic: {
      sx = dc_.viewportExt.x() / dc_.windowExt.x();
      sy = dc_.viewportExt.y() / dc_.windowExt.y();
      if (dc_.mapMode == gdi::kIsotropic) {
        const double m = std::min(std::abs(sx), std::abs(sy));
        sx = std::copysign(m, sx);
        sy = std::copysign(m, sy);
      }
      break;
    }
    default: break;
  }
  const QTransform page(sx, 0, 0, sy, dc_.viewportOrg.x() - dc_.windowOrg.x() * sx,
                        dc_.viewportOrg.y() - dc_.windowOrg.y() * sy);
  return dc_.world * page * frame_;
}

QPointF MetafileCanvas::Device(QPointF logical) const { return Map(Full(), logical); }

QRectF MetafileCanvas::DeviceRect(const QRectF& logical) const {
  const QTransform t = Full();
  return QRectF(Map(t, logical.topLeft()), Map(t, logical.bottomRight()));
}

double MetafileCanvas::ScaleX() const {
  const QTransform t = Full();
  return std::hypot(t.m11(), t.m12());
}

double MetafileCanvas::ScaleY() const {
  const QTransform t = Full();
  return std::hypot(t.m21(), t.m22());
}

void MetafileCanvas::SetWindowExt(QPointF ext) {
  if (ext.x() != 0 && ext.y() != 0) dc_.windowExt = ext;
}

void MetafileCanvas::SetViewportExt(QPointF ext) {
  if (ext.x() != 0 && ext.y() != 0) dc_.viewportExt = ext;
}

// ---------------------------------------------------------------- objects

size_t MetafileCanvas::FirstFreeSlot() const {
  for (size_t i = 0; i < objects_.size(); ++i)
    if (!objects_[i]) return i;
  return objects_.size();
}

void MetafileCanvas::Create(size_t slot, GdiObject object) {
  // Writers often count their objects short; the table grows to the format's limit.
  if (slot >= kMaxObjectSlots) return;
  if (slot >= objects_.size()) objects_.resize(slot + 1);
  objects_[slot] = std::make_unique<GdiObject>(std::move(object));
}

const GdiObject* MetafileCanvas::Object(size_t slot) const {
  return slot < objects_.size() ? objects_[slot].get() : nullptr;
}

void MetafileCanvas::Select(size_t slot) {
  const GdiObject* object = Object(slot);
  if (!object) return;  // an empty slot: the system ignores the selection too
  if (const auto* pen = std::get_if<LogPen>(object)) dc_.pen = *pen;
  if (const auto* brush = std::get_if<LogBrush>(object)) dc_.brush = *brush;
  if (const auto* font = std::get_if<LogFont>(object)) dc_.font = *font;
  if (const auto* region = std::get_if<GdiRegion>(object)) SelectClip(region->region, gdi::kRgnCopy);
}

void MetafileCanvas::Delete(size_t slot) {
  // Selected objects are held by value, so deleting one leaves the drawing state intact.
  if (slot < objects_.size()) objects_[slot].reset();
}

void MetafileCanvas::SelectStock(uint32_t index) {
  auto solid = [](uint32_t rgb) { return LogBrush{gdi::kBrushSolid, ColorRef(rgb), 0, {}}; };
  switch (index) {
    case 0: dc_.brush = solid(0xFFFFFF); break;
    case 1: dc_.brush = solid(0xC0C0C0); break;
    case 2: dc_.brush = solid(0x808080); break;
    case 3: dc_.brush = solid(0x404040); break;
    case 4: dc_.brush = solid(0x000000); break;
    case 5: dc_.brush = LogBrush{gdi::kBrushNull, {}, 0, {}}; break;
    case 6: dc_.pen = LogPen{gdi::kPenSolid, 0, ColorRef(0xFFFFFF)}; break;
    case 7: dc_.pen = LogPen{gdi::kPenSolid, 0, ColorRef(0)}; break;
    case 8: dc_.pen = LogPen{gdi::kPenNull, 0, ColorRef(0)}; break;
    case 10: case 11: case 12: case 13: case 14: case 16: case 17: dc_.font = LogFont{}; break;
    default: break;  // palettes and the DC pen and brush change nothing drawn here
  }
}

void MetafileCanvas::SaveDc() {
  if (saved_.size() >= kMaxSavedStates) Fail(PicError::kTooLarge, "the metafile saves too many drawing states");
  saved_.push_back(dc_);
}

void MetafileCanvas::RestoreDc(int which) {
  const int64_t count = int64_t(saved_.size());
  const int64_t index = which < 0 ? count + which : int64_t(which) - 1;
  if (index < 0 || index >= count) return;  // the system refuses such a restore
  dc_ = saved_[size_t(index)];
  saved_.resize(size_t(index));
}

// ---------------------------------------------------------------- drawing

QPen MetafileCanvas::MakePen() const {
  const LogPen& p = dc_.pen;
  const uint32_t style = p.style & gdi::kPenStyleMask;
  if (style == gdi::kPenNull) return Qt::NoPen;
  const double width = p.width * (ScaleX() + ScaleY()) / 2;
  QColor color = ToQColor(p.color);
  if (dc_.rop2 == gdi::kR2Black) color = Qt::black;
  if (dc_.rop2 == gdi::kR2White) color = Qt::white;
  QPen pen(color);
  // Widths up to one pixel are the one-pixel cosmetic pen; only it is styled.
  if (width <= 1.5) {
    pen.setWidth(0);
    switch (style) {
      case gdi::kPenDash: pen.setStyle(Qt::DashLine); break;
      case gdi::kPenDot: pen.setStyle(Qt::DotLine); break;
      case gdi::kPenDashDot: pen.setStyle(Qt::DashDotLine); break;
      case gdi::kPenDashDotDot: pen.setStyle(Qt::DashDotDotLine); break;
      default: break;
    }
  } else {
    pen.setWidthF(std::min(width, double(image_.width() + image_.height()) * 2));
    const uint32_t cap = p.style & 0x0F00, join = p.style & 0xF000;
    pen.setCapStyle(cap == 0x100 ? Qt::SquareCap : cap == 0x200 ? Qt::FlatCap : Qt::RoundCap);
    pen.setJoinStyle(join == 0x1000 ? Qt::BevelJoin : join == 0x2000 ? Qt::MiterJoin : Qt::RoundJoin);
  }
  return pen;
}

QBrush MetafileCanvas::MakeBrush(const LogBrush& b) const {
  QColor color = ToQColor(b.color);
  if (dc_.rop2 == gdi::kR2Black) color = Qt::black;
  if (dc_.rop2 == gdi::kR2White) color = Qt::white;
  switch (b.style) {
    case gdi::kBrushSolid: return QBrush(color);
    case gdi::kBrushHatched: {
      static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                    Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
      return QBrush(color, b.hatch < 6 ? kHatches[b.hatch] : Qt::SolidPattern);
    }
    case gdi::kBrushPattern:
    case gdi::kBrushDibPattern:
    case gdi::kBrushDibPatternPt:
      if (!b.pattern.isNull()) return QBrush(b.pattern);
      return QBrush(color);
    default: return Qt::NoBrush;
  }
}

void MetafileCanvas::Prepare() {
  if (dc_.clip)
    painter_.setClipRegion(*dc_.clip);
  else
    painter_.setClipping(false);
  painter_.setCompositionMode(ModeForRop2(dc_.rop2));
}

void MetafileCanvas::Draw(const QPainterPath& devicePath, bool fill, bool stroke) {
  if (dc_.rop2 == gdi::kR2Nop) return;
  Prepare();
  QPainterPath shape = devicePath;
  shape.setFillRule(dc_.polyFillMode == gdi::kWinding ? Qt::WindingFill : Qt::OddEvenFill);
  if (fill && dc_.brush.style != gdi::kBrushNull) {
    if (dc_.brush.style == gdi::kBrushHatched && dc_.bkMode == gdi::kOpaque)
      painter_.fillPath(shape, ToQColor(dc_.bkColor));
    painter_.fillPath(shape, MakeBrush(dc_.brush));
  }
  if (stroke) {
    const QPen pen = MakePen();
    if (pen.style() != Qt::NoPen) painter_.strokePath(shape, pen);
  }
}

void MetafileCanvas::Emit(const QPainterPath& devicePath, bool fill, bool stroke) {
  if (pathOpen_)
    path_.addPath(devicePath);
  else
    Draw(devicePath, fill, stroke);
}

void MetafileCanvas::MoveTo(QPointF p) {
  dc_.position = p;
  if (pathOpen_) path_.moveTo(Device(p));
}

void MetafileCanvas::LineTo(QPointF p) {
  const QPointF from = Device(dc_.position), to = Device(p);
  dc_.position = p;
  if (pathOpen_) {
    if (path_.elementCount() == 0) path_.moveTo(from);
    path_.lineTo(to);
    return;
  }
  QPainterPath line(from);
  line.lineTo(to);
  Draw(line, false, true);
}

void MetafileCanvas::Polyline(std::span<const QPointF> points) {
  if (points.size() < 2) return;
  const QTransform t = Full();
  QPainterPath line(Map(t, points[0]));
  for (size_t i = 1; i < points.size(); ++i) line.lineTo(Map(t, points[i]));
  Emit(line, false, true);
}

void MetafileCanvas::PolylineTo(std::span<const QPointF> points) {
  if (points.empty()) return;
  const QTransform t = Full();
  if (pathOpen_) {
    if (path_.elementCount() == 0) path_.moveTo(Map(t, dc_.position));
    for (QPointF p : points) path_.lineTo(Map(t, p));
  } else {
    QPainterPath line(Map(t, dc_.position));
    for (QPointF p : points) line.lineTo(Map(t, p));
    Draw(line, false, true);
  }
  dc_.position = points.back();
}

void MetafileCanvas::PolyBezier(std::span<const QPointF> points, bool fromCurrent) {
  const QTransform t = Full();
  size_t i = 0;
  QPointF start;
  if (fromCurrent) {
    start = dc_.position;
  } else {
    if (points.empty()) return;
    start = points[0];
    i = 1;
  }
  QPainterPath curve(Map(t, start));
  for (; i + 3 <= points.size(); i += 3) {
    curve.cubicTo(Map(t, points[i]), Map(t, points[i + 1]), Map(t, points[i + 2]));
    if (fromCurrent) dc_.position = points[i + 2];
  }
  if (pathOpen_ && fromCurrent) {
    if (path_.elementCount() == 0) path_.moveTo(Map(t, start));
    path_.connectPath(curve);
  } else {
    Emit(curve, false, true);
  }
}

void MetafileCanvas::PolyPolygon(std::span<const std::span<const QPointF>> polygons) {
  const QTransform t = Full();
  QPainterPath shape;
  for (const auto& polygon : polygons) {
    if (polygon.size() < 2) continue;
    shape.moveTo(Map(t, polygon[0]));
    for (size_t i = 1; i < polygon.size(); ++i) shape.lineTo(Map(t, polygon[i]));
    shape.closeSubpath();
  }
  Emit(shape, true, true);
}

void MetafileCanvas::PolyPolyline(std::span<const std::span<const QPointF>> lines) {
  const QTransform t = Full();
  QPainterPath shape;
  for (const auto& line : lines) {
    if (line.size() < 2) continue;
    shape.moveTo(Map(t, line[0]));
    for (size_t i = 1; i < line.size(); ++i) shape.lineTo(Map(t, line[i]));
  }
  Emit(shape, false, true);
}

void MetafileCanvas::Rectangle(const QRectF& r) {
  const QRectF d = DeviceRect(r).normalized();
  if (pathOpen_) {
    QPainterPath shape;
    shape.addRect(d);
    path_.addPath(shape);
    return;
  }
  QPainterPath inside, outline;
  inside.addRect(d);
  outline.addRect(Inner(d));
  Draw(inside, true, false);
  Draw(outline, false, true);
}

void MetafileCanvas::RoundRect(const QRectF& r, QPointF corner) {
  const QRectF d = Inner(DeviceRect(r).normalized());
  const double cx = std::min(std::abs(corner.x() * ScaleX()) / 2, d.width() / 2);
  const double cy = std::min(std::abs(corner.y() * ScaleY()) / 2, d.height() / 2);
  QPainterPath shape;
  shape.addRoundedRect(d, cx, cy);
  Emit(shape, true, true);
}

void MetafileCanvas::Ellipse(const QRectF& r) {
  QPainterPath shape;
  shape.addEllipse(Inner(DeviceRect(r).normalized()));
  Emit(shape, true, true);
}

void MetafileCanvas::Arc(ArcKind kind, const QRectF& r, QPointF start, QPointF end) {
  const QRectF d = Inner(DeviceRect(r).normalized());
  const double rx = d.width() / 2, ry = d.height() / 2;
  if (rx <= 0 || ry <= 0) return;
  const QPointF c = d.center(), s = Device(start), e = Device(end);
  // The angle on the ellipse where the radial towards each point meets it.
  auto angle = [&](QPointF p) { return std::atan2(-(p.y() - c.y()) / ry, (p.x() - c.x()) / rx) * 180 / M_PI; };
  const double a0 = angle(s);
  double sweep = angle(e) - a0;
  // Counter-clockwise in logical space; a mapping that flips an axis turns it round on the picture.
  bool counterClockwise = dc_.arcDirection != gdi::kArcClockwise;
  if (Full().determinant() < 0) counterClockwise = !counterClockwise;
  if (counterClockwise) {
    while (sweep <= 0) sweep += 360;
  } else {
    while (sweep >= 0) sweep -= 360;
  }
  QPainterPath shape;
  switch (kind) {
    case ArcKind::kArc:
      shape.arcMoveTo(d, a0);
      shape.arcTo(d, a0, sweep);
      Emit(shape, false, true);
      return;
    case ArcKind::kArcTo: {
      shape.moveTo(Device(dc_.position));
      QPointF arcStart;
      {
        QPainterPath probe;
        probe.arcMoveTo(d, a0);
        arcStart = probe.currentPosition();
      }
      shape.lineTo(arcStart);
      shape.arcTo(d, a0, sweep);
      dc_.position = Full().inverted().map(shape.currentPosition());
      if (pathOpen_) {
        path_.connectPath(shape);
      } else {
        Draw(shape, false, true);
      }
      return;
    }
    case ArcKind::kChord:
      shape.arcMoveTo(d, a0);
      shape.arcTo(d, a0, sweep);
      shape.closeSubpath();
      break;
    case ArcKind::kPie:
      shape.moveTo(c);
      shape.arcTo(d, a0, sweep);
      shape.closeSubpath();
      break;
  }
  Emit(shape, true, true);
}

void MetafileCanvas::SetPixel(QPointF p, ColorRef color) {
  Prepare();
  painter_.setCompositionMode(QPainter::CompositionMode_Source);
  const QPointF d = Device(p);
  painter_.fillRect(QRectF(std::floor(d.x()), std::floor(d.y()), 1, 1), ToQColor(color));
}

void MetafileCanvas::PatBlt(const QRectF& r, uint32_t rop) {
  Prepare();
  const QRect d = ToPixels(DeviceRect(r));
  switch (rop) {
    case 0x00F00021:  // PATCOPY
      painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
      if (dc_.brush.style != gdi::kBrushNull) painter_.fillRect(d, MakeBrush(dc_.brush));
      break;
    case 0x005A0049:  // PATINVERT
      painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
      if (dc_.brush.style != gdi::kBrushNull) painter_.fillRect(d, MakeBrush(dc_.brush));
      break;
    case 0x00550009:  // DSTINVERT
      painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
      painter_.fillRect(d, Qt::black);
      break;
    case 0x00000042:  // BLACKNESS
      painter_.setCompositionMode(QPainter::CompositionMode_Source);
      painter_.fillRect(d, Qt::black);
      break;
    case 0x00FF0062:  // WHITENESS
      painter_.setCompositionMode(QPainter::CompositionMode_Source);
      painter_.fillRect(d, Qt::white);
      break;
    default: break;  // other operations without a source are not drawn
  }
}

void MetafileCanvas::DrawBitmap(const Picture& bitmap, const QRectF& r, const QRectF& source, uint32_t rop) {
  const auto mode = ModeForSourceRop(rop);
  if (!mode) {
    PatBlt(r, rop);  // an operation that ignores the source
    return;
  }
  const QTransform t = Full();
  const QPointF a = Map(t, r.topLeft()), b = Map(t, r.bottomRight());
  QImage image = ToQImage(bitmap.pixels.View());
  // A negative extent mirrors the bitmap.
  if (b.x() < a.x() || b.y() < a.y()) image = image.mirrored(b.x() < a.x(), b.y() < a.y());
  QRectF src = source;
  if (b.x() < a.x()) src.moveLeft(image.width() - src.right());
  if (b.y() < a.y()) src.moveTop(image.height() - src.bottom());
  Prepare();
  painter_.setCompositionMode(*mode);
  painter_.drawImage(QRectF(a, b).normalized(), image, src);
}

QFont MetafileCanvas::MakeFont(double* ascent, double* descent) const {
  if (!QGuiApplication::instance()) Fail(PicError::kUnsupported, "text in a metafile needs a QGuiApplication");
  const LogFont& f = dc_.font;
  QFont font;
  // The Symbol font's stand-in (fonts-urw-base35) has the characters the
  // symbol set's text was mapped to.
  font.setFamilies({f.charset == kSymbolCharset ? QString::fromLatin1(kSymbolFontFamily) : FamilyFor(f.face),
                    QStringLiteral("Liberation Sans")});
  font.setStyleStrategy(QFont::NoAntialias);
  font.setWeight(QFont::Weight(std::clamp(f.weight == 0 ? 400 : f.weight, 1, 1000)));
  font.setItalic(f.italic);
  font.setUnderline(f.underline);
  font.setStrikeOut(f.strikeOut);
  double pixels = std::abs(double(f.height == 0 ? 12 : f.height)) * ScaleY();
  pixels = std::clamp(pixels, 1.0, kMaxFontPixels);
  font.setPixelSize(std::max(1, int(std::lround(pixels))));
  if (f.height > 0) {
    // A positive height is the cell, ascent and descent together.
    const QFontMetricsF cell(font);
    const double full = cell.ascent() + cell.descent();
    if (full > 0) font.setPixelSize(std::max(1, int(std::lround(std::clamp(pixels * pixels / full, 1.0, kMaxFontPixels)))));
  }
  const QFontMetricsF metrics(font);
  *ascent = metrics.ascent();
  *descent = metrics.descent();
  return font;
}

void MetafileCanvas::Text(QPointF ref, const QString& text, uint32_t options, const std::optional<QRectF>& rect,
                          std::span<const double> dx) {
  if (dc_.textAlign & gdi::kAlignUpdateCp) ref = dc_.position;
  Prepare();
  painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (rect && (options & gdi::kEtoOpaque)) painter_.fillRect(ToPixels(DeviceRect(*rect)), ToQColor(dc_.bkColor));
  if (text.isEmpty()) return;
  double ascent = 0, descent = 0;
  const QFont font = MakeFont(&ascent, &descent);
  const QFontMetricsF metrics(font);
  double width = 0;
  std::vector<double> advances;
  if (!dx.empty()) {
    for (double d : dx) advances.push_back(d * ScaleX());
    for (double a : advances) width += a;
  } else {
    width = metrics.horizontalAdvance(text);
  }
  double x = 0, y = 0;
  switch (dc_.textAlign & gdi::kAlignHorizontal) {
    case gdi::kAlignRight: x = -width; break;
    case gdi::kAlignCenter: x = -width / 2; break;
    default: break;
  }
  switch (dc_.textAlign & gdi::kAlignVertical) {
    case gdi::kAlignBaseline: break;
    case gdi::kAlignBottom: y = -descent; break;
    default: y = ascent; break;
  }
  painter_.save();
  if (rect && (options & gdi::kEtoClipped)) painter_.setClipRect(ToPixels(DeviceRect(*rect)), Qt::IntersectClip);
  painter_.translate(Device(ref));
  painter_.rotate(-dc_.font.escapement / 10.0);
  if (dc_.bkMode == gdi::kOpaque && !(rect && (options & gdi::kEtoOpaque)))
    painter_.fillRect(QRectF(x, y - ascent, width, ascent + descent), ToQColor(dc_.bkColor));
  painter_.setFont(font);
  painter_.setPen(ToQColor(dc_.textColor));
  if (advances.empty()) {
    painter_.drawText(QPointF(x, y), text);
  } else {
    double at = x;
    for (qsizetype i = 0; i < text.size(); ++i) {
      painter_.drawText(QPointF(at, y), QString(text[i]));
      if (size_t(i) < advances.size()) at += advances[size_t(i)];
    }
  }
  painter_.restore();
  if (dc_.textAlign & gdi::kAlignUpdateCp) dc_.position.rx() += width / std::max(ScaleX(), 1e-9);
}

void MetafileCanvas::FillRegion(const QRegion& logical, const LogBrush& brush) {
  if (brush.style == gdi::kBrushNull) return;
  Prepare();
  const QBrush b = MakeBrush(brush);
  for (const QRect& r : logical) painter_.fillRect(ToPixels(DeviceRect(QRectF(r))), b);
}

// ---------------------------------------------------------------- clipping

void MetafileCanvas::CombineClip(const QRegion& region, int mode) {
  const QRegion base = dc_.clip ? *dc_.clip : ImageRegion();
  switch (mode) {
    case gdi::kRgnAnd: dc_.clip = base & region; break;
    case gdi::kRgnOr: dc_.clip = base | region; break;
    case gdi::kRgnXor: dc_.clip = base ^ region; break;
    case gdi::kRgnDiff: dc_.clip = base - region; break;
    case gdi::kRgnCopy: dc_.clip = region & ImageRegion(); break;
    default: break;
  }
}

void MetafileCanvas::IntersectClip(const QRectF& logical) { CombineClip(ToPixels(DeviceRect(logical)), gdi::kRgnAnd); }

void MetafileCanvas::ExcludeClip(const QRectF& logical) { CombineClip(ToPixels(DeviceRect(logical)), gdi::kRgnDiff); }

void MetafileCanvas::OffsetClip(QPointF logical) {
  if (!dc_.clip) return;
  const QTransform t = Full();
  const QPointF d = Map(t, logical) - Map(t, QPointF(0, 0));
  dc_.clip->translate(int(std::lround(d.x())), int(std::lround(d.y())));
  // Repeated offsets must not carry the region past what an int holds.
  const int limit = int(kCoordLimit);
  *dc_.clip &= QRect(-limit, -limit, 2 * limit, 2 * limit);
}

void MetafileCanvas::SelectClip(const std::optional<QRegion>& deviceRegion, int mode) {
  if (!deviceRegion) {
    if (mode == gdi::kRgnCopy) dc_.clip.reset();
    return;
  }
  QRegion mapped;
  for (const QRect& r : *deviceRegion) mapped += ToPixels(frame_.mapRect(QRectF(r)));
  CombineClip(mapped, mode);
}

// ---------------------------------------------------------------- paths

void MetafileCanvas::BeginPath() {
  path_ = QPainterPath();
  pathOpen_ = true;
}

void MetafileCanvas::AbortPath() {
  path_ = QPainterPath();
  pathOpen_ = false;
}

void MetafileCanvas::CloseFigure() {
  if (pathOpen_) path_.closeSubpath();
}

void MetafileCanvas::DrawPath(bool fill, bool stroke) {
  pathOpen_ = false;
  Draw(path_, fill, stroke);
  path_ = QPainterPath();
}

void MetafileCanvas::SelectClipPath(int mode) {
  pathOpen_ = false;
  QPainterPath shape = path_;
  shape.setFillRule(dc_.polyFillMode == gdi::kWinding ? Qt::WindingFill : Qt::OddEvenFill);
  // Qt's polygon regions fail (empty, and leaking) on coordinates far off
  // the picture, so the path is cut to the picture first.
  QPainterPath picture;
  picture.addRect(QRectF(-1, -1, image_.width() + 2, image_.height() + 2));
  shape = shape.intersected(picture);
  QRegion region;
  for (const QPolygonF& polygon : shape.toFillPolygons())
    region = region.united(QRegion(polygon.toPolygon(), shape.fillRule()));
  path_ = QPainterPath();
  CombineClip(region, mode);
}

}  // namespace kv::imaging::detail
