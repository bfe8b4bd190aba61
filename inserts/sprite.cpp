#include "inserts/sprite.h"

#include "inserts/fixed_bytes.h"
#include "inserts/kind_fields.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CSprite, CVisibleInsert, 0)

void CSprite::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<SpriteFields>(*this);
  showMode = show_mode::kShowAndPlayWhenReady;
}

void CSprite::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<SpriteFields>(*this, other);
}

void CSprite::SerializeFrameSprite(Archive& ar) {
  FrameSpriteRecord& f = frameSprite;
  uint16_t v = ar.Version(kNewestVersion, 1, "FrameSprite");
  if (ar.IsLoading()) f.frameVersion = v;
  if (v == 2) {
    // Only version 2 kept the owner's perspective scaling here.
    scaleEnabled = ar.ReadI32();
    scaleMode = ar.ReadI32();
    scaleAtLeft = ar.ReadI32();
    scaleAtRight = ar.ReadI32();
    scaleAtTop = ar.ReadI32();
    scaleAtBottom = ar.ReadI32();
  }
  if (v >= 2) ar.Io(f.skipFirstCellOnLoop);
  for (SpriteFrame& frame : f.frames) {
    ar.Io(frame.framePicture);
    ar.Io(frame.distancePerCell);
  }
  ar.Io(f.historyLength);
  ar.Io(f.autoCentre);
  ar.Io(f.autoCentreDelay);
  ar.Io(f.cycleCentre);
  ar.Io(f.cycleStartDelay);
  ar.Io(f.cycleRate);
  if (v == 1) {
    ar.ReadU32();
    ar.ReadU32();
  }
}

void CSprite::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  SerializeFrameSprite(ar);
  uint16_t v = ar.Version(kNewestVersion, 1, "CSprite");
  if (ar.IsLoading()) spriteVersion = v;
  if (v >= 3) ar.Io(spriteAux3);
  if (v >= 2) ar.Io(spriteAux2);
  ar.Io(defaultFrame);
  ar.Io(spriteAux1);
  for (LegacyFrameRecord& r : legacyRecords) {
    ar.Io(r.text1);
    ar.Io(r.text2);
    for (uint32_t& x : r.values) ar.Io(x);
  }
}

void CSprite::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  FrameSpriteRecord& f = frameSprite;
  v.BeginGroup("frameSprite");
  v.Field("frameVersion", f.frameVersion);
  v.Field("skipFirstCellOnLoop", f.skipFirstCellOnLoop);
  DescribeFixedRecords(v, "frames", f.frames, [&v](SpriteFrame& frame) {
    v.Field("framePicture", frame.framePicture);
    v.Field("distancePerCell", frame.distancePerCell);
  });
  v.Field("historyLength", f.historyLength);
  v.Field("autoCentre", f.autoCentre);
  v.Field("autoCentreDelay", f.autoCentreDelay);
  v.Field("cycleCentre", f.cycleCentre);
  v.Field("cycleStartDelay", f.cycleStartDelay);
  v.Field("cycleRate", f.cycleRate);
  v.EndGroup();
  v.Field("spriteVersion", spriteVersion);
  v.Field("spriteAux3", spriteAux3);
  v.Field("spriteAux2", spriteAux2);
  v.Field("defaultFrame", defaultFrame);
  v.Field("spriteAux1", spriteAux1);
  DescribeFixedRecords(v, "legacyRecords", legacyRecords, [&v](LegacyFrameRecord& r) {
    v.Field("text1", r.text1);
    v.Field("text2", r.text2);
    DescribeFixedRecords(v, "values", r.values, [&v](uint32_t& x) { v.Field(nullptr, x); });
  });
}

}  // namespace kv
