#include "inserts/data_entry.h"

#include <QFontMetrics>
#include <charconv>
#include <cmath>

#include "editing/entry_mask.h"
#include "engine/events.h"
#include "engine/properties.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/variables.h"
#include "inserts/stage_host.h"
#include "inserts/text_layout.h"
#include "persist/field_walk.h"
#include "platform/string_table.h"

namespace kv {

KV_IMPLEMENT_CLASS(CDataEntry, CVisibleInsert, 0)

namespace {

constexpr int kScreenDpi = 96;

// The decimal number at the start of `text` (after blanks), 0 when there is
// none; `whole` tells whether the number took the entire text.
double LeadingDecimal(const std::string& text, bool* whole = nullptr) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  const size_t start = i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const size_t digits = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  }
  const bool any = i > digits && !(i == digits + 1 && text[digits] == '.');
  if (any && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && text[j] >= '0' && text[j] <= '9') {
      while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
      i = j;
    }
  }
  double x = 0;
  if (any) std::from_chars(text.data() + digits, text.data() + i, x);
  if (whole) *whole = any && i == text.size() && start == 0;
  return negative ? -x : x;
}

const ColorField<CDataEntry> kEntryColors[] = {
    {Property::kTextColor, &CDataEntry::entryTextColor},
    {Property::kBackgroundColor, &CDataEntry::entryBackColor},
};

}  // namespace
KV_IMPLEMENT_CLASS(CCollectData, CObject, 0)

void CDataEntry::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CDataEntry::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CDataEntry>(other));
}

template <class W>
void CDataEntry::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("entryVersion", entryVersion, 1, 1, "CDataEntry");
  w.Embedded("entryFont", entryFont);
  w("maskType", maskType);
  w("mask", mask);
  w("firstSelectOnFocus", firstSelectOnFocus);
  w("readOnly", readOnly);
  w("autoTab", autoTab);
  w("selectOnFocus", selectOnFocus);
  w("insertMode", insertMode);
  w("allowInsertToggle", allowInsertToggle);
  w("autoHeight", autoHeight);
  w("border", border);
  w("customFont", customFont);
  w("useColors", useColors);
  w("entryTextColor", entryTextColor);
  w("entryBackColor", entryBackColor);
  w("entryAuxFlag", entryAuxFlag);
  w("passwordChar", passwordChar);
  w("promptChar", promptChar);
  w("variableGroup", variableGroup);
  w("variableName", variableName);
  w("minimum", minimum);
  w("maximum", maximum);
  w("auxValue1", auxValue1);
  w("auxValue2", auxValue2);
}

KV_FIELD_WALK_IO(CDataEntry)

// ---------------------------------------------------------------- playing

void CDataEntry::ListEvents(std::vector<uint32_t>& events) const {
  events = {9013, 9003, 9039, 9032, 9004, 9005, 9006, 9015, 9016, 9017, 9018, 9043,
            9020, 9040, 9021, 9022, 9033, 9034, 9035, 9036, 9000, 9028, 9010, 9009};
}

std::string CDataEntry::EffectiveMask() const { return MaskOfType(maskType, mask); }

int CDataEntry::CompareWithBound(uint8_t maskType, const std::string& value, const std::string& bound) {
  if (maskType <= 2) {
    bool wholeValue = false, wholeBound = false;
    const double a = LeadingDecimal(value, &wholeValue), b = LeadingDecimal(bound, &wholeBound);
    if (wholeValue && wholeBound) return a < b ? -1 : a > b ? 1 : 0;
  }
  const int c = value.compare(bound);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

void CDataEntry::ConfigureWidget(PlayContext& ctx, WidgetWindow& widget) {
  try {
    ParseEntryMask(EffectiveMask());
  } catch (const EntryMaskError& e) {
    throw KVRunException(sid::kRunTimeError, GetKindName() + " \"" + name + "\": " + e.what());
  }
  if (autoHeight) {
    // The field is as high as its font's text plus the descent.
    const QFontMetrics m(FontOf(customFont ? entryFont : CKVFont()));
    rect.bottom = rect.top + m.height() + m.descent();
  }
  ApplyOptions(widget);
  LoadVariable(ctx, true);
  widget.SetProperty("text", GetParameterText());
}

void CDataEntry::ApplyOptions(WidgetWindow& widget) {
  auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
  auto first = [](const std::string& text, char fallback) {
    return std::string(1, text.empty() ? fallback : text[0]);
  };
  widget.SetProperty("mask", EffectiveMask());
  widget.SetProperty("prompt", first(promptChar, ' '));
  widget.SetProperty("password", passwordChar.empty() ? std::string() : passwordChar.substr(0, 1));
  widget.SetProperty("insertMode", flag(insertMode));
  widget.SetProperty("readOnly", flag(readOnly || runState == run_state::kDisabled));
  widget.SetProperty("autoTab", flag(autoTab));
  widget.SetProperty("selectOnFocus", flag(selectOnFocus));
  widget.SetProperty("allowInsertToggle", flag(allowInsertToggle));
  widget.SetProperty("border", flag(border));
  widget.SetProperty("font", customFont ? FontOf(entryFont).toString().toStdString() : std::string());
  widget.SetProperty("colors", useColors ? std::to_string(entryTextColor) + " " + std::to_string(entryBackColor)
                                         : std::string());
}

void CDataEntry::SetParameterText(PlayContext&, const std::string& text) {
  std::string value;
  try {
    MaskedEdit edit(ParseEntryMask(EffectiveMask()));
    edit.SetText(text);
    value = edit.Value();
  } catch (const EntryMaskError&) {
    return;  // the bad mask is reported when the field is shown
  }
  {
    std::lock_guard lock(valueLock_);
    value_ = value;
  }
  if (WidgetWindow* w = Widget()) w->SetProperty("text", text);
}

std::string CDataEntry::GetParameterText() const {
  std::lock_guard lock(valueLock_);
  return value_;
}

void CDataEntry::LoadVariable(PlayContext& ctx, bool report) {
  Runner* r = ctx.stage ? &ctx.runner : nullptr;
  if (!r || variableName.empty()) return;
  if (auto v = r->variables().FindVariable(variableName, nullptr, variableGroup, report))
    SetParameterText(ctx, r->variables().Text(*v));
}

void CDataEntry::StoreVariable(PlayContext& ctx) {
  Runner* r = ctx.stage ? &ctx.runner : nullptr;
  if (!r || variableName.empty()) return;
  auto v = r->variables().FindVariable(variableName, nullptr, variableGroup, false);
  if (!v) return;
  const std::string value = GetParameterText();
  if (v->type == var_type::kString)
    r->variables().SetText(*v, value);
  else
    r->variables().StoreNumber(*v, LeadingDecimal(value));
}

void CDataEntry::PlayOnStage(PlayContext& ctx) {
  Runner* r = ctx.stage ? &ctx.runner : nullptr;
  if (!r) return;
  r->RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  if (path) {
    if (StageSprite* s = GetSprite()) s->PlayPath(*path);
  }
  LoadVariable(ctx, false);
}

void CDataEntry::Stop(PlayContext& ctx) {
  CVisibleInsert::Stop(ctx);
  if (Runner* r = ctx.stage ? &ctx.runner : nullptr) r->RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
}

void CDataEntry::OnEnable(PlayContext& ctx) {
  CVisibleInsert::OnEnable(ctx);
  if (WidgetWindow* w = Widget()) w->SetProperty("readOnly", readOnly ? "1" : "0");
}

void CDataEntry::OnDisable(PlayContext& ctx) {
  CVisibleInsert::OnDisable(ctx);
  if (WidgetWindow* w = Widget()) w->SetProperty("readOnly", "1");
}

PropertyAnswer CDataEntry::GetProperty(Property id) const {
  if (auto color = GetColorField(*this, kEntryColors, id)) return color;
  if (id == Property::kTextFontSize) {
    const QFont f = FontOf(customFont ? entryFont : CKVFont());
    return static_cast<double>(std::lround(f.pixelSize() * 72.0 / kScreenDpi));
  }
  return CWindowInsert::GetProperty(id);
}

bool CDataEntry::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  if (SetColorField(*this, kEntryColors, id, value)) {
    if (id == Property::kBackgroundColor) useColors = 1;
  } else if (const auto* points = std::get_if<double>(&value); points && id == Property::kTextFontSize) {
    // The size applies through the field's own font, which it now uses.
    if (!customFont || entryFont.useDefault) {
      const QFont shown = FontOf(customFont ? entryFont : CKVFont());
      entryFont.useDefault = 0;
      entryFont.faceName = shown.family().toStdString();
      customFont = 1;
    }
    entryFont.height = static_cast<int32_t>(std::lround(std::fabs(*points * kScreenDpi / 72.0)));
  } else {
    return CWindowInsert::SetProperty(ctx, id, value);
  }
  if (WidgetWindow* w = Widget()) ApplyOptions(*w);
  return true;
}

// ---------------------------------------------------------------- the focus

void CDataEntry::FocusChanged(PlayContext& ctx, bool focused) {
  CWindowInsert::FocusChanged(ctx, focused);
  if (focused) return;
  const std::string value = GetParameterText();
  if (!minimum.empty() && CompareWithBound(maskType, value, minimum) < 0) HandleStageEvent(ctx, event::kLess);
  if (!maximum.empty() && CompareWithBound(maskType, value, maximum) > 0) HandleStageEvent(ctx, event::kGreater);
  StoreVariable(ctx);
}

void CDataEntry::FocusLeftByKey(PlayContext& ctx) { HandleStageEvent(ctx, event::kHotkeyPressed); }

void CDataEntry::WidgetChanged(PlayContext& ctx, const std::string& property, const std::string& value) {
  if (property == "value") {
    std::lock_guard lock(valueLock_);
    value_ = value;
  } else if (property == "autotab" && ctx.stage) {
    ctx.stage->MoveFocus(false);
  } else if (property == "insertMode") {
    insertMode = value == "1";
  }
}
KV_FIELD_WALK_IO(CCollectData)

}  // namespace kv
