#include "inserts/mplayer.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CMPlayer, CVisibleInsert, 0)

void CMPlayer::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CMPlayer::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CMPlayer>(other));
}

template <class W>
void CMPlayer::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("playerVersion", playerVersion, 1, 1, "CMPlayer");
  w("playerOptions", playerOptions);
  w("hideControl", hideControl);
  w("takeForeground", takeForeground);
  w("playerAux1", playerAux1);
  w("clearPlayValue", clearPlayValue);
  w("playerAux2", playerAux2);
  w("playerAux3", playerAux3);
  w("playValue", playValue);
  w("startMs", startMs);
  w("endMs", endMs);
  w("duration", duration);
  w("playerAux4", playerAux4);
  w("playerAux5", playerAux5);
  w("useWindow", useWindow);
  w("mediaFile", mediaFile);
  w("playerText", playerText);
}

KV_FIELD_WALK_IO(CMPlayer)

}  // namespace kv
