#include "engine/timer.h"

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CTimer, CInsert, 0)

void CTimer::Reset() {
  CInsert::Reset();
  showMode = show_mode::kShowAndPlayWhenReady;
  timerType = timer_type::kPeriodic;
  periodMs = 1000;
  minPeriodMs = 1;
  repeatCount = 1;
  timerEnabled = 1;
  runArgument = stopped = timerRunning = 0;
}

void CTimer::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(1, 1, "CTimer");
  if (ar.IsLoading()) timerVersion = version;
  ar.Io(timerType);
  ar.Io(periodMs);
  ar.Io(minPeriodMs);
  ar.Io(repeatCount);
  ar.Io(timerEnabled);
}

void CTimer::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("timerVersion", timerVersion);
  v.Field("timerType", timerType);
  v.Field("periodMs", periodMs);
  v.Field("minPeriodMs", minPeriodMs);
  v.Field("repeatCount", repeatCount);
  v.Field("timerEnabled", timerEnabled);
}

void CTimer::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CTimer& o = Same<CTimer>(other);
  timerVersion = o.timerVersion;
  timerType = o.timerType;
  periodMs = o.periodMs;
  minPeriodMs = o.minPeriodMs;
  repeatCount = o.repeatCount;
  timerEnabled = o.timerEnabled;
}

}  // namespace kv
