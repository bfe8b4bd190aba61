#include "inserts/object_fill.h"

#include <QPainterPath>

#include "engine/runner.h"
#include "inserts/stage_host.h"
#include "persist/field_walk.h"
#include "persist/fields.h"
#include "stage/locks.h"
#include "stage/qt_painter.h"

namespace kv {

KV_IMPLEMENT_CLASS(CObjectFill, CGraphic, kVersionable | 0)

void CObjectFill::Reset() {
  CGraphic::Reset();
  const uint32_t keep = fillBackColor;
  FieldTransfer::Reset(*this);
  fillBackColor = keep;
}

namespace {
constexpr ColorField<CObjectFill> kFillColors[] = {
    {Property::kForegroundColor, &CObjectFill::fillColor},
    {Property::kTextColor, &CObjectFill::fillColor},
    {Property::kBackgroundColor, &CObjectFill::fillBackColor},
};
}  // namespace

PropertyAnswer CObjectFill::GetProperty(Property id) const {
  if (auto color = GetColorField(*this, kFillColors, id)) return color;
  return CGraphic::GetProperty(id);
}

bool CObjectFill::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  return SetColorField(*this, kFillColors, id, value) || CGraphic::SetProperty(ctx, id, value);
}

void CObjectFill::CopyFrom(const CInsert& other) {
  CGraphic::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CObjectFill>(other));
}

template <class W>
void CObjectFill::Walk(W& w) {
  w.Base(static_cast<CGraphic&>(*this));
  w("fillStyle", fillStyle);
  w("patternIndex", patternIndex);
  w("fillAux", fillAux);
  w("textureFile", textureFile);
  w("fillColor", fillColor);
  w("fillBackColor", fillBackColor);
}

KV_FIELD_WALK_IO(CObjectFill)

// ---------------------------------------------------------------- drawing

namespace {

// The built-in 8 x 8 patterns, one byte a row, the top bit leftmost; a set
// bit takes fillColor, a clear one fillBackColor.
constexpr uint8_t kPatterns[CObjectFill::kPatternCount][8] = {
    {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55},  // 0 checker (50 %)
    {0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00},  // 1 horizontal lines
    {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88},  // 2 vertical lines
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // 3 diagonal down
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // 4 diagonal up
    {0xFF, 0x88, 0x88, 0x88, 0xFF, 0x88, 0x88, 0x88},  // 5 grid
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // 6 diagonal cross
    {0x88, 0x00, 0x22, 0x00, 0x88, 0x00, 0x22, 0x00},  // 7 dots (12.5 %)
};

QImage PatternImage(int index, QRgb fore, QRgb back) {
  QImage image(8, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) image.setPixel(x, y, (kPatterns[index][y] & (0x80 >> x)) ? fore : back);
  return image;
}

}  // namespace

QRect OutlineRect(const Rect& box) { return QRect(box.left, box.top, box.Width() - 1, box.Height() - 1); }

QBrush CObjectFill::FillBrush(const StageSprite& sprite) const {
  if (IsKeyedAway(sprite, fillColor) || IsKeyedAway(sprite, fillBackColor)) return QBrush(Qt::NoBrush);
  const QColor fore = ToQColor(fillColor);
  if (fillStyle == 1 && patternIndex < kPatternCount)
    return QBrush(PatternImage(patternIndex, fore.rgb(), ToQColor(fillBackColor).rgb()));
  if (fillStyle == 2 && !texture_.isNull()) return QBrush(texture_);
  return QBrush(fore);
}

void CObjectFill::DrawFigure(QPainter& p, const Rect& box) const {
  // The platform fills a rectangle one pixel short on the right and bottom
  // and lays the outline over [left, right) x [top, bottom).
  if (p.brush().style() != Qt::NoBrush && box.Width() > 1 && box.Height() > 1)
    p.fillRect(OutlineRect(box), p.brush());
  if (p.pen().style() == Qt::NoPen) return;
  p.setBrush(Qt::NoBrush);
  p.drawRect(OutlineRect(box));
}

QRegion CObjectFill::FigureRegion(const Rect& box, const QRect& window) const { return QRegion(ToQRect(box)) & window; }

QRegion ClippedRegion(const QPainterPath& path, const QRect& window) {
  QPainterPath inside = path;
  if (!window.contains(path.boundingRect().toAlignedRect())) {
    QPainterPath cut;
    cut.addRect(window);
    inside = path.intersected(cut);
  }
  QRegion region;
  for (const QPolygonF& polygon : inside.toFillPolygons())
    region = region.xored(QRegion(polygon.toPolygon(), inside.fillRule()));
  return region & window;
}

QRect CObjectFill::FigureBounds(const Rect& box) const { return ToQRect(box); }

void CObjectFill::PaintShape(QPainter& p, const StageSprite& sprite, const Rect& areaIn) {
  const Rect area = PaintableRect(areaIn);
  if (area.IsEmpty()) return;
  const QPoint offset = ShadowOffset(area);
  // Everything below is relative to the rectangle's top left corner, so a
  // figure that moves keeps its regions.
  const QPoint corner(area.left, area.top);
  const Rect box = FigureBox(area, offset).Offset(-area.left, -area.top);
  std::string geometry = GeometryKey();
  // Only the part on the painter's device matters, for drawing and for hits:
  // a figure far larger than the stage costs no more than the stage.
  const QRect device = p.device() ? p.transform().inverted().mapRect(QRect(0, 0, p.device()->width(), p.device()->height()))
                                  : ToQRect(area);
  const QRect window = device.translated(-corner).adjusted(-std::max(0, offset.x()), -std::max(0, offset.y()),
                                                           std::max(0, -offset.x()), std::max(0, -offset.y()));
  const bool same = regions_ && regions_->width == area.Width64() && regions_->height == area.Height64() &&
                    regions_->offset == offset && regions_->geometry == geometry;
  // Regions cut by the device's edge are good for that device place alone.
  const auto uncut = [](const RegionCache& r, const QRect& w) { return w.contains(r.bounds); };
  if (!same || (regions_->window != window && !(uncut(*regions_, regions_->window) && uncut(*regions_, window)))) {
    // Regions are dear to build; a figure that keeps its size keeps them.
    auto fresh = std::make_unique<RegionCache>();
    fresh->width = area.Width64();
    fresh->height = area.Height64();
    fresh->offset = offset;
    fresh->window = window;
    fresh->geometry = std::move(geometry);
    if (!box.IsEmpty()) {
      const QRect figure = FigureBounds(box);
      fresh->bounds = figure.united(figure.translated(offset));
      fresh->shape = FigureRegion(box, window);
    }
    fresh->shadow = offset.isNull() || fresh->shape.isEmpty() ? fresh->shape : SweepRegion(fresh->shape, offset);
    regions_ = std::move(fresh);
  }
  const bool shadow = HasShadow(sprite, area) && !regions_->shape.isEmpty();
  p.save();
  p.translate(corner);
  if (shadow) {
    const QColor shade = ToQColor(shadowColor);
    for (const QRect& r : regions_->shadow) p.fillRect(r, shade);
  }
  hitRegion_ = shadow ? regions_->shadow : regions_->shape;
  hasHitRegion_ = true;
  if (!box.IsEmpty()) {
    p.setBackgroundMode(Qt::TransparentMode);
    // Patterns stay attached to the object when it moves.
    p.setBrushOrigin(0, 0);
    p.setPen(OutlinePen(sprite));
    p.setBrush(FillBrush(sprite));
    DrawFigure(p, box);
  }
  p.restore();
}

void CObjectFill::PaintSprite(PlayContext*, StageSprite& sprite, DrawTarget& target, const Rect& clip) {
  TargetPainter painter(target, clip);
  PaintShape(painter.painter(), sprite, sprite.DisplayedRect());
}

bool CObjectFill::HitsAt(const StageSprite& sprite, int x, int y) const {
  if (!hasHitRegion_) return true;
  const Rect d = sprite.DisplayedRect();
  return hitRegion_.contains(QPoint(x - d.left, y - d.top));
}

bool CObjectFill::PaintsAll(const StageSprite& sprite) const {
  // Only a figure that fills its rectangle, with nothing keyed away, no
  // shadow room and a solid outline (which covers the fill's short edges).
  if (!FigureFillsBox() || HasShadow(sprite, sprite.DisplayedRect())) return false;
  if (shadowX != 0 || shadowY != 0) return false;
  if (FillBrush(sprite).style() == Qt::NoBrush) return false;
  const QPen pen = OutlinePen(sprite);
  return pen.style() == Qt::SolidLine;
}

void CObjectFill::SetTexture(QImage texture) {
  std::lock_guard lock(StageLock());
  texture_ = std::move(texture);
}

std::unique_ptr<StageSprite> CObjectFill::MakeSprite(Stage& stage) {
  QImage texture;
  if (fillStyle == 2 && !textureFile.empty()) {
    // A texture that cannot be read leaves the solid fill.
    StageSprite picture(stage.compositor().Format());
    const std::string file = stage.runner().ExpandNames(textureFile);
    if (!file.empty() && LoadPictureSprite(stage, *this, file, picture) == 0)
      texture = WrapForPainting(picture.MutablePicture()).copy();
  }
  SetTexture(std::move(texture));
  return MakePaintedSprite(*this, *this, stage);
}

}  // namespace kv
