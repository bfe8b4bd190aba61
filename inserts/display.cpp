#include "inserts/display.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CDisplay, CVisibleInsert, kVersionable | 1)

// Reset leaves the picture file as it is.
void CDisplay::Reset() {
  CVisibleInsert::Reset();
  std::string keep = std::move(pictureFile);
  FieldTransfer::Reset(*this);
  pictureFile = std::move(keep);
  showMode = show_mode::kPlayWhenReady;
}

void CDisplay::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CDisplay>(other));
}

template <class W>
void CDisplay::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("imageVersion", imageVersion, 1, 1, "CDisplay");
  w("imageOption", imageOption);
  w("pictureFile", pictureFile);
  w("imageValue", imageValue);
}

KV_FIELD_WALK_IO(CDisplay)

}  // namespace kv
