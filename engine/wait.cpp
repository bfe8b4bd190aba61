#include "engine/wait.h"

#include "persist/field_walk.h"
#include "persist/fields.h"
#include "engine/runner.h"
#include "engine/commands.h"

namespace kv {

KV_IMPLEMENT_CLASS(CWait, CInsert, 0)

namespace {
// A version-1 record's trailing words (u16, u32, u16, u16, u32, u16, u16, u32, u16), unused.
constexpr size_t kVersion1Tail = 24;
}  // namespace

uint16_t CWait::ConditionsOfStyle(uint16_t style) {
  using namespace wait_condition;
  switch (style) {
    case 1:
      return kTimeout;
    case 2:
      return kTimeout | kLeftButton | kMiddleButton | kRightButton | kHotkey | kAnyKey;  // 252
    case 3:
      return kTimeout | kLeftButton | kMiddleButton | kRightButton | kHotkey;  // 124
    case 4:
      return kLeftButton | kMiddleButton | kRightButton | kAnyKey;  // 184
    case 5:
      return kLeftButton | kMiddleButton | kRightButton | kHotkey;  // 120
    default:
      return 0;
  }
}

void CWait::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
  waiting = 0;
  waitEnabled = 1;
}

template <class W>
void CWait::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("waitVersion", waitVersion, kNewestVersion, 1, "CWait");
  if constexpr (W::kArchive) {
    // Only a loaded record can be older than the newest.
    if (version == 1) {
      conditions = ConditionsOfStyle(w.ar.ReadU16());
      w.ar.Io(timeoutMs);
      w.ar.ReadBlock(kVersion1Tail);
      return;
    }
  }
  w("conditions", conditions);
  w("timeoutMs", timeoutMs);
}

KV_FIELD_WALK_IO(CWait)

void CWait::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CWait>(other));
}

// --- behaviour

int CWait::Run(Runner& runner, int32_t mode) {
  runMode = mode;
  if (runner.IsStopRequested() || waiting) return 1;
  waiting = 1;
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (conditions == 0 || !ctx) {
    waiting = 0;
    return 1;
  }
  // Navigation the wait supersedes is dropped from the head of the queue.
  ctx->port.DropLeadingRequests([](const Request& r) {
    switch (r.code) {
      case 16: case 17: case 20: case 34: case 35: case 36: case 46: case 53: case 82:
        return true;
      default:
        return false;
    }
  });
  using namespace wait_condition;
  const int64_t start = runner.Now();
  const int64_t deadline = (conditions & kTimeout) ? start + timeoutMs : kForever;
  for (;;) {
    Message m = runner.PumpMessage(true, deadline);
    uint16_t met = 0;
    if ((m.IsKeyDown() && m.key == runner.stopKey) || runner.IsStopRequested() || !waiting) met |= kStop;
    if ((conditions & kTimeout) && runner.Now() - start >= timeoutMs) met |= kTimeout;
    if (m.kind == MsgKind::kButtonDown) {
      if (m.button == mouse_button::kLeft) met |= conditions & kLeftButton;
      if (m.button == mouse_button::kMiddle) met |= conditions & kMiddleButton;
      if (m.button == mouse_button::kRight) met |= conditions & kRightButton;
    }
    if (m.IsKeyDown() && !m.posted) {
      if ((conditions & kHotkey) && HasHotkey(m.key, m.modifiers)) met |= kHotkey;
      met |= conditions & kAnyKey;
    }
    // A stop always ends the wait, even one disabled while it waits.
    if ((met & kStop) || (met && waitEnabled)) break;
  }
  waiting = 0;
  return 1;
}

void CWait::Stop(PlayContext&) {
  waiting = 0;
  waitEnabled = 1;
  if (auto t = thread.lock()) t->runner.clock().Wake(t->port.waiter());
}

}  // namespace kv
