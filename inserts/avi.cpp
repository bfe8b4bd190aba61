#include "inserts/avi.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CAVI, CVisibleInsert, 0)

void CAVI::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kPlayWhenReady;
  transparent = 0;
  transparentColor = 0;
  colorTolerance = 0;
}

void CAVI::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CAVI>(other));
}

template <class W>
void CAVI::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  const uint16_t v = w.Version("movieVersion", movieVersion, kNewestVersion, 1, "CAVI");
  if (v >= 3) w("movieAux3", movieAux3);
  if (v >= 2) w("movieAux2", movieAux2);
  w("playInline", playInline);
  w("silenceSounds", silenceSounds);
  w("movieOption1", movieOption1);
  w("startMs", startMs);
  w("showEffectEndMs", showEffectEndMs);
  w("hideEffectStartMs", hideEffectStartMs);
  w("endMs", endMs);
  w("movieOption2", movieOption2);
  w("withBorder", withBorder);
  w("useMovieWindow", useMovieWindow);
  w("movieFile", movieFile);
  w("movieCaption", movieCaption);
}

KV_FIELD_WALK_IO(CAVI)

}  // namespace kv
