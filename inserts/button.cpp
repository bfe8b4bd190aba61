#include "inserts/button.h"

#include <algorithm>
#include <array>

#include "engine/events.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "inserts/graphic.h"
#include "inserts/stage_host.h"
#include "inserts/text_layout.h"
#include "persist/field_walk.h"
#include "persist/fields.h"
#include "stage/locks.h"
#include "stage/qt_painter.h"

namespace kv {

KV_IMPLEMENT_CLASS(CSDButton, CVisibleInsert, 0)

void CSDButton::Reset() {
  CVisibleInsert::Reset();
  std::array<std::string, 4> keep{std::move(normalPicture), std::move(pressedPicture), std::move(buttonAux3),
                                  std::move(buttonAux4)};
  FieldTransfer::Reset(*this);
  normalPicture = std::move(keep[0]);
  pressedPicture = std::move(keep[1]);
  buttonAux3 = std::move(keep[2]);
  buttonAux4 = std::move(keep[3]);
  showMode = show_mode::kPlayWhenReady;
  stretchPicture = 3;
}

void CSDButton::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CSDButton>(other));
}

template <class W>
void CSDButton::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  const uint16_t v = w.Version("buttonVersion", buttonVersion, kNewestVersion, 1, "CSDButton");
  w("usePictures", usePictures);
  w("useSystemColors", useSystemColors);
  w("buttonAux1", buttonAux1);
  w("faceColor", faceColor);
  w("borderColor", borderColor);
  w("bevelShadowColor", bevelShadowColor);
  w("highlightColor", highlightColor);
  w("textColor", textColor);
  w("textShadowColor", textShadowColor);
  w("frameWidth", frameWidth);
  w("bevelWidth", bevelWidth);
  w("buttonType", buttonType);
  w("buttonAux2", buttonAux2);
  w("caption", caption);
  w("normalPicture", normalPicture);
  w("pressedPicture", pressedPicture);
  w("buttonAux3", buttonAux3);
  w("buttonAux4", buttonAux4);
  w.Embedded("font", font);
  // Version 2 alone carries three more values (u16, u32, u16) that nothing uses.
  if (v == 2) w.Skip(8);
}

KV_FIELD_WALK_IO(CSDButton)

// ---------------------------------------------------------------- on the stage

namespace {

inline constexpr int kHotkeyDown = 1;
inline constexpr int kHotkeyUp = 3;

Rect Shrunk(const Rect& r, int by) { return {r.left + by, r.top + by, r.right - by, r.bottom - by}; }
Rect Moved(const Rect& r, int by) { return {r.left + by, r.top + by, r.right + by, r.bottom + by}; }

void HLine(QPainter& p, int x0, int x1, int y, const QColor& c) {
  if (x1 > x0) p.fillRect(QRect(x0, y, x1 - x0, 1), c);
}
void VLine(QPainter& p, int x, int y0, int y1, const QColor& c) {
  if (y1 > y0) p.fillRect(QRect(x, y0, 1, y1 - y0), c);
}

}  // namespace

std::unique_ptr<StageSprite> CSDButton::MakeSprite(Stage& stage) {
  {
    std::lock_guard lock(StageLock());
    haveCaptionFont_ = false;
    pressed = 0;
  }
  auto sprite = MakePaintedSprite(*this, *this, stage);
  LoadStatePictures(stage);
  return sprite;
}

void CSDButton::LoadStatePictures(Stage& stage) {
  if (!usePictures) return;
  Runner& runner = stage.runner();
  auto load = [&](const std::string& stored, std::unique_ptr<StageSprite>& into) {
    if (into) return;
    const std::string file = runner.ExpandNames(stored);
    if (file.empty()) return;
    auto picture = std::make_unique<StageSprite>(stage.compositor().Format());
    if (LoadPictureSprite(stage, *this, file, *picture) != 0) {
      // The face colour is painted instead.
      runner.ReportRunError(this, sid::kErrorReadingFile, file);
      return;
    }
    std::lock_guard lock(StageLock());
    into = std::move(picture);
  };
  load(normalPicture, normalBitmap_);
  load(pressedPicture, pressedBitmap_);
}

void CSDButton::PaintButton(StageSprite&, DrawTarget& target, const Rect& clip, const Rect& areaIn) {
  const Rect area = PaintableRect(areaIn);
  if (area.IsEmpty()) return;
  uint32_t face = faceColor, highlight = highlightColor, shadow = bevelShadowColor, captionShadow = textShadowColor;
  if (useSystemColors) {
    face = syscolor::kBtnFace;
    highlight = syscolor::kBtnHighlight;
    shadow = captionShadow = syscolor::kBtnShadow;
  }
  // Widths from the file are bounded so the loops below stay short.
  const int limit = std::min({kEdgeLimit, area.Width() / 2 + 1, area.Height() / 2 + 1});
  const int fw = std::min<int>(frameWidth, limit);
  const int bw = std::min<int>(bevelWidth, limit);
  const int down = pressed ? 1 : 0;
  const Rect inner = Shrunk(area, fw + bw);

  // Face: the state's picture stretched into it, else the face colour.
  const Rect faceRect = Moved(inner, down);
  StageSprite* picture = pressed ? pressedBitmap_.get() : normalBitmap_.get();
  if (picture && picture->HasPicture() && !faceRect.IsEmpty()) {
    const Rect faceClip = faceRect.Intersect(clip);
    if (!faceClip.IsEmpty()) picture->DrawTo(target, picture->Picture().Bounds(), faceRect, faceClip);
  }
  TargetPainter painter(target, clip);
  QPainter& p = painter.painter();
  // Without a picture the face colour fills the face; a pressed face leaves
  // a strip above and left of it, which takes the face colour too.
  const QColor faceFill = ToQColor(face);
  if (!(picture && picture->HasPicture())) {
    if (!faceRect.IsEmpty()) p.fillRect(ToQRect(faceRect), faceFill);
  }
  if (down && !inner.IsEmpty()) {
    p.fillRect(QRect(inner.left, inner.top, inner.Width(), 1), faceFill);
    p.fillRect(QRect(inner.left, inner.top, 1, inner.Height()), faceFill);
  }

  // Caption: its relief copy, then the caption one pixel up and left.
  if (!caption.empty()) {
    const double scale = rect.Height() > 0 ? double(area.Height()) / rect.Height() : 1.0;
    if (!haveCaptionFont_ || scale != captionScale_) {
      captionFont_ = FontOf(font, scale);
      captionScale_ = scale;
      haveCaptionFont_ = true;
    }
    const Rect box = Moved(inner, down);
    const TextLayout layout =
        LayOutText(caption, *captionFont_, box, draw_text::kSingleLine | draw_text::kCenter | draw_text::kVCenter,
                   DecoderOf(font));
    DrawLayout(p, layout, *captionFont_, ToQColor(captionShadow));
    DrawLayout(p, layout, *captionFont_, ToQColor(textColor), QPoint(-1, -1));
  }

  // Frame, then the bevel; each bevel line one pixel shorter than the one
  // outside it, so the corners meet diagonally.
  const QColor border = ToQColor(borderColor);
  for (int i = 0; i < fw; ++i) {
    const Rect r = Shrunk(area, i);
    if (r.IsEmpty()) break;
    HLine(p, r.left, r.right, r.top, border);
    HLine(p, r.left, r.right, r.bottom - 1, border);
    VLine(p, r.left, r.top, r.bottom, border);
    VLine(p, r.right - 1, r.top, r.bottom, border);
  }
  const QColor upper = ToQColor(pressed ? shadow : highlight);
  const QColor lower = ToQColor(pressed ? highlight : shadow);
  for (int j = 0; j < bw; ++j) {
    const Rect r = Shrunk(area, fw + j);
    if (r.IsEmpty()) break;
    HLine(p, r.left, r.right - 1, r.top, upper);
    VLine(p, r.left, r.top, r.bottom - 1, upper);
    HLine(p, r.left, r.right, r.bottom - 1, lower);
    VLine(p, r.right - 1, r.top, r.bottom, lower);
  }
}

void CSDButton::PaintSprite(PlayContext*, StageSprite& sprite, DrawTarget& target, const Rect& clip) {
  PaintButton(sprite, target, clip, sprite.DisplayedRect());
}

void CSDButton::HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) {
  if (eventCode == event::kLeftButtonPressed || eventCode == event::kLeftButtonReleased ||
      eventCode == event::kLeftNoAction) {
    {
      std::lock_guard lock(StageLock());
      pressed = eventCode == event::kLeftButtonPressed ? 1 : 0;
    }
    RedrawNow(GetSprite());
  }
  CVisibleInsert::HandleStageEventAt(ctx, eventCode, at);
}

void CSDButton::OnHotkey(PlayContext& ctx, uint32_t, uint32_t, int phase) {
  // A hotkey is a click: down presses, up releases what it pressed.
  if (phase == kHotkeyDown && !pressed)
    HandleStageEvent(ctx, event::kLeftButtonPressed);
  else if (phase == kHotkeyUp && pressed)
    HandleStageEvent(ctx, event::kLeftButtonReleased);
}

bool CSDButton::ClearArmed() {
  armed = 1;  // a button stays armed
  return true;
}

void CSDButton::SetParameterText(PlayContext&, const std::string& text) {
  caption = text;
  RedrawNow(GetSprite());
}

void CSDButton::ReplacePicture(PlayContext& ctx, std::string& name, std::unique_ptr<StageSprite>& bitmap, const std::string& file) {
  name = file;
  {
    std::lock_guard lock(StageLock());
    bitmap.reset();
  }
  if (ctx.stage && GetSprite()) LoadStatePictures(*ctx.stage);
  RedrawNow(GetSprite());
}

namespace {
constexpr ColorField<CSDButton> kButtonColors[] = {
    {Property::kTextColor, &CSDButton::textColor},     {Property::kTextShadowColor, &CSDButton::textShadowColor},
    {Property::kFaceColor, &CSDButton::faceColor},     {Property::kShadowColor, &CSDButton::bevelShadowColor},
    {Property::kHighlightColor, &CSDButton::highlightColor},
};
}  // namespace

PropertyAnswer CSDButton::GetProperty(Property id) const {
  if (auto color = GetColorField(*this, kButtonColors, id)) return color;
  if (id == Property::kPressedPicture) return pressedPicture;
  return CVisibleInsert::GetProperty(id);
}

bool CSDButton::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  if (SetColorField(*this, kButtonColors, id, value)) return true;
  if (const auto* file = std::get_if<std::string>(&value); file && id == Property::kPressedPicture) {
    SetPressedPicture(ctx, *file);
    return true;
  }
  return CVisibleInsert::SetProperty(ctx, id, value);
}

void CSDButton::SetPressedPicture(PlayContext& ctx, const std::string& file) {
  ReplacePicture(ctx, pressedPicture, pressedBitmap_, file);
}

void CSDButton::ChangeContent(PlayContext& ctx, const std::string& file) {
  ReplacePicture(ctx, normalPicture, normalBitmap_, file);
}

}  // namespace kv
