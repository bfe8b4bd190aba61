#include "inserts/text.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CText, CGraphic, kVersionable | 0)

void CText::Reset() {
  CGraphic::Reset();
  FieldTransfer::Reset(*this);
  newFormat = 1;
  showMode = show_mode::kPlayWhenReady;
  shadowX = 0;
  shadowY = 0;
  stretchPicture = 0;
}

void CText::CopyFrom(const CInsert& other) {
  CGraphic::CopyFrom(other);
  const CText& o = Same<CText>(other);
  FieldTransfer::Copy(*this, o);
  newFormat = o.newFormat;
}

// Unlike the other kinds the text's version word comes before the base parts.
template <class W>
void CText::Walk(W& w) {
  const uint16_t v = w.Version("textVersion", textVersion, kNewestVersion, 1, "CText");
  w.Base(static_cast<CVisibleInsert&>(*this));  // loading resets every field first
  WalkGraphicPart(w);
  if (W::kArchive && w.Filling()) newFormat = v >= 3 ? 1 : 0;
  if (v >= 3) {
    w("charPlacement", charPlacement);
    w("textAux1", textAux1);
    w("textAux2", textAux2);
  }
  if (v >= 2) {
    w("fromFile", fromFile);
    w("textFile", textFile);
  }
  w("text", text);
  w("drawFlags", drawFlags);
  w.Embedded("font", font);
}

KV_FIELD_WALK_IO(CText)

}  // namespace kv
