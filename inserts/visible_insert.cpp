// The visible insert's stored record: its fields, how it copies, and the
// properties and events every visible kind shares.
#include "inserts/visible_insert.h"

#include <atomic>

#include "engine/events.h"
#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CVisibleInsert, CInsert, 0)

namespace {

// The attached sound's class, looked up by name: the sound kinds sit in a
// layer above this one. Every load of a visible insert asks; a registered
// class never changes, so the answer is kept once there is one (the lookup
// locks the registry and hashes the name).
const ClassInfo* SoundClass() {
  static std::atomic<const ClassInfo*> found{nullptr};
  const ClassInfo* c = found.load(std::memory_order_acquire);
  if (!c && (c = ClassRegistry::Find("CFileAudio"))) found.store(c, std::memory_order_release);
  return c ? c : &CInsert::StaticClass();
}

}  // namespace

CVisibleInsert::CVisibleInsert() = default;
CVisibleInsert::~CVisibleInsert() { DestroySprite(); }

void CVisibleInsert::ResetVisibleFields() {
  FieldTransfer::Reset(*this);
  path.reset();
  attachedSound.reset();
  shownSignal = 1;
  holdPending = 0;
  waitingForScene = 0;
}

void CVisibleInsert::Reset() {
  CInsert::Reset();
  ResetVisibleFields();
}

template <class W>
void CVisibleInsert::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("visibleVersion", visibleVersion, kNewestVisibleVersion, 1, "CVisibleInsert");
  if (version >= 4) {
    w("auxOption3", auxOption3);
    w("auxWord2", auxWord2);
    w("auxWord3", auxWord3);
    w("auxWord4", auxWord4);
  }
  if (version >= 3) w.Object("attachedSound", attachedSound, SoundClass());
  if (version >= 2) {
    w("scaleEnabled", scaleEnabled);
    w("scaleMode", scaleMode);
    w("scaleAtLeft", scaleAtLeft);
    w("scaleAtRight", scaleAtRight);
    w("scaleAtTop", scaleAtTop);
    w("scaleAtBottom", scaleAtBottom);
    w("scaleAtFront", scaleAtFront);
    w("scaleAtBack", scaleAtBack);
    w("auxOption4", auxOption4);
  }
  w("showEffect", showEffect);
  w("hideEffect", hideEffect);
  w("drawMode", drawMode);
  w("showSpeed", showSpeed);
  w("hideSpeed", hideSpeed);
  w("showParam1", showParam1);
  w("showParam2", showParam2);
  w("hideParam1", hideParam1);
  w("hideParam2", hideParam2);
  w("stretchPicture", stretchPicture);
  w("auxOption1", auxOption1);
  w("hasPath", hasPath);
  // The path block follows only when hasPath is 1; copies clone it themselves.
  if constexpr (W::kArchive) {
    if (hasPath == 1) {
      if (w.ar.IsStoring()) {
        if (!path) w.ar.Fail(CArchiveException::genericException, "path: hasPath is 1 but there is no path block");
        path->Write(w.ar);
      } else {
        path = MotionPath::Read(w.ar);
      }
    } else if (w.Filling()) {
      path.reset();
    }
  } else if constexpr (W::kJson) {
    if (hasPath == 1) {
      w.Group("path", [&] { MotionPath::Describe(w.v, path); });
    } else if (w.Filling()) {
      path.reset();
    }
  }
  w("whenDone", whenDone);
  w("displayTime", displayTime);
  w("paletteMode", paletteMode);
  w("transparent", transparent);
  w("transparentColor", transparentColor);
  w("colorTolerance", colorTolerance);
  w("cursorFile", cursorFile);
  w("cursorId", cursorId);
  w("auxWord1", auxWord1);
}

KV_FIELD_WALK_IO(CVisibleInsert)

void CVisibleInsert::KeepNewEditorFlags() {
  CInsert::KeepNewEditorFlags();
  if (attachedSound) attachedSound->KeepNewEditorFlags();
}

void CVisibleInsert::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CVisibleInsert& o = Same<CVisibleInsert>(other);
  FieldTransfer::Copy(*this, o);
  path = o.path ? std::make_unique<MotionPath>(*o.path) : nullptr;
  // The copy gets a sound of its own, never a share of the other's.
  attachedSound = o.attachedSound ? o.attachedSound->Clone(false) : nullptr;
  holdPending = o.holdPending;
  waitingForScene = o.waitingForScene;
}

namespace {
constexpr ColorField<CVisibleInsert> kVisibleColors[] = {
    {Property::kTransparentColor, &CVisibleInsert::transparentColor},
};
}  // namespace

PropertyAnswer CVisibleInsert::GetProperty(Property id) const {
  if (auto color = GetColorField(*this, kVisibleColors, id)) return color;
  return CInsert::GetProperty(id);
}

bool CVisibleInsert::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  return SetColorField(*this, kVisibleColors, id, value) || CInsert::SetProperty(ctx, id, value);
}

void CVisibleInsert::ListEvents(std::vector<uint32_t>& events) const {
  using namespace event;
  for (uint32_t code : {kSetup, kLoaded, kFileChange, kGoingOnStage, kOnStage, kLeftButtonPressed, kLeftButtonReleased,
                        kRightButtonPressed, kRightButtonReleased, kMiddleButtonPressed, kMiddleButtonReleased,
                        kDoubleClick, kCursorEntering, kCursorMoving, kCursorLeaving, kDraggingWithin, kDropFromDrag,
                        kOffStage})
    events.push_back(code);
  for (uint32_t code = kEnabled; code <= kStartPlaying; ++code) events.push_back(code);
  events.push_back(kStopPlaying);
}

}  // namespace kv
