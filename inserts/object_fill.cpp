#include "inserts/object_fill.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CObjectFill, CGraphic, kVersionable | 0)

void CObjectFill::Reset() {
  CGraphic::Reset();
  ResetKindFields<ObjectFillFields>(*this);
}

void CObjectFill::CopyFrom(const CInsert& other) {
  CGraphic::CopyFrom(other);
  CopyKindFields<ObjectFillFields>(*this, other);
  if (const auto* o = dynamic_cast<const CObjectFill*>(&other)) fillBackColor = o->fillBackColor;
}

void CObjectFill::Serialize(Archive& ar) {
  CGraphic::Serialize(ar);
  ar.Io(fillStyle);
  ar.Io(patternIndex);
  ar.Io(fillAux);
  ar.Io(textureFile);
  ar.Io(fillColor);
  ar.Io(fillBackColor);
}

void CObjectFill::DescribeFields(FieldVisitor& v) {
  CGraphic::DescribeFields(v);
  v.Field("fillStyle", fillStyle);
  v.Field("patternIndex", patternIndex);
  v.Field("fillAux", fillAux);
  v.Field("textureFile", textureFile);
  v.Field("fillColor", fillColor);
  v.Field("fillBackColor", fillBackColor);
}

}  // namespace kv
