#include "media/mci.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CMCI, CInsert, 0)

void CMCI::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CMCI::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CMCI>(other));
}

template <class W>
void CMCI::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  w.Version("mciVersion", mciVersion, 1, 1, "CMCI");
  w("mciVerb", mciVerb);
  w("mciTarget", mciTarget);
  w("mciParameters", mciParameters);
  w("showErrors", showErrors);
  w("mciValue", mciValue);
}

KV_FIELD_WALK_IO(CMCI)

}  // namespace kv
