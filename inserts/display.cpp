#include "inserts/display.h"

#include "engine/runner.h"
#include "inserts/painted_sprite.h"
#include "inserts/stage_host.h"
#include "persist/field_walk.h"
#include "platform/text.h"

namespace kv {

KV_IMPLEMENT_CLASS(CDisplay, CVisibleInsert, kVersionable | 1)

// Reset leaves the picture file as it is.
void CDisplay::Reset() {
  CVisibleInsert::Reset();
  std::string keep = std::move(pictureFile);
  FieldTransfer::Reset(*this);
  pictureFile = std::move(keep);
  showMode = show_mode::kPlayWhenReady;
}

void CDisplay::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CDisplay>(other));
}

template <class W>
void CDisplay::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("imageVersion", imageVersion, 1, 1, "CDisplay");
  w("imageOption", imageOption);
  w("pictureFile", pictureFile);
  w("imageValue", imageValue);
}

KV_FIELD_WALK_IO(CDisplay)

// ---------------------------------------------------------------- on the stage

namespace {

// The message of a picture loader's error code.
uint32_t PictureErrorId(int code) {
  switch (code) {
    case 2: return 6011;
    case 8: return 7001;
    case 11: return 6053;
    case 1001: return 7023;
    case 1002: return 7024;
    default: return 7025;
  }
}

}  // namespace

std::unique_ptr<StageSprite> CDisplay::MakeSprite(Stage& stage) {
  if (pictureFile.empty()) return nullptr;
  Runner& runner = stage.runner();
  auto sprite = std::make_unique<StageSprite>(stage.compositor().Format());
  sprite->effectAbortKey = static_cast<uint16_t>(stage.settings().exitKey);
  const std::string file = runner.ExpandNames(pictureFile);
  // A name that substitutes to nothing shows an object without a picture.
  if (file.empty()) return sprite;
  const int error = LoadPictureSprite(stage, *this, file, *sprite);
  if (error == 0) return sprite;
  runner.variables().SetLastError(9);
  if (runner.playerRunning) runner.ReportRunError(this, PictureErrorId(error), file);
  return nullptr;
}

void CDisplay::Hide(PlayContext& ctx) { TakeOffAndDropSprite(ctx); }

void CDisplay::ChangeContent(PlayContext& ctx, const std::string& file) {
  StageSprite* old = GetSprite();
  if (old && old->onStage && EqualsNoCase(file, pictureFile)) return;
  pictureFile = file;
  if (old) {
    const uint8_t state = old->displayState;
    const bool wasOn = old->onStage != 0;
    DestroySprite();
    // The new sprite takes the old one's place only when its picture loaded;
    // either way the old one is gone and its area redrawn.
    if (StageSprite* fresh = EnsureSprite(ctx); fresh && wasOn) {
      fresh->SetDisplayState(state);
      ctx.stage->compositor().Add(*fresh, true);
      ProcessPicture(*fresh);
    }
  }
  Invalidate(ctx);
}

void CDisplay::Prepare(PlayContext& ctx) { PreloadSprite(ctx); }

}  // namespace kv
