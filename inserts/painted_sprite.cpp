#include "inserts/painted_sprite.h"

#include <filesystem>

#include "engine/runner.h"
#include "inserts/stage_host.h"
#include "inserts/visible_insert.h"
#include "persist/project_session.h"
#include "platform/paths.h"
#include "stage/compositor.h"
#include "stage/locks.h"
#include "stage/qt_painter.h"

namespace kv {

PaintedSprite::PaintedSprite(SelfPainting& painter, PixelFormat format, PlayContext* run)
    : StageSprite(format), painter_(painter), run_(run) {
  selfDrawn = 1;
  // Fonts and painters need the application object from the first paint on.
  EnsureGuiApplication();
}

void PaintedSprite::Draw(DrawTarget& target, const Rect& clip) {
  if (kind == kWindowSprite) return;
  painter_.PaintSprite(run_, *this, target, clip);
}

bool PaintedSprite::HitTest(int x, int y) { return StageSprite::HitTest(x, y) && painter_.HitsAt(*this, x, y); }

bool PaintedSprite::PaintsEveryPixel() const { return kind == kDrawnSprite && painter_.PaintsAll(*this); }

void RedrawNow(StageSprite* sprite) {
  if (!sprite) return;
  std::lock_guard lock(sprite->Lock());
  if (sprite->onStage && sprite->compositor) sprite->compositor->Update(sprite->DisplayedRect());
}

std::unique_ptr<PaintedSprite> MakePaintedSprite(SelfPainting& painter, const CVisibleInsert& insert, Stage& stage) {
  auto sprite = std::make_unique<PaintedSprite>(painter, stage.compositor().Format(), &stage.context());
  const Rect& r = insert.rect;
  sprite->Setup(r, {0, 0, r.Width(), r.Height()}, insert.layer, insert.transparent != 0,
                ColorRef(insert.transparentColor), insert.colorTolerance,
                static_cast<uint16_t>(stage.settings().exitKey));
  return sprite;
}

void SetUpControlSprite(StageSprite& sprite, const CVisibleInsert& insert, Stage& stage, int w, int h) {
  const Rect& r = insert.rect;
  const Rect dest{r.left, r.top, r.left + w, r.top + h};
  sprite.CreateSurface(dest, insert.layer);
  sprite.Setup(dest, {0, 0, w, h}, insert.layer, insert.transparent != 0, ColorRef(insert.transparentColor),
               insert.colorTolerance, static_cast<uint16_t>(stage.settings().exitKey));
  sprite.Fill(ColorRef(0));
}

int LoadPictureSprite(Stage& stage, const CVisibleInsert& insert, const std::string& file, StageSprite& into) {
  // A name that resolves to no file on the search path is not found (2),
  // never a picture the loader failed to read.
  auto resolved = stage.runner().Session().locator().RetrieveResource(file);
  if (!resolved) return 2;
  auto host = stage.runner().Session().HostPath(*resolved);
  // The picture is kept in the stage's format whoever made the sprite.
  into.format = stage.compositor().Format();
  std::error_code ec;
  if (!host || !std::filesystem::is_regular_file(*host, ec)) return 2;
  return into.LoadPicture(stage.pictures(), *host, insert.rect, insert.layer, insert.transparent != 0,
                          ColorRef(insert.transparentColor), insert.colorTolerance);
}

}  // namespace kv
