#include "inserts/rtf.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CRTF, CVisibleInsert, kVersionable | 0)

void CRTF::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<RtfFields>(*this);
}

void CRTF::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<RtfFields>(*this, other);
}

void CRTF::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(kNewestVersion, 1, "CRTF");
  if (ar.IsLoading()) rtfVersion = v;
  if (v >= 3) {
    ar.Io(rtfAuxText);
    ar.Io(rtfFlags);
    ar.Io(rtfAuxFlag);
  }
  if (v >= 2) ar.Io(rtfBackColor);
  ar.Io(rtfFile);
  ar.Io(withFrame);
}

void CRTF::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("rtfVersion", rtfVersion);
  v.Field("rtfAuxText", rtfAuxText);
  v.Field("rtfFlags", rtfFlags);
  v.Field("rtfAuxFlag", rtfAuxFlag);
  v.Field("rtfBackColor", rtfBackColor);
  v.Field("rtfFile", rtfFile);
  v.Field("withFrame", withFrame);
}

}  // namespace kv
