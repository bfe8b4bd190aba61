#include "inserts/window_insert.h"

#include <stdexcept>

#include "engine/events.h"
#include "engine/run_error.h"
#include "engine/strings.h"
#include "inserts/stage_host.h"
#include "stage/locks.h"

namespace kv {

namespace {

// A window sprite that owns its widget. The widget must outlive the
// sprite's time on the compositor, so the sprite leaves it before the widget
// goes.
class WidgetSprite : public StageSprite {
 public:
  explicit WidgetSprite(std::unique_ptr<WidgetWindow> widget) : widget_(std::move(widget)) {
    BecomeWindowSprite(*widget_);
  }
  ~WidgetSprite() override {
    std::lock_guard lock(Lock());
    Clear();
    window = nullptr;
  }
  WidgetWindow& widget() { return *widget_; }

 private:
  std::unique_ptr<WidgetWindow> widget_;
};

}  // namespace

std::unique_ptr<StageSprite> CWindowInsert::MakeSprite(Stage& stage) {
  ChildWindowFactory* factory = stage.WindowFactory();
  if (!factory)
    throw KVRunException(sid::kFunctionNotImplemented,
                         GetKindName() + " \"" + name + "\": this player makes no native widgets (no window factory)");
  std::unique_ptr<WidgetWindow> widget;
  try {
    widget = factory->Create(WidgetType(), *this);
  } catch (const std::invalid_argument& e) {
    throw KVRunException(sid::kFunctionNotImplemented, GetKindName() + " \"" + name + "\": " + e.what());
  }
  ConfigureWidget(*widget);
  auto sprite = std::make_unique<WidgetSprite>(std::move(widget));
  sprite->Setup(rect, {0, 0, rect.Width(), rect.Height()}, layer, false, ColorRef(transparentColor), 0,
                static_cast<uint16_t>(stage.settings().exitKey));
  stage.AddWindowObject(*this);
  return sprite;
}

WidgetWindow* CWindowInsert::Widget() {
  auto* s = dynamic_cast<WidgetSprite*>(GetSprite(false));
  return s ? &s->widget() : nullptr;
}

void CWindowInsert::Hide() {
  if (stage) {
    if (stage->FocusObject().get() == this) stage->SetFocusObject(nullptr);
    stage->RemoveWindowObject(*this);
  }
  TakeOffAndDropSprite();
}

void CWindowInsert::TakeFocus() {
  if (stage && Widget()) stage->SetFocusObject(this);
}

void CWindowInsert::FocusChanged(bool focused) {
  if (WidgetWindow* w = Widget()) w->SetFocus(focused);
}

void CWindowInsert::WidgetFocused() { TakeFocus(); }

void CWindowInsert::HandleStageEventAt(uint32_t eventCode, Point at) {
  if (eventCode == event::kLeftButtonPressed) TakeFocus();
  CVisibleInsert::HandleStageEventAt(eventCode, at);
}

}  // namespace kv
