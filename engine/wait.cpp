#include "engine/wait.h"

#include "persist/field_walk.h"

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

}  // namespace kv
