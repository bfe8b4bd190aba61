#include "inserts/button.h"

#include <array>

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CSDButton, CVisibleInsert, 0)

void CSDButton::Reset() {
  CVisibleInsert::Reset();
  std::array<std::string, 4> keep{normalPicture, pressedPicture, buttonAux3, buttonAux4};
  FieldTransfer::Reset(*this);
  normalPicture = std::move(keep[0]);
  pressedPicture = std::move(keep[1]);
  buttonAux3 = std::move(keep[2]);
  buttonAux4 = std::move(keep[3]);
  showMode = show_mode::kPlayWhenReady;
  stretchPicture = 3;
}

void CSDButton::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CSDButton>(other));
}

template <class W>
void CSDButton::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  const uint16_t v = w.Version("buttonVersion", buttonVersion, kNewestVersion, 1, "CSDButton");
  w("usePictures", usePictures);
  w("useSystemColors", useSystemColors);
  w("buttonAux1", buttonAux1);
  w("faceColor", faceColor);
  w("borderColor", borderColor);
  w("bevelShadowColor", bevelShadowColor);
  w("highlightColor", highlightColor);
  w("textColor", textColor);
  w("textShadowColor", textShadowColor);
  w("frameWidth", frameWidth);
  w("bevelWidth", bevelWidth);
  w("buttonType", buttonType);
  w("buttonAux2", buttonAux2);
  w("caption", caption);
  w("normalPicture", normalPicture);
  w("pressedPicture", pressedPicture);
  w("buttonAux3", buttonAux3);
  w("buttonAux4", buttonAux4);
  w.Embedded("font", font);
  // Version 2 alone carries three more values (u16, u32, u16) that nothing uses.
  if (v == 2) w.Skip(8);
}

KV_FIELD_WALK_IO(CSDButton)

}  // namespace kv
