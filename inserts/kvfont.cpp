#include "inserts/kvfont.h"

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CKVFont, CObject, kVersionable | 0)

void CKVFont::Serialize(Archive& ar) {
  uint16_t v = ar.Version(1, 1, "CKVFont");
  if (ar.IsLoading()) {
    *this = CKVFont();
    fontVersion = v;
  }
  ar.Io(useDefault);
  if (useDefault != 0) return;
  ar.Io(height);
  ar.Io(width);
  ar.Io(escapement);
  ar.Io(orientation);
  ar.Io(weight);
  ar.Io(italic);
  ar.Io(underline);
  ar.Io(strikeOut);
  ar.Io(charSet);
  ar.Io(outPrecision);
  ar.Io(clipPrecision);
  ar.Io(quality);
  ar.Io(pitchAndFamily);
  ar.Io(faceName);
}

void CKVFont::DescribeFields(FieldVisitor& v) {
  v.Field("fontVersion", fontVersion);
  v.Field("useDefault", useDefault);
  v.Field("height", height);
  v.Field("width", width);
  v.Field("escapement", escapement);
  v.Field("orientation", orientation);
  v.Field("weight", weight);
  v.Field("italic", italic);
  v.Field("underline", underline);
  v.Field("strikeOut", strikeOut);
  v.Field("charSet", charSet);
  v.Field("outPrecision", outPrecision);
  v.Field("clipPrecision", clipPrecision);
  v.Field("quality", quality);
  v.Field("pitchAndFamily", pitchAndFamily);
  v.Field("faceName", faceName);
}

void CKVFont::DescribeAs(FieldVisitor& v, const char* name) {
  v.BeginGroup(name);
  DescribeFields(v);
  v.EndGroup();
}

}  // namespace kv
