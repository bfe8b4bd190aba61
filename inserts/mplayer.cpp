#include "inserts/mplayer.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CMPlayer, CVisibleInsert, 0)

void CMPlayer::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<MPlayerFields>(*this);
}

void CMPlayer::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<MPlayerFields>(*this, other);
}

void CMPlayer::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(1, 1, "CMPlayer");
  if (ar.IsLoading()) playerVersion = v;
  ar.Io(playerOptions);
  ar.Io(hideControl);
  ar.Io(takeForeground);
  ar.Io(playerAux1);
  ar.Io(clearPlayValue);
  ar.Io(playerAux2);
  ar.Io(playerAux3);
  ar.Io(playValue);
  ar.Io(startMs);
  ar.Io(endMs);
  ar.Io(duration);
  ar.Io(playerAux4);
  ar.Io(playerAux5);
  ar.Io(useWindow);
  ar.Io(mediaFile);
  ar.Io(playerText);
}

void CMPlayer::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("playerVersion", playerVersion);
  v.Field("playerOptions", playerOptions);
  v.Field("hideControl", hideControl);
  v.Field("takeForeground", takeForeground);
  v.Field("playerAux1", playerAux1);
  v.Field("clearPlayValue", clearPlayValue);
  v.Field("playerAux2", playerAux2);
  v.Field("playerAux3", playerAux3);
  v.Field("playValue", playValue);
  v.Field("startMs", startMs);
  v.Field("endMs", endMs);
  v.Field("duration", duration);
  v.Field("playerAux4", playerAux4);
  v.Field("playerAux5", playerAux5);
  v.Field("useWindow", useWindow);
  v.Field("mediaFile", mediaFile);
  v.Field("playerText", playerText);
}

}  // namespace kv
