#include "inserts/hotspot.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CHotSpot, CVisibleInsert, 0)

namespace {
constexpr size_t kStoredPointBytes = 8;  // i32 x, i32 y
}

void CHotSpot::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<HotSpotFields>(*this);
}

void CHotSpot::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<HotSpotFields>(*this, other);
}

void CHotSpot::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(1, 1, "CHotSpot");
  if (ar.IsLoading()) hotVersion = v;
  ar.Io(outlineShape);
  ar.Io(fillMode);
  ar.Io(hotAux);
  if (ar.IsStoring()) {
    ar.WriteU32(static_cast<uint32_t>(outline.size()));
  } else {
    outline.assign(ar.ReadCheckedU32(kStoredPointBytes), OutlinePoint{});
  }
  for (OutlinePoint& p : outline) {
    ar.Io(p.x);
    ar.Io(p.y);
  }
}

void CHotSpot::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("hotVersion", hotVersion);
  v.Field("outlineShape", outlineShape);
  v.Field("fillMode", fillMode);
  v.Field("hotAux", hotAux);
  v.Records("outline", outline, [&v](OutlinePoint& p) {
    v.Field("x", p.x);
    v.Field("y", p.y);
  });
}

}  // namespace kv
