#include "engine/launch.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CLaunch, CInsert, 0)

void CLaunch::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
}

template <class W>
void CLaunch::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("launchVersion", launchVersion, 2, 1, "CLaunch");
  if (version >= 2) w("launchValue", launchValue);
  w("program", program);
  w("parameters", parameters);
  w("launchFlag", launchFlag);
  w("closeOnStop", closeOnStop);
  w("launchValue2", launchValue2);
}

KV_FIELD_WALK_IO(CLaunch)

void CLaunch::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CLaunch>(other));
}

}  // namespace kv
