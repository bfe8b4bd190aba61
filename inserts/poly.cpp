#include "inserts/poly.h"

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CPoly, CObjectFill, kVersionable | 0)

namespace {
constexpr size_t kStoredPointBytes = 9;  // i32 x, i32 y, u8 type
}

void CPoly::Reset() {
  CObjectFill::Reset();
  points.clear();
}

void CPoly::CopyFrom(const CInsert& other) {
  CObjectFill::CopyFrom(other);
  if (const auto* o = dynamic_cast<const CPoly*>(&other)) points = o->points;
}

void CPoly::Serialize(Archive& ar) {
  CObjectFill::Serialize(ar);
  if (ar.IsStoring()) {
    // A wrapped count would misplace every byte after the points.
    if (points.size() > kMaxPoints) ar.Fail(CArchiveException::genericException, "CPoly: more than 255 points");
    ar.WriteU8(static_cast<uint8_t>(points.size()));
  } else {
    size_t n = ar.ReadU8();
    if (n * kStoredPointBytes > ar.Remaining()) ar.Fail(CArchiveException::endOfFile, "CPoly: points");
    points.assign(n, PolyPoint{});
  }
  for (PolyPoint& p : points) {
    ar.Io(p.x);
    ar.Io(p.y);
    ar.Io(p.type);
  }
}

void CPoly::DescribeFields(FieldVisitor& v) {
  CObjectFill::DescribeFields(v);
  v.Records("points", points, [&v](PolyPoint& p) {
    v.Field("x", p.x);
    v.Field("y", p.y);
    v.Field("type", p.type);
  });
}

}  // namespace kv
