#include "engine/jump.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CJump, CInsert, 0)

void CJump::Reset() {
  CInsert::Reset();
  // The step counts keep their values: a reset jump remembers how far it goes.
  const uint16_t back = backCount;
  const uint16_t forward = forwardCount;
  FieldTransfer::Reset(*this);
  backCount = back;
  forwardCount = forward;
}

template <class W>
void CJump::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("jumpVersion", jumpVersion, 3, 1, "CJump");
  if (version >= 3) {
    w("counted", counted);
    w("passCounter", passCounter);
  }
  if (version >= 2) {
    w("backCount", backCount);
    w("forwardCount", forwardCount);
  }
  w("jumpType", jumpType);
  w("labelName", labelName);
}

KV_FIELD_WALK_IO(CJump)

void CJump::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CJump>(other));
}

}  // namespace kv
