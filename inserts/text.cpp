#include "inserts/text.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CText, CGraphic, kVersionable | 0)

void CText::Reset() {
  CGraphic::Reset();
  ResetKindFields<TextFields>(*this);
  showMode = show_mode::kPlayWhenReady;
  shadowX = 0;
  shadowY = 0;
  stretchPicture = 0;
}

void CText::CopyFrom(const CInsert& other) {
  CGraphic::CopyFrom(other);
  CopyKindFields<TextFields>(*this, other);
}

// Unlike the other kinds the text's version word comes before the base parts.
void CText::Serialize(Archive& ar) {
  uint16_t v = ar.Version(kNewestVersion, 1, "CText");
  CVisibleInsert::Serialize(ar);  // loading resets every field first
  SerializeGraphicPart(ar);
  if (ar.IsLoading()) {
    textVersion = v;
    newFormat = v >= 3 ? 1 : 0;
  }
  if (v >= 3) {
    ar.Io(charPlacement);
    ar.Io(textAux1);
    ar.Io(textAux2);
  }
  if (v >= 2) {
    ar.Io(fromFile);
    ar.Io(textFile);
  }
  ar.Io(text);
  ar.Io(drawFlags);
  font.Serialize(ar);
}

void CText::DescribeFields(FieldVisitor& v) {
  v.Field("textVersion", textVersion);
  CVisibleInsert::DescribeFields(v);
  DescribeGraphicPart(v);
  v.Field("charPlacement", charPlacement);
  v.Field("textAux1", textAux1);
  v.Field("textAux2", textAux2);
  v.Field("fromFile", fromFile);
  v.Field("textFile", textFile);
  v.Field("text", text);
  v.Field("drawFlags", drawFlags);
  font.DescribeAs(v, "font");
}

}  // namespace kv
