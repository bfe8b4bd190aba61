#include "inserts/visible_insert.h"

#include "engine/events.h"
#include "persist/fields.h"
#include "persist/json_fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CVisibleInsert, CInsert, 0)

namespace {

// The attached sound's class, looked up by name: the sound kinds sit in a
// layer above this one.
const ClassInfo* SoundClass() {
  const ClassInfo* c = ClassRegistry::Find("CFileAudio");
  return c ? c : &CInsert::StaticClass();
}

}  // namespace

CVisibleInsert::CVisibleInsert() = default;
CVisibleInsert::~CVisibleInsert() = default;

void CVisibleInsert::ResetVisibleFields() {
  showEffect = hideEffect = 0;
  showSpeed = hideSpeed = 9;
  showParam1 = hideParam1 = 4;
  showParam2 = hideParam2 = 8;
  stretchPicture = 1;
  drawMode = draw_mode::kCopy;
  auxOption1 = 1;
  hasPath = 0;
  path.reset();
  whenDone = 1;
  displayTime = 0;
  paletteMode = 0;
  transparent = 0;
  transparentColor = 0x00F0F8F8;
  colorTolerance = 0;
  cursorFile.clear();
  cursorId = kCursorFromFile;
  auxWord1 = 0;
  scaleEnabled = 0;
  scaleMode = scale_mode::kByPosition;
  scaleAtLeft = scaleAtRight = scaleAtTop = scaleAtBottom = scaleAtFront = scaleAtBack = 100;
  auxOption3 = 0;
  auxOption4 = 1;
  auxWord2 = auxWord3 = auxWord4 = 0;
  attachedSound.reset();
  shownSignal = 1;
  holdPending = 0;
  waitingForScene = 0;
}

void CVisibleInsert::Reset() {
  CInsert::Reset();
  ResetVisibleFields();
}

void CVisibleInsert::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(kNewestVisibleVersion, 1, "CVisibleInsert");
  if (ar.IsLoading()) visibleVersion = version;
  if (version >= 4) {
    ar.Io(auxOption3);
    ar.Io(auxWord2);
    ar.Io(auxWord3);
    ar.Io(auxWord4);
  }
  if (version >= 3) {
    if (ar.IsStoring()) {
      ar.WriteObject(attachedSound.get());
    } else {
      attachedSound = std::static_pointer_cast<CInsert>(ar.ReadObject(SoundClass()));
    }
  }
  if (version >= 2) {
    ar.Io(scaleEnabled);
    ar.Io(scaleMode);
    ar.Io(scaleAtLeft);
    ar.Io(scaleAtRight);
    ar.Io(scaleAtTop);
    ar.Io(scaleAtBottom);
    ar.Io(scaleAtFront);
    ar.Io(scaleAtBack);
    ar.Io(auxOption4);
  }
  ar.Io(showEffect);
  ar.Io(hideEffect);
  ar.Io(drawMode);
  ar.Io(showSpeed);
  ar.Io(hideSpeed);
  ar.Io(showParam1);
  ar.Io(showParam2);
  ar.Io(hideParam1);
  ar.Io(hideParam2);
  ar.Io(stretchPicture);
  ar.Io(auxOption1);
  ar.Io(hasPath);
  if (hasPath == 1) {
    if (ar.IsStoring()) {
      if (!path) ar.Fail(CArchiveException::genericException, "path: hasPath is 1 but there is no path block");
      path->Write(ar);
    } else {
      path = MotionPath::Read(ar);
    }
  } else if (ar.IsLoading()) {
    path.reset();
  }
  ar.Io(whenDone);
  ar.Io(displayTime);
  ar.Io(paletteMode);
  ar.Io(transparent);
  ar.Io(transparentColor);
  ar.Io(colorTolerance);
  ar.Io(cursorFile);
  ar.Io(cursorId);
  ar.Io(auxWord1);
}

void CVisibleInsert::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("visibleVersion", visibleVersion);
  v.Field("auxOption3", auxOption3);
  v.Field("auxWord2", auxWord2);
  v.Field("auxWord3", auxWord3);
  v.Field("auxWord4", auxWord4);
  v.Object("attachedSound", attachedSound);
  if (v.IsReading() && attachedSound && !attachedSound->IsKindOf(*SoundClass()))
    throw JsonFieldError(std::string("attachedSound: expected an object of class ") + SoundClass()->name);
  v.Field("scaleEnabled", scaleEnabled);
  v.Field("scaleMode", scaleMode);
  v.Field("scaleAtLeft", scaleAtLeft);
  v.Field("scaleAtRight", scaleAtRight);
  v.Field("scaleAtTop", scaleAtTop);
  v.Field("scaleAtBottom", scaleAtBottom);
  v.Field("scaleAtFront", scaleAtFront);
  v.Field("scaleAtBack", scaleAtBack);
  v.Field("auxOption4", auxOption4);
  v.Field("showEffect", showEffect);
  v.Field("hideEffect", hideEffect);
  v.Field("drawMode", drawMode);
  v.Field("showSpeed", showSpeed);
  v.Field("hideSpeed", hideSpeed);
  v.Field("showParam1", showParam1);
  v.Field("showParam2", showParam2);
  v.Field("hideParam1", hideParam1);
  v.Field("hideParam2", hideParam2);
  v.Field("stretchPicture", stretchPicture);
  v.Field("auxOption1", auxOption1);
  v.Field("hasPath", hasPath);
  if (hasPath == 1) {
    v.BeginGroup("path");
    MotionPath::Describe(v, path);
    v.EndGroup();
  } else if (v.IsReading()) {
    path.reset();
  }
  v.Field("whenDone", whenDone);
  v.Field("displayTime", displayTime);
  v.Field("paletteMode", paletteMode);
  v.Field("transparent", transparent);
  v.Field("transparentColor", transparentColor);
  v.Field("colorTolerance", colorTolerance);
  v.Field("cursorFile", cursorFile);
  v.Field("cursorId", cursorId);
  v.Field("auxWord1", auxWord1);
}

void CVisibleInsert::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CVisibleInsert& o = Same<CVisibleInsert>(other);
  visibleVersion = o.visibleVersion;
  showEffect = o.showEffect;
  hideEffect = o.hideEffect;
  showSpeed = o.showSpeed;
  hideSpeed = o.hideSpeed;
  showParam1 = o.showParam1;
  showParam2 = o.showParam2;
  hideParam1 = o.hideParam1;
  hideParam2 = o.hideParam2;
  stretchPicture = o.stretchPicture;
  drawMode = o.drawMode;
  auxOption1 = o.auxOption1;
  hasPath = o.hasPath;
  path = o.path ? std::make_unique<MotionPath>(*o.path) : nullptr;
  whenDone = o.whenDone;
  displayTime = o.displayTime;
  paletteMode = o.paletteMode;
  transparent = o.transparent;
  transparentColor = o.transparentColor;
  colorTolerance = o.colorTolerance;
  cursorFile = o.cursorFile;
  cursorId = o.cursorId;
  auxWord1 = o.auxWord1;
  scaleEnabled = o.scaleEnabled;
  scaleMode = o.scaleMode;
  scaleAtLeft = o.scaleAtLeft;
  scaleAtRight = o.scaleAtRight;
  scaleAtTop = o.scaleAtTop;
  scaleAtBottom = o.scaleAtBottom;
  scaleAtFront = o.scaleAtFront;
  scaleAtBack = o.scaleAtBack;
  auxOption3 = o.auxOption3;
  auxOption4 = o.auxOption4;
  auxWord2 = o.auxWord2;
  auxWord3 = o.auxWord3;
  auxWord4 = o.auxWord4;
  // The copy gets a sound of its own, never a share of the other's.
  attachedSound = o.attachedSound ? o.attachedSound->Clone() : nullptr;
  holdPending = o.holdPending;
  waitingForScene = o.waitingForScene;
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
