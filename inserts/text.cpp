#include "inserts/text.h"

#include <QFontMetrics>
#include <cmath>
#include <fstream>

#include "engine/runner.h"
#include "inserts/stage_host.h"
#include "persist/field_walk.h"
#include "persist/fields.h"
#include "persist/project_session.h"
#include "platform/paths.h"
#include "stage/locks.h"
#include "stage/qt_painter.h"

namespace kv {

KV_IMPLEMENT_CLASS(CText, CGraphic, kVersionable | 0)

void CText::Reset() {
  CGraphic::Reset();
  FieldTransfer::Reset(*this);
  newFormat = 1;
  showMode = show_mode::kPlayWhenReady;
  shadowX = 0;
  shadowY = 0;
  stretchPicture = 0;
}

void CText::CopyFrom(const CInsert& other) {
  CGraphic::CopyFrom(other);
  const CText& o = Same<CText>(other);
  FieldTransfer::Copy(*this, o);
  newFormat = o.newFormat;
}

// Unlike the other kinds the text's version word comes before the base parts.
template <class W>
void CText::Walk(W& w) {
  const uint16_t v = w.Version("textVersion", textVersion, kNewestVersion, 1, "CText");
  w.Base(static_cast<CVisibleInsert&>(*this));  // loading resets every field first
  WalkGraphicPart(w);
  if (W::kArchive && w.Filling()) newFormat = v >= 3 ? 1 : 0;
  if (v >= 3) {
    w("charPlacement", charPlacement);
    w("textAux1", textAux1);
    w("textAux2", textAux2);
  }
  if (v >= 2) {
    w("fromFile", fromFile);
    w("textFile", textFile);
  }
  w("text", text);
  w("drawFlags", drawFlags);
  w.Embedded("font", font);
}

KV_FIELD_WALK_IO(CText)

// ---------------------------------------------------------------- content

std::string ReadFileStart(const std::string& hostPath, size_t limit) {
  std::ifstream in(hostPath, std::ios::binary);
  std::string text(limit, '\0');
  in.read(text.data(), static_cast<std::streamsize>(limit));
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

namespace {

constexpr int kScreenDpi = 96;

// At most `limit` bytes of the file a stored name resolves to; empty when
// it cannot be read.
std::string ReadTextFile(const ProjectSession& session, const std::string& name, size_t limit) {
  auto resolved = session.locator().RetrieveResource(name);
  if (!resolved) return {};
  auto host = session.HostPath(*resolved);
  return host ? ReadFileStart(*host, limit) : std::string();
}

}  // namespace

std::string CText::ShownText() const {
  std::lock_guard lock(StageLock());
  return shown_;
}

void CText::SetShownText(std::string shown) {
  std::lock_guard lock(StageLock());
  shown_ = std::move(shown);
  ++shownSerial_;
}

void CText::RefreshContent(Runner& runner) {
  std::string content =
      fromFile ? ReadTextFile(runner.Session(), runner.ExpandNames(textFile), kMaxFileText) : text;
  SetShownText(runner.ExpandNames(content));
}

void CText::SetParameterText(PlayContext& ctx, const std::string& value) {
  (fromFile ? textFile : text) = value;
  if (Runner* r = ctx.stage ? &ctx.runner : nullptr) RefreshContent(*r);
  Redraw();
}

// The stored name only: what shows is read again when the object next
// comes on the stage or its text is set while playing.
void CText::SetFileName(const std::string& value) {
  if (fromFile) textFile = value;
}

std::string CText::GetDescription() {
  if (text.empty()) return CGraphic::GetDescription();
  std::string shown = text;
  for (size_t i = 0; i < shown.size(); ++i)
    if (static_cast<uint8_t>(shown[i]) < 0x20) {
      shown = shown.substr(0, i) + " ...";
      break;
    }
  return "\"" + shown + "\"";
}

std::unique_ptr<StageSprite> CText::MakeSprite(Stage& stage) {
  RefreshContent(stage.runner());
  return MakePaintedSprite(*this, *this, stage);
}

// ---------------------------------------------------------------- drawing

CText::LayoutKey CText::KeyFor(const Rect& area) const {
  std::string f;
  if (!font.useDefault) {
    const int32_t ints[] = {font.height, font.width, font.escapement, font.weight};
    f.assign(reinterpret_cast<const char*>(ints), sizeof ints);
    f += static_cast<char>(font.italic);
    f += static_cast<char>(font.underline);
    f += static_cast<char>(font.strikeOut);
    f += static_cast<char>(font.pitchAndFamily);
    f += font.faceName;
  }
  return {shownSerial_, area.Width64(), area.Height64(), drawFlags, f};
}

const TextLayout& CText::LayoutAtOrigin(const Rect& area) {
  LayoutKey key = KeyFor(area);
  if (haveLayout_ && key == layoutKey_) return layout_;
  // A displayed rectangle of another height than the stored one scales the font.
  const double scale = rect.Height() > 0 && area.Height() != rect.Height() ? double(area.Height()) / rect.Height() : 1.0;
  layoutFont_ = FontOf(font, scale);
  // Laid out in a rectangle of the same size at (0, 0): a text that moves
  // keeps its layout.
  layout_ = LayOutText(shown_, *layoutFont_, {0, 0, area.Width(), area.Height()}, drawFlags, DecoderOf(font));
  layoutKey_ = std::move(key);
  haveLayout_ = true;
  return layout_;
}

TextLayout CText::Layout(const Rect& area) {
  TextLayout placed = LayoutAtOrigin(area);
  for (TextLine& line : placed.lines) {
    line.x += area.left;
    line.top += area.top;
  }
  return placed;
}

void CText::PaintText(QPainter& p, const StageSprite& sprite, const Rect& areaIn) {
  const Rect area = PaintableRect(areaIn);
  if (area.IsEmpty() || shown_.empty()) return;
  const TextLayout& layout = LayoutAtOrigin(area);
  p.save();
  // A turned text turns about the rectangle's top left corner.
  p.translate(area.left, area.top);
  if (!font.useDefault && font.escapement % 3600 != 0) p.rotate(-font.escapement / 10.0);  // tenths of a degree, counter-clockwise
  if (HasShadow(sprite, area)) DrawLayout(p, layout, *layoutFont_, ToQColor(shadowColor), ShadowOffset(area));
  if (!IsKeyedAway(sprite, penColor)) DrawLayout(p, layout, *layoutFont_, ToQColor(penColor));
  p.restore();
}

void CText::PaintSprite(PlayContext*, StageSprite& sprite, DrawTarget& target, const Rect& clip) {
  TargetPainter painter(target, clip);
  PaintText(painter.painter(), sprite, sprite.DisplayedRect());
}

bool CText::GetNaturalSize(int32_t& width, int32_t& height) {
  std::lock_guard lock(StageLock());
  const Rect bounds = LayoutAtOrigin(PaintableRect(rect)).Bounds();
  width = bounds.Width();
  height = bounds.Height();
  return true;
}

namespace {
constexpr ColorField<CText> kTextColors[] = {
    {Property::kTextColor, &CText::penColor},
};
}  // namespace

PropertyAnswer CText::GetProperty(Property id) const {
  if (auto color = GetColorField(*this, kTextColors, id)) return color;
  if (id == Property::kTextFontSize) return static_cast<double>(GetTextFontSize());
  return CGraphic::GetProperty(id);
}

bool CText::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  if (SetColorField(*this, kTextColors, id, value)) return true;
  if (const auto* points = std::get_if<double>(&value); points && id == Property::kTextFontSize) {
    SetTextFontSize(static_cast<int>(*points));
    return true;
  }
  return CGraphic::SetProperty(ctx, id, value);
}

int CText::GetTextFontSize() const {
  const QFont f = FontOf(font);
  return static_cast<int>(std::lround(f.pixelSize() * 72.0 / kScreenDpi));
}

void CText::SetTextFontSize(int points) {
  if (font.useDefault) {
    // The default font's other qualities stay.
    const QFont system = SystemFont();
    font.useDefault = 0;
    font.weight = system.weight();
    font.faceName = "Arial";
  }
  font.height = -static_cast<int32_t>(std::lround(points * double(kScreenDpi) / 72.0));
  Redraw();
}

}  // namespace kv
