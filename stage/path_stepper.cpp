#include "stage/path_stepper.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <mutex>

#include "platform/log.h"
#include "stage/compositor.h"
#include "stage/locks.h"
#include "stage/sprite.h"

namespace kv {

namespace {

constexpr float kCurveStep = 0.002f;
constexpr float kFirstInner = 0.22f;
constexpr float kSecondInner = 0.78f;

// The interpolated values of a position before it becomes a pose.
struct Values {
  int x, y, w, h, sl, st, sr, sb, delay, step, layer;
};

Values Of(const PathWaypoint& n) {
  return {n.x, n.y, n.width, n.height, n.srcLeft, n.srcTop, n.srcRight, n.srcBottom, n.stepDelay, n.minStep, n.layer};
}

// v_a + (v_b - v_a) * num / den, truncating, for every value; the layer only
// when asked, otherwise a's.
Values Between(const Values& a, const Values& b, int64_t num, int64_t den, bool layer) {
  auto f = [&](int va, int vb) { return int(va + (int64_t(vb) - va) * num / den); };
  return {f(a.x, b.x),   f(a.y, b.y),         f(a.w, b.w),         f(a.h, b.h),
          f(a.sl, b.sl), f(a.st, b.st),       f(a.sr, b.sr),       f(a.sb, b.sb),
          f(a.delay, b.delay), f(a.step, b.step), layer ? f(a.layer, b.layer) : a.layer};
}

PathPose ToPose(const Values& v) {
  PathPose p;
  p.rect.left = v.x - v.w / 2;
  p.rect.top = v.y - v.h / 2;
  p.rect.right = p.rect.left + v.w;
  p.rect.bottom = p.rect.top + v.h;
  p.src = {v.sl, v.st, v.sr, v.sb};
  p.layer = v.layer;
  p.stepDelay = v.delay;
  p.minStep = v.step;
  p.centre = {v.x, v.y};
  return p;
}

// Whether a position differs enough from the last one shown to be shown.
bool Moved(const PathPose& last, const PathPose& p) {
  if (p.layer != last.layer) return true;
  const int step = std::max(p.minStep, 1);
  const int a[8] = {p.rect.left, p.rect.top, p.rect.right, p.rect.bottom, p.src.left, p.src.top, p.src.right, p.src.bottom};
  const int b[8] = {last.rect.left, last.rect.top, last.rect.right, last.rect.bottom,
                    last.src.left,  last.src.top,  last.src.right,  last.src.bottom};
  for (int i = 0; i < 8; ++i)
    if (std::abs(a[i] - b[i]) >= step) return true;
  return false;
}

}  // namespace

CurvePoint CurveThrough(const CurvePoint& p0, const CurvePoint& p1, const CurvePoint& p2, const CurvePoint& p3,
                        double t) {
  // B(t) = (1-t)^3 p0 + 3(1-t)^2 t c1 + 3(1-t) t^2 c2 + t^3 p3, with c1 and c2
  // solved from B(0.22) = p1 and B(0.78) = p2.
  const double t1 = 0.22, t2 = 0.78;
  const double a1 = 3 * (1 - t1) * (1 - t1) * t1, b1 = 3 * (1 - t1) * t1 * t1;
  const double a2 = 3 * (1 - t2) * (1 - t2) * t2, b2 = 3 * (1 - t2) * t2 * t2;
  const double det = a1 * b2 - a2 * b1;
  auto solve = [&](double v0, double v1, double v2, double v3, double* c1, double* c2) {
    const double r1 = v1 - std::pow(1 - t1, 3) * v0 - std::pow(t1, 3) * v3;
    const double r2 = v2 - std::pow(1 - t2, 3) * v0 - std::pow(t2, 3) * v3;
    *c1 = (r1 * b2 - r2 * b1) / det;
    *c2 = (a1 * r2 - a2 * r1) / det;
  };
  double cx1, cx2, cy1, cy2;
  solve(p0.x, p1.x, p2.x, p3.x, &cx1, &cx2);
  solve(p0.y, p1.y, p2.y, p3.y, &cy1, &cy2);
  const double u = 1 - t;
  auto at = [&](double v0, double c1, double c2, double v3) {
    return u * u * u * v0 + 3 * u * u * t * c1 + 3 * u * t * t * c2 + t * t * t * v3;
  };
  return {at(p0.x, cx1, cx2, p3.x), at(p0.y, cy1, cy2, p3.y)};
}

PathStepper::PathStepper(std::vector<PathWaypoint> nodes, PathOptions options)
    : nodes_(std::move(nodes)), options_(options) {}

PathPose PathStepper::NodePose(size_t j) const { return ToPose(Of(nodes_.at(j))); }

int PathStepper::Walk(const std::function<bool(const PathPose&)>& pose,
                      const std::function<void(size_t, uint32_t)>& event) const {
  const int last = int(nodes_.size()) - 1;
  // One segment or none: the object only takes its start.
  if (last <= 1) return last < 0 ? -1 : 0;
  const bool layers = options_.interpolateLayer;
  int k = 0;
  while (k < last) {
    const PathWaypoint& n = nodes_[size_t(k)];
    int kind = n.segmentKind, span = n.segmentSpan;
    if ((kind & ~kAlternateSet) == 0) kind |= kCurveSegment, span = 3;
    // A span of 0 would never advance; one past the last node stops there.
    const int end = std::min(k + std::max(span, 1), last);
    if (bool(kind & kAlternateSet) != options_.alternateSet) {
      k = end;
      continue;
    }
    event(size_t(k), n.event);
    if ((kind & ~kAlternateSet) == kCurveSegment && k + 3 <= last) {
      const Values v[4] = {Of(nodes_[size_t(k)]), Of(nodes_[size_t(k + 1)]), Of(nodes_[size_t(k + 2)]),
                           Of(nodes_[size_t(k + 3)])};
      const CurvePoint c[4] = {{double(v[0].x), double(v[0].y)},
                               {double(v[1].x), double(v[1].y)},
                               {double(v[2].x), double(v[2].y)},
                               {double(v[3].x), double(v[3].y)}};
      bool first = false, second = false;
      for (float t = kCurveStep; t + kCurveStep < 1.0f; t += kCurveStep) {
        if (!first && t >= kFirstInner) event(size_t(k + 1), nodes_[size_t(k + 1)].event), first = true;
        if (!second && t >= kSecondInner) event(size_t(k + 2), nodes_[size_t(k + 2)].event), second = true;
        const float ms = t * 1000;
        const int span3 = t < kFirstInner ? 0 : t < kSecondInner ? 1 : 2;
        const float from = span3 == 0 ? 0 : span3 == 1 ? 220 : 780, length = span3 == 0 ? 220 : span3 == 1 ? 560 : 219;
        // Fractions in millionths keep the interpolation in integers.
        const int64_t num = std::min<int64_t>(std::llround((ms - from) / length * 1e6), 1000000);
        Values at = Between(v[span3], v[span3 + 1], num, 1000000, layers);
        const CurvePoint p = CurveThrough(c[0], c[1], c[2], c[3], t);
        at.x = int(std::lround(p.x));
        at.y = int(std::lround(p.y));
        if (!pose(ToPose(at))) return -1;
      }
    } else {
      const Values a = Of(nodes_[size_t(k)]), b = Of(nodes_[size_t(end)]);
      // Equal centres: one step straight to the end.
      const int steps = std::max({std::abs(b.x - a.x), std::abs(b.y - a.y), 1});
      for (int s = 1; s <= steps; ++s)
        if (!pose(ToPose(Between(a, b, s, steps, layers)))) return -1;
    }
    k = end;
  }
  return k;
}

bool PathStepper::Play(PathMover& mover, StepClock& clock) const {
  if (nodes_.empty()) return true;
  PathPose last = NodePose(0);
  const int reached = Walk(
      [&](const PathPose& p) {
        if (!Moved(last, p)) return true;
        if (!clock.Delay(p.stepDelay)) return false;
        mover.Move(p);
        last = p;
        return true;
      },
      [&](size_t node, uint32_t code) {
        mover.PassedNode(node);
        mover.NodeEvent(code);
      });
  if (reached < 0) return false;
  mover.PassedNode(size_t(reached));
  mover.Move(NodePose(size_t(reached)));
  mover.NodeEvent(nodes_[size_t(reached)].event);
  return true;
}

std::vector<PathPose> PathStepper::Samples() const {
  std::vector<PathPose> out;
  if (nodes_.empty()) return out;
  out.push_back(NodePose(0));
  const int reached = Walk(
      [&](const PathPose& p) {
        out.push_back(p);
        return true;
      },
      [](size_t, uint32_t) {});
  if (reached > 0) out.push_back(NodePose(size_t(reached)));
  return out;
}

std::optional<PathPose> PathStepper::Nearest(Point p) const {
  std::optional<PathPose> best;
  int64_t bestDistance = 0;
  for (const PathPose& s : Samples()) {
    const int64_t dx = s.centre.x - p.x, dy = s.centre.y - p.y, d = dx * dx + dy * dy;
    if (!best || d < bestDistance) best = s, bestDistance = d;
  }
  return best;
}

void SpriteMover::Move(const PathPose& pose) {
  Rect src = pose.src;
  // A node without a source rectangle shows the whole picture.
  if (src.IsEmpty()) src = sprite_.Picture().Bounds();
  sprite_.MoveWithSource(pose.rect, src, uint16_t(std::clamp(pose.layer, 0, 0xFFFF)));
  if (sprite_.owner && env_) env_->MovedOnPath(sprite_, node_, pose.rect);
}

void SpriteMover::NodeEvent(uint32_t code) {
  if (sprite_.owner && env_) env_->NodeReached(sprite_, code);
}

StagePathPlayer::StagePathPlayer(EffectClock& clock, NodeReader reader, Pacing pacing, AbortCheck abort)
    : clock_(clock), reader_(std::move(reader)), pacing_(pacing), abort_(std::move(abort)) {}

void StagePathPlayer::Play(StageSprite& sprite, const MotionPath& path) {
  std::optional<std::vector<PathWaypoint>> nodes;
  if (reader_) nodes = reader_(path);
  if (!nodes) {
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true)) Log("Motion paths of the older layouts are not played; objects stay at their rectangles");
    return;
  }
  Compositor* c;
  {
    std::lock_guard lock(sprite.Lock());
    c = sprite.compositor ? sprite.compositor : &StageCompositor();
  }
  StageEnvironment& env = c->Environment();
  const uint16_t abortKey = sprite.effectAbortKey;
  StepClock clock(clock_, 0, pacing_, [&] {
    return sprite.motion.stopMotion || (sprite.owner && env.OwnerStopping(sprite)) || env.StopRequested() ||
           env.ShuttingDown() || (abort_ && abort_(abortKey));
  });
  clock.Start(1);
  SpriteMover mover(sprite, &env);
  PathStepper(std::move(*nodes)).Play(mover, clock);
}

}  // namespace kv
