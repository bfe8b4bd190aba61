#include "inserts/hotspot.h"

#include <QPainter>
#include <algorithm>

#include "engine/events.h"
#include "inserts/stage_host.h"
#include "persist/field_walk.h"
#include "persist/fields.h"
#include "stage/locks.h"

namespace kv {

KV_IMPLEMENT_CLASS(CHotSpot, CVisibleInsert, 0)

void CHotSpot::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CHotSpot::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CHotSpot>(other));
}

template <class W>
void CHotSpot::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("hotVersion", hotVersion, 1, 1, "CHotSpot");
  w("outlineShape", outlineShape);
  w("fillMode", fillMode);
  w("hotAux", hotAux);
  w.Records("outline", nullptr, outline, CountForm::kU32, 8, [&w](OutlinePoint& p) {
    w("x", p.x);
    w("y", p.y);
  });
}

KV_FIELD_WALK_IO(CHotSpot)

// ---------------------------------------------------------------- on the stage

namespace {

inline constexpr int kHotkeyDown = 1;
inline constexpr int kHotkeyUp = 3;
inline constexpr uint32_t kWinding = 2;

}  // namespace

QImage CHotSpot::RenderMask(const Rect& limit, Point* origin) const {
  if (outline.size() < 2) return {};
  int64_t left = outline[0].x, top = outline[0].y, right = left, bottom = top;
  for (const OutlinePoint& pt : outline) {
    left = std::min<int64_t>(left, pt.x);
    top = std::min<int64_t>(top, pt.y);
    right = std::max<int64_t>(right, pt.x);
    bottom = std::max<int64_t>(bottom, pt.y);
  }
  // The outline's own pixels count, so the box reaches one past its last point.
  const Rect box = Rect{ClampToInt(left), ClampToInt(top), ClampToInt(right + 1), ClampToInt(bottom + 1)}.Intersect(limit);
  if (box.IsEmpty()) return {};
  QImage mask(box.Width(), box.Height(), QImage::Format_Grayscale8);
  mask.fill(0);
  QPolygon polygon;
  for (const OutlinePoint& pt : outline)
    polygon << QPoint(static_cast<int>(std::clamp<int64_t>(int64_t(pt.x) - box.left, -(1 << 24), 1 << 24)),
                      static_cast<int>(std::clamp<int64_t>(int64_t(pt.y) - box.top, -(1 << 24), 1 << 24)));
  QPainter p(&mask);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::white);
  p.setBrush(Qt::white);
  p.drawPolygon(polygon, fillMode == kWinding ? Qt::WindingFill : Qt::OddEvenFill);
  p.end();
  *origin = {box.left, box.top};
  return mask;
}

std::unique_ptr<StageSprite> CHotSpot::MakeSprite(Stage& stage) {
  Point origin;
  // Clipped to the stage: an outline far outside it costs no memory.
  QImage mask = RenderMask(stage.ClientRect(), &origin);
  if (outline.size() < 2) {
    stage.ReportInternalError("a hot spot without an outline has no sprite");
    return nullptr;
  }
  auto sprite = MakePaintedSprite(*this, *this, stage);
  std::lock_guard lock(StageLock());
  mask_ = std::move(mask);
  maskOrigin_ = origin;
  maskRect_ = rect;
  return sprite;
}

bool CHotSpot::HitsAt(const StageSprite& sprite, int x, int y) const {
  if (mask_.isNull()) return false;
  // The mask moves with the object.
  const Rect d = sprite.rect;
  const int mx = x - (maskOrigin_.x + d.left - maskRect_.left);
  const int my = y - (maskOrigin_.y + d.top - maskRect_.top);
  if (mx < 0 || my < 0 || mx >= mask_.width() || my >= mask_.height()) return false;
  return mask_.constScanLine(my)[mx] != 0;
}

void CHotSpot::Hide() { TakeOffAndDropSprite(); }

void CHotSpot::Prepare() { PreloadSprite(); }

void CHotSpot::OnHotkey(uint32_t, uint32_t, int phase) {
  const uint32_t code = phase == kHotkeyDown ? event::kHotkeyPressed : phase == kHotkeyUp ? event::kHotkeyReleased : 0;
  if (code && IsActive() && FindHandler(code)) HandleStageEvent(code);
}

}  // namespace kv
