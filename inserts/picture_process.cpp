// The stage's side of picture processing: which picture an operation works
// on, what shows the result and where the object goes when a turn resizes it.
// The pixel work is in stage/picture_processing.
#include <mutex>

#include "engine/runner.h"
#include "inserts/stage_host.h"
#include "platform/message_box.h"
#include "platform/string_table.h"
#include "stage/picture_processing.h"

namespace kv {

bool Stage::ProcessPicture(CInsert& insert, int type, int value, int value2, int left, int top, int right,
                           int bottom) {
  if (!IsPictureOp(type)) {
    runner_.Messages().Show("Invalid Image Processing Type", LoadString(sid::kAppName), MsgButtons::Ok,
                            MsgIcon::None);
    return false;
  }
  StageSprite* sprite = insert.GetSprite();
  if (!sprite) return false;
  PictureOpArgs args;
  args.type = type;
  args.value = value;
  args.value2 = value2;
  args.region = {left, top, right, bottom};
  DecodedPicture picture;
  {
    std::lock_guard lock(StageLock());
    if (!SpritePictureAtDepth(*sprite, picture)) return false;
    // The keyed colour stays see-through where the new picture is uncovered.
    args.background = sprite->keyed ? sprite->keyColor : kDefaultKeyColor;
  }
  const int oldWidth = picture.width, oldHeight = picture.height;
  if (!ApplyPictureOp(picture, args)) return true;  // a depth left unchanged
  Rect moved;
  bool resized = false;
  {
    std::lock_guard lock(StageLock());
    if (sprite->SetPicture(picture.View()) != 0) return true;
    sprite->changed = 1;
    const int growW = picture.width - oldWidth, growH = picture.height - oldHeight;
    if (growW != 0 || growH != 0) {
      // The centre stays: left and top move by half the growth.
      const Rect r = sprite->rect;
      moved = {r.left - growW / 2, r.top - growH / 2, r.right + (growW - growW / 2), r.bottom + (growH - growH / 2)};
      sprite->srcRect = {0, 0, picture.width, picture.height};
      resized = true;
    }
  }
  if (resized) {
    const Rect old = insert.GetStageRect();
    insert.MoveTo(context_, moved.left, moved.top, moved.right, moved.bottom, true);
    compositor_.Update(old);
  }
  insert.Invalidate(context_);
  return true;
}

}  // namespace kv
