#include "engine/timer.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CTimer, CInsert, 0)

void CTimer::Reset() {
  CInsert::Reset();
  showMode = show_mode::kShowAndPlayWhenReady;
  FieldTransfer::Reset(*this);
  runArgument = stopped = timerRunning = 0;
}

template <class W>
void CTimer::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  w.Version("timerVersion", timerVersion, 1, 1, "CTimer");
  w("timerType", timerType);
  w("periodMs", periodMs);
  w("minPeriodMs", minPeriodMs);
  w("repeatCount", repeatCount);
  w("timerEnabled", timerEnabled);
}

KV_FIELD_WALK_IO(CTimer)

void CTimer::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CTimer>(other));
}

}  // namespace kv
