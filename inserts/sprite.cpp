#include "inserts/sprite.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CSprite, CVisibleInsert, 0)

void CSprite::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kShowAndPlayWhenReady;
}

void CSprite::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CSprite>(other));
}

template <class W>
void CSprite::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Group("frameSprite", [&] {
    FrameSpriteRecord& f = frameSprite;
    const uint16_t v = w.Version("frameVersion", f.frameVersion, kNewestVersion, 1, "FrameSprite");
    if (v == 2) {
      // Only version 2 kept the owner's perspective scaling here.
      w("scaleEnabled", scaleEnabled);
      w("scaleMode", scaleMode);
      w("scaleAtLeft", scaleAtLeft);
      w("scaleAtRight", scaleAtRight);
      w("scaleAtTop", scaleAtTop);
      w("scaleAtBottom", scaleAtBottom);
    }
    if (v >= 2) w("skipFirstCellOnLoop", f.skipFirstCellOnLoop);
    w.Records("frames", f.frames, [&w](SpriteFrame& frame) {
      w("framePicture", frame.framePicture);
      w("distancePerCell", frame.distancePerCell);
    });
    w("historyLength", f.historyLength);
    w("autoCentre", f.autoCentre);
    w("autoCentreDelay", f.autoCentreDelay);
    w("cycleCentre", f.cycleCentre);
    w("cycleStartDelay", f.cycleStartDelay);
    w("cycleRate", f.cycleRate);
    if (v == 1) w.Skip(8);  // two u32 nothing reads
  });
  const uint16_t v = w.Version("spriteVersion", spriteVersion, kNewestVersion, 1, "CSprite");
  if (v >= 3) w("spriteAux3", spriteAux3);
  if (v >= 2) w("spriteAux2", spriteAux2);
  w("defaultFrame", defaultFrame);
  w("spriteAux1", spriteAux1);
  w.Records("legacyRecords", legacyRecords, [&w](LegacyFrameRecord& r) {
    w("text1", r.text1);
    w("text2", r.text2);
    w("values", r.values);
  });
}

KV_FIELD_WALK_IO(CSprite)

}  // namespace kv
