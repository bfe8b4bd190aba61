#include "inserts/graphic.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CGraphic, CVisibleInsert, kVersionable | 0)

void CGraphic::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<GraphicFields>(*this);
  showMode = 2;
}

void CGraphic::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<GraphicFields>(*this, other);
}

void CGraphic::SerializeGraphicPart(Archive& ar) {
  ar.Io(penStyle);
  ar.Io(penWidth);
  ar.Io(penColor);
  ar.Io(shadowX);
  ar.Io(shadowY);
  ar.Io(shadowColor);
}

void CGraphic::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  SerializeGraphicPart(ar);
}

void CGraphic::DescribeGraphicPart(FieldVisitor& v) {
  v.Field("penStyle", penStyle);
  v.Field("penWidth", penWidth);
  v.Field("penColor", penColor);
  v.Field("shadowX", shadowX);
  v.Field("shadowY", shadowY);
  v.Field("shadowColor", shadowColor);
}

void CGraphic::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  DescribeGraphicPart(v);
}

}  // namespace kv
