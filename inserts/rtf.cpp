#include "inserts/rtf.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CRTF, CVisibleInsert, kVersionable | 0)

void CRTF::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CRTF::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CRTF>(other));
}

template <class W>
void CRTF::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  const uint16_t v = w.Version("rtfVersion", rtfVersion, kNewestVersion, 1, "CRTF");
  if (v >= 3) {
    w("rtfAuxText", rtfAuxText);
    w("rtfFlags", rtfFlags);
    w("rtfAuxFlag", rtfAuxFlag);
  }
  if (v >= 2) w("rtfBackColor", rtfBackColor);
  w("rtfFile", rtfFile);
  w("withFrame", withFrame);
}

KV_FIELD_WALK_IO(CRTF)

}  // namespace kv
