// Run-time stepping of type-4 motion paths: walks straight and curved spans
// of a node list (plain data, read from the stored block by its owner),
// shows positions through a mover paced by a StepClock, raises node events,
// and finds the nearest sampled position for dragging. The stored block is
// never written. StagePathPlayer is the compositor's path hook on top of it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/geometry.h"
#include "stage/hooks.h"
#include "stage/step_clock.h"

namespace kv {

class StageSprite;

// One node as stored: the sprite's rectangle by centre and size, its source
// rectangle and layer, the pace near it and the segment that starts here.
struct PathWaypoint {
  int32_t stepDelay = 0;
  int32_t minStep = 0;
  uint8_t layer = 0;
  uint8_t segmentKind = 0;  // 1 curve, 2 straight; +128 in the alternate set; 0 a curve over 3 spans
  uint16_t segmentSpan = 0;
  uint32_t event = 0;
  int16_t x = 0, y = 0, width = 0, height = 0;
  int16_t srcLeft = 0, srcTop = 0, srcRight = 0, srcBottom = 0;
};

// A position on the path.
struct PathPose {
  Rect rect;
  Rect src;
  int layer = 0;
  int stepDelay = 0;
  int minStep = 0;
  Point centre;
  friend bool operator==(const PathPose&, const PathPose&) = default;
};

enum SegmentKind : uint8_t { kCurveSegment = 1, kStraightSegment = 2, kAlternateSet = 0x80 };

struct PathOptions {
  bool alternateSet = false;      // play the segments of the alternate set
  bool interpolateLayer = false;  // otherwise a segment keeps its start node's layer
};

// Where a played path goes.
class PathMover {
 public:
  virtual ~PathMover() = default;
  virtual void Move(const PathPose& pose) = 0;
  virtual void NodeEvent(uint32_t code) = 0;
  // The walk has reached node `node` (before its event).
  virtual void PassedNode(size_t /*node*/) {}
};

class PathStepper {
 public:
  PathStepper(std::vector<PathWaypoint> nodes, PathOptions options = {});

  // Plays the path: positions that moved at least the interpolated minimum
  // step are shown after the interpolated step delay; true when it ran to
  // the end (the mover then has the last node's pose), false when the clock
  // reported an interruption.
  bool Play(PathMover& mover, StepClock& clock) const;
  // Every position the walk passes, in order (the drag track).
  std::vector<PathPose> Samples() const;
  // The sampled position whose centre is nearest `p`; none for an empty path.
  std::optional<PathPose> Nearest(Point p) const;

  // The pose at node j.
  PathPose NodePose(size_t j) const;

 private:
  // Calls pose(...) for every position and event(...) for every node event;
  // stops when pose answers false. Answers the last node reached, or -1
  // when stopped.
  int Walk(const std::function<bool(const PathPose&)>& pose,
           const std::function<void(size_t node, uint32_t code)>& event) const;

  std::vector<PathWaypoint> nodes_;
  PathOptions options_;
};

// The cubic curve that starts at p0, ends at p3 and passes through p1 at
// t = 0.22 and p2 at t = 0.78; its value at t.
struct CurvePoint {
  double x, y;
};
CurvePoint CurveThrough(const CurvePoint& p0, const CurvePoint& p1, const CurvePoint& p2, const CurvePoint& p3,
                        double t);

// Moves a stage sprite to each shown pose and raises node events on its owner.
class SpriteMover : public PathMover {
 public:
  // `env` hears of the owner's nodes and steps; none: nobody does.
  explicit SpriteMover(StageSprite& sprite, StageEnvironment* env = nullptr) : sprite_(sprite), env_(env) {}
  void Move(const PathPose& pose) override;
  void NodeEvent(uint32_t code) override;
  void PassedNode(size_t node) override { node_ = node; }

 private:
  StageSprite& sprite_;
  StageEnvironment* env_;
  size_t node_ = 0;
};

// The compositor's path hook: reads the nodes through `reader` (installed by
// the layer that knows the stored block; none for layouts without nodes) and
// plays them on the sprite.
class StagePathPlayer : public PathPlayer {
 public:
  using NodeReader = std::function<std::optional<std::vector<PathWaypoint>>(const MotionPath&)>;
  using AbortCheck = std::function<bool(uint16_t abortKey)>;

  StagePathPlayer(EffectClock& clock, NodeReader reader, Pacing pacing = Pacing::kSleep, AbortCheck abort = {});
  void Play(StageSprite& sprite, const MotionPath& path) override;

 private:
  EffectClock& clock_;
  NodeReader reader_;
  Pacing pacing_;
  AbortCheck abort_;
};

}  // namespace kv
