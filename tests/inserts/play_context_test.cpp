// One insert record driven by two runs in turn: every behaviour call reaches
// the stage of the run it is given, and a sprite made for one stage is never
// shown on another.
#include <gtest/gtest.h>

#include "engine/play_context.h"
#include "inserts/rectangle.h"
#include "inserts/register.h"
#include "inserts/stage_host.h"
#include "tests/engine/bare_run.h"

namespace kv {
namespace {

class NoPictures : public PictureLoader {
 public:
  int Load(const std::string&, DecodedPicture&) override { return 2; }
};

// A bare run with a stage of its own, 32 x 24 in `format`.
struct StagedRun : test::BareRun {
  explicit StagedRun(PixelFormat format) {
    StageSettings settings;
    settings.clientWidth = 32;
    settings.clientHeight = 24;
    stage = std::make_unique<Stage>(*runner, settings, format, pictures);
    ctx().stage = stage.get();
  }
  NoPictures pictures;
  std::unique_ptr<Stage> stage;
};

TEST(PlayContext, EachCallReachesTheStageOfTheRunItIsGiven) {
  RegisterVisualClasses();
  StagedRun a(PixelFormat::kXrgb32), b(PixelFormat::kRgb565);
  CRectangle box;
  box.Reset();
  box.rect = {4, 4, 12, 12};
  box.showMode = show_mode::kUnset;  // straight onto the stage, no events

  const struct Step {
    const char* what;
    StagedRun* run;
    StagedRun* other;
  } steps[] = {{"first in a", &a, &b}, {"then in b", &b, &a}, {"back in a", &a, &b}};
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    box.PutOnStage(s.run->ctx());
    StageSprite* sprite = box.GetSprite();
    ASSERT_NE(sprite, nullptr);
    EXPECT_EQ(sprite->compositor, &s.run->stage->compositor());
    EXPECT_EQ(sprite->onStage, 1);
    // Made for this stage: its picture is kept in this stage's format.
    EXPECT_EQ(sprite->format, s.run->stage->compositor().Format());
    EXPECT_TRUE(box.IsShown());
    EXPECT_TRUE(box.Invalidate(s.run->ctx()));
    // The other stage holds nothing of it.
    EXPECT_NE(sprite->compositor, &s.other->stage->compositor());
    box.MoveTo(s.run->ctx(), 6, 6, 14, 14, true);
    EXPECT_EQ(box.GetStageRect(), (Rect{6, 6, 14, 14}));
    box.TakeOffStage(s.run->ctx());
    EXPECT_FALSE(box.IsShown());
    box.rect = {4, 4, 12, 12};
  }
}

TEST(PlayContext, WithoutAStageNothingIsMadeOrShown) {
  RegisterVisualClasses();
  test::BareRun run;
  CRectangle box;
  box.Reset();
  box.rect = {4, 4, 12, 12};
  box.showMode = show_mode::kUnset;
  box.PutOnStage(run.ctx());
  EXPECT_EQ(box.GetSprite(), nullptr);
  EXPECT_FALSE(box.Invalidate(run.ctx()));
  EXPECT_FALSE(box.TryStagePlay(run.ctx()));
  EXPECT_FALSE(box.IsShown());
}

}  // namespace
}  // namespace kv
