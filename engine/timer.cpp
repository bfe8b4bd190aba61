#include "engine/timer.h"

#include "persist/field_walk.h"
#include "persist/fields.h"
#include "engine/runner.h"
#include "engine/events.h"

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

// --- behaviour

uint32_t CTimer::RandomPeriod(RandomSource& random) const {
  const uint32_t low = minPeriodMs, high = periodMs;
  if (high < low || high == 0) return 0;
  // Three 15-bit draws give 45 bits; the period stays within [low, high].
  uint64_t v = (static_cast<uint64_t>(random.Next()) << 30) | (static_cast<uint64_t>(random.Next()) << 15) |
               random.Next();
  return low + static_cast<uint32_t>(v % (static_cast<uint64_t>(high) - low + 1));
}

bool CTimer::WantsOwnThread(PlayContext&) const {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  return ctx && ctx->isProjectThread && ctx->runner.playerRunning;
}

void CTimer::Stop(PlayContext&) {
  SetRunning(0);
  stopped = 1;
  if (timerRunning)
    if (auto t = thread.lock()) t->port.PostKey(t->runner.stopKey);
}

int CTimer::Run(Runner& runner, int32_t mode) {
  runMode = mode;
  runArgument = static_cast<uint32_t>(mode);
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (runner.playerRunning && (showMode == 2 || showMode == 3 || showMode == 5)) {
    while (runner.sceneLoading && !runner.IsStopRequested()) runner.PumpMessage(true, kForever);
  }
  if (runner.shuttingDown || timerRunning || !timerEnabled || !running || !ctx) return 0;
  timerRunning = 1;
  stopped = 0;
  runner.RegisterForEvents(*this);
  runner.RaiseEvent(*this, event::kSetup, 0, nullptr);
  runner.DelayBeforeActing(*this, mode);
  runner.RaiseEvent(*this, event::kOnStage, 0, nullptr);
  const bool random = timerType >= timer_type::kRandomPeriodic && timerType <= timer_type::kRandomCountedPeriodic;
  const uint32_t kind = random ? timerType - 3 : timerType;
  auto alive = [&] { return running && !stopped && !runner.shuttingDown; };
  // One period; false when the stop key or a stop cut it short.
  auto period = [&] {
    uint32_t ms = random ? RandomPeriod(ctx->random) : periodMs;
    if (!runner.WaitPeriod(ms)) {
      stopped = 1;
      return false;
    }
    if (alive() && timerEnabled) runner.RaiseEvent(*this, event::kTimerExpired, 0, nullptr);
    return true;
  };
  const bool knownType = kind >= 1 && kind <= 3;
  switch (kind) {
    case 1:
      while (alive()) {
        if (!period()) break;
        if (GetPrimary().get() != this) {
          // A copy that is not its own primary ends early, its marks cleared.
          runArgument = 0;
          timerRunning = 0;
          return 1;
        }
      }
      break;
    case 2:
      period();
      break;
    case 3:
      for (uint32_t n = 0; n < repeatCount && alive(); ++n)
        if (!period()) break;
      break;
    default:
      break;
  }
  if (!stopped && timerEnabled && running && !runner.shuttingDown)
    runner.RaiseEvent(*this, event::kTimerDead, 0, nullptr);
  runArgument = 0;
  timerRunning = 0;
  ctx->port.PostKey(runner.stopKey);
  return knownType ? 1 : 0;
}

}  // namespace kv
