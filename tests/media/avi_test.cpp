// The movie object's start and end positions: kept within each other and
// the effect periods, moved through the properties scripts use.
#include <gtest/gtest.h>

#include "media/avi.h"
#include "tests/engine/bare_run.h"

namespace kv {
namespace {

struct TimeCase {
  const char* what;
  uint32_t start, end, showEnd, hideStart;  // before
  bool setStart;
  double seconds;
  uint32_t wantStart, wantEnd, wantShowEnd, wantHideStart;
};

TEST(MovieTimes, StartAndEndStayInOrderWithTheirEffects) {
  const TimeCase cases[] = {
      {"start, end unknown", 0, 0, 0, 0, true, 2.5, 2500, 0, 0, 0},
      {"negative start", 700, 0, 0, 0, true, -3, 0, 0, 0, 0},
      {"start past the end", 0, 3000, 0, 0, true, 4, 3000, 3000, 0, 0},
      {"start keeps its appearing period", 1000, 5000, 1500, 0, true, 2, 2000, 5000, 2500, 0},
      {"start stops short of the disappearing period", 0, 5000, 0, 4000, true, 4.8, 4000, 5000, 0, 4000},
      {"end before the start", 2500, 0, 0, 0, false, 1, 2500, 2500, 0, 0},
      {"end after the appearing period", 1000, 0, 1600, 0, false, 1.2, 1000, 1600, 1600, 0},
      {"end keeps its disappearing period", 0, 5000, 0, 4000, false, 6, 0, 6000, 0, 5000},
      {"negative end", 0, 5000, 0, 0, false, -1, 0, 0, 0, 0},
  };
  for (const TimeCase& c : cases) {
    CAVI movie;
    movie.startMs = c.start, movie.endMs = c.end;
    movie.showEffectEndMs = c.showEnd, movie.hideEffectStartMs = c.hideStart;
    if (c.setStart)
      movie.SetStartTime(c.seconds);
    else
      movie.SetEndTime(c.seconds);
    EXPECT_EQ(movie.startMs, c.wantStart) << c.what;
    EXPECT_EQ(movie.endMs, c.wantEnd) << c.what;
    EXPECT_EQ(movie.showEffectEndMs, c.wantShowEnd) << c.what;
    EXPECT_EQ(movie.hideEffectStartMs, c.wantHideStart) << c.what;
  }
}

TEST(MovieTimes, ThroughTheProperties) {
  test::BareRun run;
  CAVI movie;
  EXPECT_TRUE(movie.SetProperty(run.ctx(), Property::kEndTime, 4.0));
  EXPECT_TRUE(movie.SetProperty(run.ctx(), Property::kStartTime, 1.5));
  EXPECT_EQ(movie.GetProperty(Property::kStartTime), PropertyAnswer(1.5));
  EXPECT_EQ(movie.GetProperty(Property::kEndTime), PropertyAnswer(4.0));
  EXPECT_FALSE(movie.SetProperty(run.ctx(), Property::kStartTime, std::string("soon")));
  EXPECT_EQ(movie.startMs, 1500u);
}

}  // namespace
}  // namespace kv
