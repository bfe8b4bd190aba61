#include "inserts/stage_cursor.h"

#include <exception>

#include "engine/events.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "inserts/stage_host.h"
#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CStageCursor, CVisibleInsert, kVersionable | 0)

void CStageCursor::Reset() {
  CVisibleInsert::Reset();
  cursorVersion = 0;
}

void CStageCursor::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  cursorVersion = Same<CStageCursor>(other).cursorVersion;
}

// Its version word comes before the base parts.
template <class W>
void CStageCursor::Walk(W& w) {
  const uint16_t v = w.Version("cursorVersion", cursorVersion, 1, 1, "CStageCursor");
  w.Base(static_cast<CVisibleInsert&>(*this));  // loading resets every field first
  if (W::kArchive && w.Filling()) cursorVersion = v;
}

KV_FIELD_WALK_IO(CStageCursor)

bool CStageCursor::Install(Runner& runner) {
  Stage* stage = runner.Context().stage;
  if (!stage) return false;
  std::optional<CursorChoice> cursor = ObjectCursor(runner);
  if (!cursor) return false;
  stage->SetStageCursor(&*cursor, auxWord1 != 0, name);
  installed_ = true;
  return true;
}

int CStageCursor::Run(Runner& runner, int32_t mode) {
  runMode = mode;
  runner.RegisterForEvents(*this);
  runner.DelayBeforeActing(*this, mode);
  if (runner.IsStopRequested() || !runner.Context().stage) return 1;
  try {
    Install(runner);
    runner.RaiseEvent(*this, event::kOnStage, 0, nullptr);
    runner.RaiseEvent(*this, event::kShown, 0, nullptr);
  } catch (const std::exception& e) {
    runner.ReportRunError(this, sid::kObjectCrashed, e.what());
    return 0;
  }
  return 1;
}

void CStageCursor::Hide(PlayContext& ctx) {
  if (ctx.stage && installed_) ctx.stage->ClearStageCursorOf(name);
  installed_ = false;
}

void CStageCursor::ChangeContent(PlayContext& ctx, const std::string& file) {
  cursorFile = file;
  if (installed_) Install(ctx.runner);
}

}  // namespace kv
