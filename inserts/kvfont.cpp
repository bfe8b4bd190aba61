#include "inserts/kvfont.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CKVFont, CObject, kVersionable | 0)

template <class W>
void CKVFont::Walk(W& w) {
  const uint16_t v = w.Version("fontVersion", fontVersion, 1, 1, "CKVFont");
  if (W::kArchive && w.Filling()) {
    *this = CKVFont();
    fontVersion = v;
  }
  w("useDefault", useDefault);
  // The default font stores nothing more; the print names every field.
  if (W::kArchive && useDefault != 0) return;
  w("height", height);
  w("width", width);
  w("escapement", escapement);
  w("orientation", orientation);
  w("weight", weight);
  w("italic", italic);
  w("underline", underline);
  w("strikeOut", strikeOut);
  w("charSet", charSet);
  w("outPrecision", outPrecision);
  w("clipPrecision", clipPrecision);
  w("quality", quality);
  w("pitchAndFamily", pitchAndFamily);
  w("faceName", faceName);
}

KV_FIELD_WALK_IO(CKVFont)

}  // namespace kv
