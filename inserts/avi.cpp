#include "inserts/avi.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CAVI, CVisibleInsert, 0)

void CAVI::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<AviFields>(*this);
  showMode = show_mode::kPlayWhenReady;
  transparent = 0;
  transparentColor = 0;
  colorTolerance = 0;
}

void CAVI::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<AviFields>(*this, other);
}

void CAVI::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(kNewestVersion, 1, "CAVI");
  if (ar.IsLoading()) movieVersion = v;
  if (v >= 3) ar.Io(movieAux3);
  if (v >= 2) ar.Io(movieAux2);
  ar.Io(playInline);
  ar.Io(silenceSounds);
  ar.Io(movieOption1);
  ar.Io(startMs);
  ar.Io(showEffectEndMs);
  ar.Io(hideEffectStartMs);
  ar.Io(endMs);
  ar.Io(movieOption2);
  ar.Io(withBorder);
  ar.Io(useMovieWindow);
  ar.Io(movieFile);
  ar.Io(movieCaption);
}

void CAVI::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("movieVersion", movieVersion);
  v.Field("movieAux3", movieAux3);
  v.Field("movieAux2", movieAux2);
  v.Field("playInline", playInline);
  v.Field("silenceSounds", silenceSounds);
  v.Field("movieOption1", movieOption1);
  v.Field("startMs", startMs);
  v.Field("showEffectEndMs", showEffectEndMs);
  v.Field("hideEffectStartMs", hideEffectStartMs);
  v.Field("endMs", endMs);
  v.Field("movieOption2", movieOption2);
  v.Field("withBorder", withBorder);
  v.Field("useMovieWindow", useMovieWindow);
  v.Field("movieFile", movieFile);
  v.Field("movieCaption", movieCaption);
}

}  // namespace kv
