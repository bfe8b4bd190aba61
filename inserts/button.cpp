#include "inserts/button.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CSDButton, CVisibleInsert, 0)

void CSDButton::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<ButtonFields>(*this);
  showMode = show_mode::kPlayWhenReady;
  stretchPicture = 3;
}

void CSDButton::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<ButtonFields>(*this, other);
  const auto& o = Same<CSDButton>(other);
  normalPicture = o.normalPicture;
  pressedPicture = o.pressedPicture;
  buttonAux3 = o.buttonAux3;
  buttonAux4 = o.buttonAux4;
}

void CSDButton::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(kNewestVersion, 1, "CSDButton");
  if (ar.IsLoading()) buttonVersion = v;
  ar.Io(usePictures);
  ar.Io(useSystemColors);
  ar.Io(buttonAux1);
  ar.Io(faceColor);
  ar.Io(borderColor);
  ar.Io(bevelShadowColor);
  ar.Io(highlightColor);
  ar.Io(textColor);
  ar.Io(textShadowColor);
  ar.Io(frameWidth);
  ar.Io(bevelWidth);
  ar.Io(buttonType);
  ar.Io(buttonAux2);
  ar.Io(caption);
  ar.Io(normalPicture);
  ar.Io(pressedPicture);
  ar.Io(buttonAux3);
  ar.Io(buttonAux4);
  font.Serialize(ar);
  if (v == 2) {
    // Version 2 alone carries three more values that nothing uses.
    ar.ReadU16();
    ar.ReadU32();
    ar.ReadU16();
  }
}

void CSDButton::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("buttonVersion", buttonVersion);
  v.Field("usePictures", usePictures);
  v.Field("useSystemColors", useSystemColors);
  v.Field("buttonAux1", buttonAux1);
  v.Field("faceColor", faceColor);
  v.Field("borderColor", borderColor);
  v.Field("bevelShadowColor", bevelShadowColor);
  v.Field("highlightColor", highlightColor);
  v.Field("textColor", textColor);
  v.Field("textShadowColor", textShadowColor);
  v.Field("frameWidth", frameWidth);
  v.Field("bevelWidth", bevelWidth);
  v.Field("buttonType", buttonType);
  v.Field("buttonAux2", buttonAux2);
  v.Field("caption", caption);
  v.Field("normalPicture", normalPicture);
  v.Field("pressedPicture", pressedPicture);
  v.Field("buttonAux3", buttonAux3);
  v.Field("buttonAux4", buttonAux4);
  font.DescribeAs(v, "font");
}

}  // namespace kv
