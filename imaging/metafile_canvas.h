// The drawing state both metafile players share: a device context in the
// manner of the records (objects, pens, brushes, fonts, mapping, clipping,
// saved states, paths) over a QPainter on the output picture. The WMF and
// EMF players decode records and call it; it keeps nothing beyond one play.
#pragma once

#include <QBrush>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTransform>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "imaging/codec_internal.h"
#include "imaging/metafile.h"

namespace kv::imaging::detail {

// Numeric values as the records store them.
namespace gdi {
enum MapMode : int { kText = 1, kLoMetric = 2, kHiMetric = 3, kLoEnglish = 4, kHiEnglish = 5, kTwips = 6,
                     kIsotropic = 7, kAnisotropic = 8 };
enum BkMode : int { kTransparent = 1, kOpaque = 2 };
enum PolyFill : int { kAlternate = 1, kWinding = 2 };
enum PenStyle : uint32_t { kPenSolid = 0, kPenDash = 1, kPenDot = 2, kPenDashDot = 3, kPenDashDotDot = 4,
                           kPenNull = 5, kPenInsideFrame = 6, kPenStyleMask = 0x0F };
enum BrushStyle : uint32_t { kBrushSolid = 0, kBrushNull = 1, kBrushHatched = 2, kBrushPattern = 3,
                             kBrushDibPattern = 5, kBrushDibPatternPt = 6 };
enum TextAlign : uint32_t { kAlignUpdateCp = 1, kAlignRight = 2, kAlignCenter = 6, kAlignHorizontal = 6,
                            kAlignBottom = 8, kAlignBaseline = 24, kAlignVertical = 24 };
enum TextOptions : uint32_t { kEtoOpaque = 2, kEtoClipped = 4 };
enum RegionMode : int { kRgnAnd = 1, kRgnOr = 2, kRgnXor = 3, kRgnDiff = 4, kRgnCopy = 5 };
enum Rop2 : int { kR2Black = 1, kR2NotCopyPen = 4, kR2Not = 6, kR2XorPen = 7, kR2MaskPen = 9, kR2Nop = 11,
                  kR2CopyPen = 13, kR2MergePen = 15, kR2White = 16 };
inline constexpr uint32_t kSrcCopy = 0x00CC0020;
inline constexpr int kArcCounterClockwise = 1, kArcClockwise = 2;
}  // namespace gdi

struct LogPen {
  uint32_t style = gdi::kPenSolid;
  double width = 0;  // logical units; 0 and 1 are one device pixel
  ColorRef color;
};

struct LogBrush {
  uint32_t style = gdi::kBrushSolid;
  ColorRef color = ColorRef(0xFFFFFF);
  uint32_t hatch = 0;
  QImage pattern;  // pattern brushes
};

struct LogFont {
  int32_t height = 16;  // negative: character height; positive: cell height
  int32_t width = 0;
  int32_t escapement = 0;  // tenths of a degree, counter-clockwise
  int32_t weight = 400;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  uint8_t charset = 0;  // the symbol set's text is in the Symbol font's code points
  std::string face;  // UTF-8
};

// A region object, in the coordinates it was made in.
struct GdiRegion {
  QRegion region;
};

// Palettes and other objects are kept only so that they hold their slot.
using GdiObject = std::variant<std::monostate, LogPen, LogBrush, LogFont, GdiRegion>;

struct DcState {
  LogPen pen;
  LogBrush brush;
  LogFont font;
  ColorRef textColor;
  ColorRef bkColor = ColorRef(0xFFFFFF);
  int bkMode = gdi::kOpaque;
  int polyFillMode = gdi::kAlternate;
  uint32_t textAlign = 0;
  int rop2 = gdi::kR2CopyPen;
  int mapMode = gdi::kText;
  int arcDirection = gdi::kArcCounterClockwise;
  QPointF windowOrg{0, 0};
  QPointF windowExt{1, 1};
  QPointF viewportOrg{0, 0};
  QPointF viewportExt{1, 1};
  QTransform world;
  QPointF position;                 // the current position, logical
  std::optional<QRegion> clip;      // output pixels; none: the whole picture
};

class MetafileCanvas {
 public:
  // Draws onto `image` (Format_RGB32), which it fills with `background` first.
  MetafileCanvas(QImage& image, ColorRef background, size_t objectSlots);

  DcState& Dc() { return dc_; }
  // Reference-device pixels to output pixels.
  void SetFrame(const QTransform& frame) { frame_ = frame; }
  // The reference device's pixels per millimetre, for the metric mapping modes.
  void SetDeviceResolution(double xPerMm, double yPerMm) { pxPerMmX_ = xPerMm, pxPerMmY_ = yPerMm; }
  // Logical to output pixels.
  QTransform Full() const;
  QPointF Device(QPointF logical) const;
  QRectF DeviceRect(const QRectF& logical) const;
  // Logical units in output pixels, horizontally and vertically.
  double ScaleX() const;
  double ScaleY() const;

  // Objects: slot indexes as the records give them.
  size_t FirstFreeSlot() const;
  void Create(size_t slot, GdiObject object);
  void Select(size_t slot);
  void Delete(size_t slot);
  void SelectStock(uint32_t index);

  void SaveDc();
  void RestoreDc(int which);

  // Mapping; an extent of zero is refused, as the system refuses it.
  void SetWindowExt(QPointF ext);
  void SetViewportExt(QPointF ext);

  // Drawing, in logical coordinates. Inside a path bracket the figures are
  // added to the path instead.
  void MoveTo(QPointF p);
  void LineTo(QPointF p);
  void Polyline(std::span<const QPointF> points);
  void PolylineTo(std::span<const QPointF> points);
  void PolyBezier(std::span<const QPointF> points, bool fromCurrent);
  void Polygon(std::span<const QPointF> points) { PolyPolygon({&points, 1}); }
  void PolyPolygon(std::span<const std::span<const QPointF>> polygons);
  void PolyPolyline(std::span<const std::span<const QPointF>> lines);
  void Rectangle(const QRectF& r);
  void RoundRect(const QRectF& r, QPointF corner);
  void Ellipse(const QRectF& r);
  enum class ArcKind { kArc, kChord, kPie, kArcTo };
  void Arc(ArcKind kind, const QRectF& r, QPointF start, QPointF end);
  void SetPixel(QPointF p, ColorRef color);
  // A raster operation without a source: the brush, black, white or inversion.
  void PatBlt(const QRectF& r, uint32_t rop);
  // Draws the `source` part of a bitmap into logical rectangle `r`.
  void DrawBitmap(const Picture& bitmap, const QRectF& r, const QRectF& source, uint32_t rop);
  // A string at `ref` (or at the current position when the alignment says so);
  // `dx`: the logical advance of each character, when given.
  void Text(QPointF ref, const QString& text, uint32_t options, const std::optional<QRectF>& rect,
            std::span<const double> dx);
  void FillRegion(const QRegion& logical, const LogBrush& brush);
  const GdiObject* Object(size_t slot) const;

  // Clipping.
  void IntersectClip(const QRectF& logical);
  void ExcludeClip(const QRectF& logical);
  void OffsetClip(QPointF logical);
  // Combines `deviceRegion` (reference-device pixels) with the clip; none
  // with RGN_COPY removes the clip.
  void SelectClip(const std::optional<QRegion>& deviceRegion, int mode);

  // Paths.
  void BeginPath();
  void EndPath() { pathOpen_ = false; }
  void AbortPath();
  void CloseFigure();
  void FillPath() { DrawPath(true, false); }
  void StrokePath() { DrawPath(false, true); }
  void StrokeAndFillPath() { DrawPath(true, true); }
  void SelectClipPath(int mode);

 private:
  void Draw(const QPainterPath& devicePath, bool fill, bool stroke);
  void DrawPath(bool fill, bool stroke);
  void Emit(const QPainterPath& devicePath, bool fill, bool stroke);
  void Prepare();
  void ApplyRop(int rop2);
  void CombineClip(const QRegion& region, int mode);
  QRectF ShrunkForPen(const QRectF& device) const;
  QPen MakePen() const;
  QBrush MakeBrush(const LogBrush& brush) const;
  QFont MakeFont(double* ascent, double* descent) const;
  QRegion ImageRegion() const { return QRegion(0, 0, image_.width(), image_.height()); }

  QImage& image_;
  QPainter painter_;
  DcState dc_;
  std::vector<DcState> saved_;
  std::vector<std::unique_ptr<GdiObject>> objects_;
  QTransform frame_;
  double pxPerMmX_ = 96 / 25.4;
  double pxPerMmY_ = 96 / 25.4;
  QPainterPath path_;  // device coordinates
  bool pathOpen_ = false;
};

// The union of a region's rectangles; more than kMaxRegionRects are refused,
// since each union costs time in the size of the region so far.
inline constexpr size_t kMaxRegionRects = 4096;
QRegion RegionOf(const std::vector<QRect>& rects);
// A decoded bitmap as a QImage of Format_RGB32.
QImage ToQImage(const PictureView& picture);
// Points of two signed 16-bit coordinates each, x first.
std::vector<QPointF> Points16(std::span<const uint8_t> raw);
// Qt's string of Windows-1252 bytes.
QString FromCp1252(std::span<const uint8_t> bytes);
// Text of `font`: Windows-1252 bytes, or the Symbol font's code points in a
// font of the symbol set (as bytes, or as UTF-16 units 0xF020-0xF0FF or
// 0x20-0xFF when the record is wide).
QString TextOfFont(std::span<const uint8_t> bytes, const LogFont& font);
QString WideTextOfFont(QString text, const LogFont& font);
// The output picture and its QImage over the same memory.
struct OutputPicture {
  Picture picture;
  QImage image;
};
OutputPicture NewOutput(int width, int height, uint64_t maxPixels);

// The players.
void PlayWmf(std::span<const uint8_t> bytes, Picture& out, const MetafileOptions& options);
void PlayEmf(std::span<const uint8_t> bytes, Picture& out, const MetafileOptions& options);
void WmfSize(std::span<const uint8_t> bytes, int& width, int& height);
void EmfSize(std::span<const uint8_t> bytes, int& width, int& height);

}  // namespace kv::imaging::detail
