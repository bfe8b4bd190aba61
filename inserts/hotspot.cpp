#include "inserts/hotspot.h"

#include <QPainter>
#include <algorithm>

#include "engine/events.h"
#include "inserts/stage_host.h"
#include "persist/field_walk.h"
#include "persist/fields.h"
#include "stage/locks.h"
#include "stage/stretch_map.h"

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

CHotSpot::Mask CHotSpot::RenderMask() const {
  if (outline.size() < 2) return {};
  int64_t left = outline[0].x, top = outline[0].y, right = left, bottom = top;
  for (const OutlinePoint& pt : outline) {
    left = std::min<int64_t>(left, pt.x);
    top = std::min<int64_t>(top, pt.y);
    right = std::max<int64_t>(right, pt.x);
    bottom = std::max<int64_t>(bottom, pt.y);
  }
  Mask mask;
  mask.boxWidth = right - left + 1;
  mask.boxHeight = bottom - top + 1;
  // Stored points may span the whole coordinate range: beyond kMaxMaskSide
  // the outline is drawn at reduced resolution, so memory stays bounded
  // wherever the object is later shown.
  const int w = int(std::min<int64_t>(mask.boxWidth, kMaxMaskSide));
  const int h = int(std::min<int64_t>(mask.boxHeight, kMaxMaskSide));
  mask.bits = QImage(w, h, QImage::Format_Grayscale8);
  mask.bits.fill(0);
  QPolygon polygon;
  for (const OutlinePoint& pt : outline)
    polygon << QPoint(int((pt.x - left) * w / mask.boxWidth), int((pt.y - top) * h / mask.boxHeight));
  QPainter p(&mask.bits);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(Qt::white);
  p.setBrush(Qt::white);
  p.drawPolygon(polygon, fillMode == kWinding ? Qt::WindingFill : Qt::OddEvenFill);
  p.end();
  return mask;
}

std::unique_ptr<StageSprite> CHotSpot::MakeSprite(Stage& stage) {
  Mask mask = RenderMask();
  if (mask.bits.isNull()) {
    stage.ReportInternalError("a hot spot without an outline has no sprite");
    return nullptr;
  }
  auto sprite = MakePaintedSprite(*this, *this, stage);
  std::lock_guard lock(StageLock());
  mask_ = std::move(mask);
  return sprite;
}

bool CHotSpot::Mask::Hits(const StageSprite& sprite, int x, int y) const {
  if (bits.isNull()) return false;
  // The mask stands for the outline's whole box and is shown in the
  // displayed rectangle as a picture would be: stretched onto it, with the
  // compositor's column and row choice, or, unstretched, at its own size
  // from the rectangle's corner. So a moved, resized or perspective-scaled
  // hot spot is hit exactly where its outline is shown.
  const Rect d = sprite.DisplayedRect();
  const int64_t dx = int64_t(x) - d.left, dy = int64_t(y) - d.top;
  if (dx < 0 || dy < 0 || dx >= d.Width64() || dy >= d.Height64()) return false;
  int64_t mx, my;
  if (sprite.stretch) {
    mx = StretchSource(dx, bits.width(), d.Width64());
    my = StretchSource(dy, bits.height(), d.Height64());
  } else {
    if (dx >= boxWidth || dy >= boxHeight) return false;
    mx = dx * bits.width() / boxWidth;
    my = dy * bits.height() / boxHeight;
  }
  return bits.constScanLine(int(my))[mx] != 0;
}

bool CHotSpot::HitsAt(const StageSprite& sprite, int x, int y) const { return mask_.Hits(sprite, x, y); }

void CHotSpot::Hide(PlayContext& ctx) { TakeOffAndDropSprite(ctx); }

void CHotSpot::Prepare(PlayContext& ctx) { PreloadSprite(ctx); }

void CHotSpot::OnHotkey(PlayContext& ctx, uint32_t, uint32_t, int phase) {
  const uint32_t code = phase == kHotkeyDown ? event::kHotkeyPressed : phase == kHotkeyUp ? event::kHotkeyReleased : 0;
  if (code && IsActive() && FindHandler(code)) HandleStageEvent(ctx, code);
}

}  // namespace kv
