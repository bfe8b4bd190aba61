#include "inserts/window_insert.h"

#include <atomic>
#include <stdexcept>

#include "engine/events.h"
#include "engine/play_context.h"
#include "engine/run_error.h"
#include "engine/strings.h"
#include "inserts/stage_host.h"
#include "stage/locks.h"

namespace kv {

namespace {

// Hears the widget for the object, with the run of the stage the widget was
// made for, until that stage goes.
class StageWidgetListener : public WidgetListener {
 public:
  StageWidgetListener(CWindowInsert& insert, Stage& stage) : insert_(insert), stage_(&stage) {}
  void WidgetFocused() override {
    if (Stage* stage = stage_.load()) insert_.WidgetFocused(stage->context());
  }
  void WidgetChanged(const std::string& property, const std::string& value) override {
    if (Stage* stage = stage_.load()) insert_.WidgetChanged(stage->context(), property, value);
  }
  bool MayReadAddress(const std::string& address) override {
    Stage* stage = stage_.load();
    return stage && insert_.MayReadAddress(stage->context(), address);
  }
  void StageGone() { stage_ = nullptr; }

 private:
  CWindowInsert& insert_;
  std::atomic<Stage*> stage_;
};

// A window sprite that owns its widget and the widget's listener. The widget
// must outlive the sprite's time on the compositor, so the sprite leaves it
// before the widget goes; the listener goes after the widget.
class WidgetSprite : public StageSprite {
 public:
  WidgetSprite(std::unique_ptr<StageWidgetListener> listener, std::unique_ptr<WidgetWindow> widget)
      : listener_(std::move(listener)), widget_(std::move(widget)) {
    BecomeWindowSprite(*widget_);
  }
  ~WidgetSprite() override {
    std::lock_guard lock(Lock());
    Clear();
    window = nullptr;
  }
  WidgetWindow& widget() { return *widget_; }
  void StageGone() { listener_->StageGone(); }

 private:
  std::unique_ptr<StageWidgetListener> listener_;
  std::unique_ptr<WidgetWindow> widget_;
};

}  // namespace

std::unique_ptr<StageSprite> CWindowInsert::MakeSprite(Stage& stage) {
  ChildWindowFactory* factory = stage.WindowFactory();
  if (!factory)
    throw KVRunException(sid::kFunctionNotImplemented,
                         GetKindName() + " \"" + name + "\": this player makes no native widgets (no window factory)");
  if (!MayMakeWidget(stage.context())) return nullptr;
  auto listener = std::make_unique<StageWidgetListener>(*this, stage);
  std::unique_ptr<WidgetWindow> widget;
  try {
    widget = factory->Create(WidgetType(), *listener);
  } catch (const std::invalid_argument& e) {
    throw KVRunException(sid::kFunctionNotImplemented, GetKindName() + " \"" + name + "\": " + e.what());
  }
  ConfigureWidget(stage.context(), *widget);
  auto sprite = std::make_unique<WidgetSprite>(std::move(listener), std::move(widget));
  sprite->Setup(rect, {0, 0, rect.Width(), rect.Height()}, layer, false, ColorRef(transparentColor), 0,
                static_cast<uint16_t>(stage.settings().exitKey));
  stage.AddWindowObject(*this);
  return sprite;
}

WidgetWindow* CWindowInsert::Widget() {
  auto* s = dynamic_cast<WidgetSprite*>(GetSprite());
  return s ? &s->widget() : nullptr;
}

void CWindowInsert::Hide(PlayContext& ctx) {
  if (Stage* stage = ctx.stage) {
    if (stage->FocusObject().get() == this) stage->SetFocusObject(nullptr);
    stage->RemoveWindowObject(*this);
  }
  TakeOffAndDropSprite(ctx);
}

void CWindowInsert::StageGone() {
  CVisibleInsert::StageGone();
  if (auto* s = dynamic_cast<WidgetSprite*>(GetSprite())) s->StageGone();
}

void CWindowInsert::TakeFocus(Stage& stage) {
  if (Widget()) stage.SetFocusObject(this);
}

void CWindowInsert::FocusChanged(PlayContext&, bool focused) {
  if (WidgetWindow* w = Widget()) w->SetFocus(focused);
}

void CWindowInsert::WidgetFocused(PlayContext& ctx) {
  if (ctx.stage) TakeFocus(*ctx.stage);
}

void CWindowInsert::HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) {
  if (eventCode == event::kLeftButtonPressed && ctx.stage) TakeFocus(*ctx.stage);
  CVisibleInsert::HandleStageEventAt(ctx, eventCode, at);
}

}  // namespace kv
