#include "stage/path_stepper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "stage/compositor.h"
#include "tests/stage/stage_test_util.h"

namespace kv {
namespace {

using namespace kv::test;

PathWaypoint Node(int x, int y, uint8_t kind = kStraightSegment, uint16_t span = 1, uint32_t event = 0,
                  int minStep = 1, int delay = 0) {
  PathWaypoint n;
  n.x = int16_t(x), n.y = int16_t(y), n.width = 10, n.height = 6;
  n.srcLeft = 0, n.srcTop = 0, n.srcRight = 10, n.srcBottom = 6;
  n.segmentKind = kind, n.segmentSpan = span, n.event = event;
  n.minStep = minStep, n.stepDelay = delay;
  return n;
}

PathWaypoint Wider(PathWaypoint n) {
  n.width = 20;
  return n;
}

struct Recorder : PathMover {
  void Move(const PathPose& p) override {
    poses.push_back(p);
    log.push_back("move");
  }
  void NodeEvent(uint32_t code) override { log.push_back("event " + std::to_string(code)); }
  std::vector<PathPose> poses;
  std::vector<std::string> log;
};

bool Play(const std::vector<PathWaypoint>& nodes, Recorder& r, EffectClock& clock,
          std::function<bool()> interrupted = {}, PathOptions options = {}) {
  StepClock steps(clock, 0, Pacing::kSleep, std::move(interrupted));
  steps.Start(1);
  return PathStepper(nodes, options).Play(r, steps);
}

TEST(PathStepper, StraightSpanStepsAlongTheLongerAxis) {
  // (0, 0) to (30, 40): 40 steps, x = 30 * a / 40 truncated; one more step
  // to (30, 41) and the final put.
  ManualEffectClock clock;
  Recorder r;
  ASSERT_TRUE(Play({Node(0, 0, kStraightSegment, 1, 0, 1, 3), Node(30, 40), Node(30, 41)}, r, clock));
  ASSERT_EQ(r.poses.size(), 42u);
  struct Case {
    int a, x, y;
  } cases[] = {{1, 0, 1}, {2, 1, 2}, {20, 15, 20}, {39, 29, 39}, {40, 30, 40}};
  for (const Case& k : cases) {
    EXPECT_EQ(r.poses[size_t(k.a - 1)].centre, (Point{k.x, k.y})) << k.a;
    // The rectangle by centre and size: left = x - 10 / 2, top = y - 6 / 2.
    EXPECT_EQ(r.poses[size_t(k.a - 1)].rect, (Rect{k.x - 5, k.y - 3, k.x + 5, k.y + 3})) << k.a;
  }
  EXPECT_EQ(r.poses.back().centre, (Point{30, 41}));
  // The step delay falls from 3 to 0 along the span, 3 - 3 * a / 40: 3 for
  // a = 1..13, 2 for 14..26, 1 for 27..39, 0 at 40 and on the next span.
  EXPECT_EQ(clock.NowMs(), 3 * 13 + 2 * 13 + 1 * 13);
}

TEST(PathStepper, MinimumStepSkipsSmallMoves) {
  ManualEffectClock clock;
  Recorder r;
  ASSERT_TRUE(Play({Node(0, 0, kStraightSegment, 1, 0, 5), Node(30, 40, kStraightSegment, 1, 0, 5),
                    Node(30, 45, kStraightSegment, 1, 0, 5)},
                   r, clock));
  // y moves 1 per step, so every fifth step is shown: 8 positions to (30, 40),
  // one at (30, 45) and the final put.
  ASSERT_EQ(r.poses.size(), 10u);
  EXPECT_EQ(r.poses[0].centre, (Point{3, 5}));
  EXPECT_EQ(r.poses[1].centre, (Point{7, 10}));
  EXPECT_EQ(r.poses[7].centre, (Point{30, 40}));
}

TEST(PathStepper, CurvePassesThroughItsInnerNodes) {
  const CurvePoint p0{0, 0}, p1{100, 50}, p2{200, -20}, p3{300, 100};
  const CurvePoint at1 = CurveThrough(p0, p1, p2, p3, 0.22), at2 = CurveThrough(p0, p1, p2, p3, 0.78);
  EXPECT_NEAR(at1.x, 100, 1e-9);
  EXPECT_NEAR(at1.y, 50, 1e-9);
  EXPECT_NEAR(at2.x, 200, 1e-9);
  EXPECT_NEAR(at2.y, -20, 1e-9);

  // Sampled every 0.002: some sample lands within half a pixel of each inner node.
  const std::vector<PathWaypoint> nodes{Node(0, 0, kCurveSegment, 3, 1), Node(40, 30, kCurveSegment, 1, 2),
                                        Node(110, 10, kCurveSegment, 1, 3), Node(160, 60, kStraightSegment, 1, 4)};
  const std::vector<PathPose> samples = PathStepper(nodes).Samples();
  for (const Point node : {Point{40, 30}, Point{110, 10}}) {
    double nearest = 1e9;
    for (const PathPose& p : samples) nearest = std::min(nearest, std::hypot(p.centre.x - node.x, p.centre.y - node.y));
    EXPECT_LE(nearest, 0.5) << node.x << "," << node.y;
  }
  ManualEffectClock clock;
  Recorder r;
  ASSERT_TRUE(Play(nodes, r, clock));
  EXPECT_EQ(r.poses.back().centre, (Point{160, 60}));
  EXPECT_LE(r.poses.size(), 500u);
}

TEST(PathStepper, NodeEventsComeInOrder) {
  ManualEffectClock clock;
  Recorder r;
  ASSERT_TRUE(Play({Node(0, 0, kStraightSegment, 1, 10), Node(2, 0, kCurveSegment, 3, 11), Node(4, 4, 0, 0, 12),
                    Node(6, 0, 0, 0, 13), Node(8, 0, 0, 0, 14)},
                   r, clock));
  std::vector<std::string> events;
  for (const std::string& s : r.log)
    if (s != "move") events.push_back(s);
  EXPECT_EQ(events, (std::vector<std::string>{"event 10", "event 11", "event 12", "event 13", "event 14"}));
}

TEST(PathStepper, DegenerateSpansStillEnd) {
  struct Case {
    const char* name;
    std::vector<PathWaypoint> nodes;
    Point end;
    size_t moves;
  } cases[] = {
      // A span of 0 advances by one.
      {"span0", {Node(0, 0, kStraightSegment, 0), Node(3, 0, kStraightSegment, 0), Node(3, 2)}, {3, 2}, 6},
      // A span past the last node stops there.
      {"pastEnd", {Node(0, 0, kStraightSegment, 1), Node(0, 4, kStraightSegment, 900), Node(2, 4)}, {2, 4}, 7},
      // Equal centres (the size changes): one step to the end, then the put.
      {"sameCentre", {Node(5, 5), Wider(Node(5, 5)), Node(5, 7)}, {5, 7}, 4},
      // A kind-0 node is a curve; without three spans after it, it goes straight.
      {"shortCurve", {Node(0, 0), Node(0, 2, 0, 7), Node(0, 3)}, {0, 3}, 4},
      // One segment or none: the object only takes its start.
      {"oneSegment", {Node(1, 1), Node(40, 40)}, {1, 1}, 1},
      {"noSegment", {Node(1, 1)}, {1, 1}, 1},
  };
  for (const Case& k : cases) {
    ManualEffectClock clock;
    Recorder r;
    ASSERT_TRUE(Play(k.nodes, r, clock)) << k.name;
    ASSERT_FALSE(r.poses.empty()) << k.name;
    EXPECT_EQ(r.poses.back().centre, k.end) << k.name;
    EXPECT_EQ(r.poses.size(), k.moves) << k.name;
  }
}

// A path that only changes the part of the picture shown (frames of a strip)
// moves at every node although the rectangle stays.
TEST(PathStepper, SourceRectangleAloneIsAMove) {
  std::vector<PathWaypoint> nodes;
  for (int frame = 0; frame < 4; ++frame) {
    PathWaypoint n = Node(5, 5);
    n.srcLeft = int16_t(10 * frame), n.srcRight = int16_t(10 * frame + 10);
    nodes.push_back(n);
  }
  ManualEffectClock clock;
  Recorder r;
  ASSERT_TRUE(Play(nodes, r, clock));
  // One step per segment, then the put at the last node.
  const std::vector<int> lefts{10, 20, 30, 30};
  ASSERT_EQ(r.poses.size(), lefts.size());
  for (size_t i = 0; i < lefts.size(); ++i) {
    EXPECT_EQ(r.poses[i].src, (Rect{lefts[i], 0, lefts[i] + 10, 6})) << i;
    EXPECT_EQ(r.poses[i].rect, (Rect{0, 2, 10, 8})) << i;
  }
}

TEST(PathStepper, AlternateSetIsPlayedOnlyWhenAsked) {
  const std::vector<PathWaypoint> nodes{Node(0, 0, kStraightSegment | kAlternateSet), Node(0, 10), Node(0, 12)};
  ManualEffectClock clock;
  Recorder normal, alternate;
  ASSERT_TRUE(Play(nodes, normal, clock));
  ASSERT_TRUE(Play(nodes, alternate, clock, {}, {true, false}));
  EXPECT_EQ(normal.poses.size(), 3u);      // only the second segment's 2 steps and the put
  EXPECT_EQ(alternate.poses.size(), 11u);  // only the first segment's 10 steps and the put
}

TEST(PathStepper, LayerFollowsTheStartNodeUnlessInterpolated) {
  std::vector<PathWaypoint> nodes{Node(0, 0), Node(0, 10), Node(0, 11)};
  nodes[0].layer = 10, nodes[1].layer = 20, nodes[2].layer = 20;
  ManualEffectClock clock;
  Recorder kept, blended;
  ASSERT_TRUE(Play(nodes, kept, clock));
  ASSERT_TRUE(Play(nodes, blended, clock, {}, {false, true}));
  EXPECT_EQ(kept.poses[4].layer, 10);
  EXPECT_EQ(blended.poses[4].layer, 15);  // 10 + 10 * 5 / 10
}

TEST(PathStepper, InterruptionStopsWithoutTheFinalPut) {
  ManualEffectClock clock;
  Recorder r;
  int asked = 0;
  EXPECT_FALSE(Play({Node(0, 0), Node(0, 50), Node(0, 60)}, r, clock, [&] { return ++asked > 6; }));
  EXPECT_EQ(r.poses.size(), 3u);
  EXPECT_EQ(r.poses.back().centre, (Point{0, 3}));
}

TEST(PathStepper, NearestSampleForDragging) {
  const PathStepper path({Node(0, 0), Node(30, 40), Node(30, 41)});
  struct Case {
    Point mouse, want;
  } cases[] = {{{15, 20}, {15, 20}}, {{23, 14}, {15, 20}}, {{-50, -50}, {0, 0}}, {{30, 100}, {30, 41}}};
  for (const Case& k : cases) {
    const auto p = path.Nearest(k.mouse);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->centre, k.want) << k.mouse.x << "," << k.mouse.y;
  }
  EXPECT_FALSE(PathStepper({}).Nearest({0, 0}));
}

// What the stage hears of a sprite's owner while a path moves the sprite,
// and of sprites going away.
struct PathEnvironment : FakeEnvironment {
  bool OwnerStopping(const StageSprite&) override { return ownerStopped; }
  void NodeReached(StageSprite& s, uint32_t code) override {
    codes.push_back(code);
    reachedBy.push_back(&s);
  }
  void MovedOnPath(StageSprite&, size_t node, const Rect& r) override {
    lastNode = node;
    lastRect = r;
    ++moves;
  }
  void SpriteGone(const StageSprite& s) override { gone.push_back(reinterpret_cast<uintptr_t>(&s)); }
  bool ownerStopped = false;
  std::vector<uint32_t> codes;
  std::vector<const StageSprite*> reachedBy;
  std::vector<uintptr_t> gone;  // addresses of sprites already destroyed
  size_t lastNode = 0;
  Rect lastRect;
  int moves = 0;
};

TEST(StagePathPlayer, TellsTheStageOfTheOwnersNodesAndSteps) {
  const struct Case {
    const char* name;
    bool owned, ownerStopped;
    std::vector<uint32_t> codes;
    bool reachesTheEnd;
  } cases[] = {
      {"owned", true, false, {7, 8, 9}, true},
      // Without an owner there is nobody to tell; the sprite still moves.
      {"unowned", false, false, {}, true},
      // An owner that has stopped playing ends the path at its first step,
      // after the start node's event.
      {"owner stopped", true, true, {7}, false},
  };
  for (const Case& k : cases) {
    PathEnvironment env;
    env.ownerStopped = k.ownerStopped;
    Compositor c{CompositorRole::kStage};
    ASSERT_EQ(c.Initialise({0, 0, 64, 48}, kBack, PixelFormat::kXrgb32, nullptr), 0);
    c.SetEnvironment(&env);
    ManualEffectClock clock;
    std::vector<PathWaypoint> nodes{Node(10, 10, kStraightSegment, 1, 7), Node(20, 10, kStraightSegment, 1, 8),
                                    Node(20, 30, kStraightSegment, 1, 9)};
    nodes[2].srcRight = 5;  // the last node shows the left half of the picture
    bool readerAsked = false;
    StagePathPlayer player(clock, [&](const MotionPath&) {
      readerAsked = true;
      return std::optional(nodes);
    });
    c.SetPathPlayer(&player);
    {
      StageSprite s;
      FakeOwner owner;
      if (k.owned) s.owner = &owner;
      Place(s, Solid24(10, 6, kRed), {5, 7, 15, 13}, 5);
      c.Add(s, true);
      const MotionPath* path = nullptr;
      s.PlayPath(*reinterpret_cast<const MotionPath*>(&path));  // the reader never looks at the block
      EXPECT_TRUE(readerAsked) << k.name;
      EXPECT_EQ(env.codes, k.codes) << k.name;
      for (const StageSprite* by : env.reachedBy) EXPECT_EQ(by, &s) << k.name;
      EXPECT_EQ(s.rect == (Rect{15, 27, 25, 33}), k.reachesTheEnd) << k.name;
      EXPECT_EQ(s.moving, 0) << k.name;
      if (k.name == std::string("owned")) {
        EXPECT_EQ(s.srcRect, (Rect{0, 0, 5, 6}));
        EXPECT_EQ(c.Snapshot().GetPixel(20, 30), kRed);
        EXPECT_EQ(env.lastRect, s.rect);
        EXPECT_EQ(env.lastNode, 2u);
      } else {
        // Steps are told only of an owned sprite that moves.
        EXPECT_EQ(env.moves, 0) << k.name;
      }
      EXPECT_TRUE(env.gone.empty()) << k.name;
    }
    // The sprite went while on the compositor: the stage heard of it.
    EXPECT_EQ(env.gone.size(), 1u) << k.name;
  }
}

TEST(StageSprite, OnlyASpriteOfACompositorTellsItsStageItGoes) {
  PathEnvironment env;
  Compositor c{CompositorRole::kStage};
  ASSERT_EQ(c.Initialise({0, 0, 16, 16}, kBack, PixelFormat::kXrgb32, nullptr), 0);
  c.SetEnvironment(&env);
  uintptr_t onOne = 0;
  {
    StageSprite on, off;
    Place(on, Solid24(4, 4, kRed), {0, 0, 4, 4}, 1);
    on.compositor = &c;
    onOne = reinterpret_cast<uintptr_t>(&on);
  }
  EXPECT_EQ(env.gone, std::vector<uintptr_t>{onOne});
}

TEST(StagePathPlayer, OlderLayoutsLeaveTheSpriteInPlace) {
  ManualEffectClock clock;
  StagePathPlayer player(clock, [](const MotionPath&) { return std::optional<std::vector<PathWaypoint>>(); });
  StageSprite s;
  Place(s, Solid24(10, 6, kRed), {5, 7, 15, 13}, 5);
  const MotionPath* path = nullptr;
  player.Play(s, *reinterpret_cast<const MotionPath*>(&path));
  EXPECT_EQ(s.rect, (Rect{5, 7, 15, 13}));
}

}  // namespace
}  // namespace kv
