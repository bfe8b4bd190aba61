#include "inserts/rectangle.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CRectangle, CObjectFill, kVersionable | 0)

void CRectangle::Reset() {
  CObjectFill::Reset();
  ResetKindFields<RectangleFields>(*this);
}

void CRectangle::CopyFrom(const CInsert& other) {
  CObjectFill::CopyFrom(other);
  CopyKindFields<RectangleFields>(*this, other);
}

void CRectangle::Serialize(Archive& ar) {
  CObjectFill::Serialize(ar);
  ar.Io(cornerWidth);
  ar.Io(cornerHeight);
}

void CRectangle::DescribeFields(FieldVisitor& v) {
  CObjectFill::DescribeFields(v);
  v.Field("cornerWidth", cornerWidth);
  v.Field("cornerHeight", cornerHeight);
}

}  // namespace kv
