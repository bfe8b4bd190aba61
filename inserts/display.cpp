#include "inserts/display.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CDisplay, CVisibleInsert, kVersionable | 1)

// Reset leaves the picture file as it is.
void CDisplay::Reset() {
  CVisibleInsert::Reset();
  std::string keep = std::move(pictureFile);
  ResetKindFields<DisplayFields>(*this);
  pictureFile = std::move(keep);
  showMode = show_mode::kPlayWhenReady;
}

void CDisplay::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<DisplayFields>(*this, other);
}

void CDisplay::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(1, 1, "CDisplay");
  if (ar.IsLoading()) imageVersion = v;
  ar.Io(imageOption);
  ar.Io(pictureFile);
  ar.Io(imageValue);
}

void CDisplay::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("imageVersion", imageVersion);
  v.Field("imageOption", imageOption);
  v.Field("pictureFile", pictureFile);
  v.Field("imageValue", imageValue);
}

}  // namespace kv
