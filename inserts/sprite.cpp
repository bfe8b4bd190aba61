#include "inserts/sprite.h"

#include "inserts/kind_fields.h"
#include "persist/fields.h"
#include "persist/json_fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CSprite, CVisibleInsert, 0)

namespace {

// Nine records of an older frame layout follow the sprite part; they are
// read past and written with these fixed values.
constexpr size_t kLegacyRecords = 9;
constexpr uint32_t kLegacyValues[] = {1156, 1171, 1, 7};

}  // namespace

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
  for (size_t i = 0; i < kLegacyRecords; ++i) {
    if (ar.IsStoring()) {
      ar.WriteString({});
      ar.WriteString({});
      for (uint32_t x : kLegacyValues) ar.WriteU32(x);
    } else {
      ar.ReadString();
      ar.ReadString();
      for (size_t k = 0; k < std::size(kLegacyValues); ++k) ar.ReadU32();
    }
  }
}

void CSprite::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  FrameSpriteRecord& f = frameSprite;
  v.BeginGroup("frameSprite");
  v.Field("frameVersion", f.frameVersion);
  v.Field("skipFirstCellOnLoop", f.skipFirstCellOnLoop);
  size_t n = v.BeginArray("frames", f.frames.size());
  if (n != f.frames.size()) throw JsonFieldError("frames: a sprite has exactly nine");
  for (size_t i = 0; i < n; ++i) {
    v.BeginElement(i);
    v.Field("framePicture", f.frames[i].framePicture);
    v.Field("distancePerCell", f.frames[i].distancePerCell);
    v.EndElement();
  }
  v.EndArray();
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
}

}  // namespace kv
