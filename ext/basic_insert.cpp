#include "ext/basic_insert.h"

#include <QFont>
#include <QPainter>

#include "engine/events.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "ext/orlan_binding.h"
#include "orlan/engine.h"
#include "persist/field_walk.h"
#include "engine/strings.h"
#include "platform/string_table.h"
#include "platform/text.h"
#include "stage/locks.h"
#include "stage/qt_painter.h"

namespace kv {

KV_IMPLEMENT_CLASS(CBasic, CVisibleInsert, 0)

CBasic::CBasic() = default;

CBasic::~CBasic() = default;

void CBasic::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kShowAndPlay;
}

void CBasic::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CBasic>(other));
}

template <class W>
void CBasic::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("basicVersion", basicVersion, 1, 1, "CBasic");
  w("reservedLong", reservedLong);
  w("extensionMode", extensionMode);
  w("alternatePath", alternatePath);
  w("scriptPath", scriptPath);
  w("reservedWord", reservedWord);
}

KV_FIELD_WALK_IO(CBasic)

void CBasic::ReleaseEngineState() {
  thread.reset();
  script.reset();
}

namespace {

OrlanBinding& BindingOf(Runner& runner) {
  OrlanBinding* binding = runner.Context().orlan;
  if (!binding) throw KVRunException(sid::kRunTimeError, "the Orlan insert needs the Orlan binding of the run");
  return *binding;
}

}  // namespace

int CBasic::Run(Runner& runner, int32_t mode) {
  OrlanBinding& binding = BindingOf(runner);
  if (IsExtensionObject()) {
    // "main" runs once, before the object first appears.
    if (binding.LoadCode(*this) && !mainDone_) {
      mainDone_ = true;
      binding.RunSubroutine(*this, "main");
    }
    return CVisibleInsert::Run(runner, mode);
  }
  CVisibleInsert::Run(runner, mode);
  if (runner.IsStopRequested() || runner.shuttingDown) return 1;
  if (!binding.LoadCode(*this)) return 1;
  runner.RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  binding.RunSubroutine(*this, "main");
  runner.RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
  return 1;
}

void CBasic::PlayOnStage(PlayContext& ctx) {
  CVisibleInsert::PlayOnStage(ctx);
  if (!IsExtensionObject() || !ctx.stage) return;
  OrlanBinding* binding = ctx.orlan;
  if (!binding || code.empty()) return;
  ctx.runner.RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  binding->RunSubroutine(*this, "kvoAnimate");
  ctx.runner.RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
}

void CBasic::Stop(PlayContext& ctx) {
  CVisibleInsert::Stop(ctx);
  // A script still running for the insert ends at its next check.
  if (OrlanBinding* binding = ctx.stage ? ctx.orlan : nullptr) {
    std::lock_guard lock(binding->lock());
    if (thread && threadBusy) thread->Stop(true);
  }
}

void CBasic::Hide(PlayContext& ctx) {
  TakeOffAndDropSprite(ctx);
  OrlanBinding* binding = ctx.stage ? ctx.orlan : nullptr;
  if (!binding) return;
  std::lock_guard lock(binding->lock());
  // A script that hides its own object goes on; its state is dropped later.
  if (threadBusy) return;
  ReleaseEngineState();
  code.clear();
  mainDone_ = false;
}

std::unique_ptr<StageSprite> CBasic::MakeSprite(Stage& s) {
  // Only an extension object shows on the stage; a plain script has nothing to draw.
  if (!IsExtensionObject()) return nullptr;
  return MakePaintedSprite(*this, *this, s);
}

void CBasic::PaintSprite(PlayContext* ctx, StageSprite& sprite, DrawTarget& target, const Rect& clip) {
  const Rect r = sprite.DisplayedRect();
  OrlanBinding* binding = ctx ? ctx->orlan : nullptr;
  if (binding && !errorFlag && !binding->HasSubroutine(*this, "kvoRender", 5)) {
    // Drawn every frame: the missing subroutine is told on the object, not in a box.
    std::lock_guard lock(binding->lock());
    errorText = LoadString(sid::kSubroutineMissing);
    errorFlag = true;
  }
  if (binding && !errorFlag) {
    // Scripts get no drawing calls on a device context in this player, so
    // the context handed to kvoRender is 0; the rectangle is the sprite's.
    const orlan::Value args[] = {orlan::Value::Lng(0), orlan::Value::Lng(r.left), orlan::Value::Lng(r.top),
                                 orlan::Value::Lng(r.right), orlan::Value::Lng(r.bottom)};
    if (binding->RunSubroutine(*this, "kvoRender", args) == 0 && !errorFlag) return;
    errorFlag = true;
  }
  std::string text;
  if (binding) {
    std::lock_guard lock(binding->lock());
    text = errorText;
  }
  TargetPainter painter(target, clip);
  QFont font("Arial");
  font.setPixelSize(14);
  font.setWeight(QFont::Normal);
  painter.painter().setFont(font);
  painter.painter().setPen(Qt::black);
  painter.painter().drawText(QRect(r.left, r.top, r.Width(), r.Height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                             QString::fromStdString(Cp1252ToUtf8(text)));
}

void CBasic::HandleStageEventAt(PlayContext& ctx, uint32_t eventCode, Point at) {
  CVisibleInsert::HandleStageEventAt(ctx, eventCode, at);
  if (!IsExtensionObject()) return;
  OrlanBinding* binding = ctx.stage ? ctx.orlan : nullptr;
  if (!binding || ctx.runner.sceneChanging || !binding->HasSubroutine(*this, "kvoAction", 4)) return;
  const orlan::Value args[] = {orlan::Value::Lng(static_cast<int32_t>(eventCode)), orlan::Value::Lng(at.x),
                               orlan::Value::Lng(at.y), orlan::Value::Lng(0)};
  binding->RunSubroutine(*this, "kvoAction", args);
}

}  // namespace kv
