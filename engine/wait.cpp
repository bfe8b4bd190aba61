#include "engine/wait.h"

#include "persist/fields.h"

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
  conditions = wait_condition::kStopOnly;
  timeoutMs = 0;
  waiting = 0;
  waitEnabled = 1;
}

void CWait::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(kNewestVersion, 1, "CWait");
  if (ar.IsLoading()) waitVersion = version;
  if (version == 1) {
    conditions = ConditionsOfStyle(ar.ReadU16());
    ar.Io(timeoutMs);
    ar.ReadBlock(kVersion1Tail);
    return;
  }
  ar.Io(conditions);
  ar.Io(timeoutMs);
}

void CWait::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("waitVersion", waitVersion);
  v.Field("conditions", conditions);
  v.Field("timeoutMs", timeoutMs);
}

void CWait::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CWait& o = Same<CWait>(other);
  waitVersion = o.waitVersion;
  conditions = o.conditions;
  timeoutMs = o.timeoutMs;
}

}  // namespace kv
