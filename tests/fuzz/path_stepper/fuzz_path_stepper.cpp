// Reads arbitrary bytes as the 32-byte nodes of a stored type-4 path (the
// first byte picks the segment set) and walks them: every walk must end, the
// final put must be a node, and the drag track must answer for any point.
#include <cstdint>
#include <cstring>
#include <vector>

#include "stage/path_stepper.h"

namespace {

template <typename T>
T Read(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // stored little-endian, as this host is
  return v;
}

struct Counter : kv::PathMover {
  void Move(const kv::PathPose& p) override { last = p, ++moves; }
  void NodeEvent(uint32_t) override {}
  kv::PathPose last;
  size_t moves = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const kv::PathOptions options{bool(data[0] & 1), bool(data[0] & 2)};
  std::vector<kv::PathWaypoint> nodes;
  // Short walks keep each input fast: at most 64 nodes.
  for (size_t at = 1; at + 32 <= size && nodes.size() < 64; at += 32) {
    const uint8_t* p = data + at;
    kv::PathWaypoint n;
    n.stepDelay = Read<int32_t>(p), n.minStep = Read<int32_t>(p + 4);
    n.layer = p[8], n.segmentKind = p[9], n.segmentSpan = Read<uint16_t>(p + 10), n.event = Read<uint32_t>(p + 12);
    n.x = Read<int16_t>(p + 16), n.y = Read<int16_t>(p + 18), n.width = Read<int16_t>(p + 20);
    n.height = Read<int16_t>(p + 22), n.srcLeft = Read<int16_t>(p + 24), n.srcTop = Read<int16_t>(p + 26);
    n.srcRight = Read<int16_t>(p + 28), n.srcBottom = Read<int16_t>(p + 30);
    nodes.push_back(n);
  }
  const kv::PathStepper path(nodes, options);
  kv::ManualEffectClock clock;
  kv::StepClock steps(clock, 0, kv::Pacing::kNone, {});
  steps.Start(1);
  Counter mover;
  if (!path.Play(mover, steps)) __builtin_trap();  // nothing interrupts this walk
  if (!nodes.empty()) {
    bool atNode = false;
    for (size_t j = 0; j < nodes.size(); ++j) atNode |= path.NodePose(j) == mover.last;
    if (!atNode) __builtin_trap();
    if (!path.Nearest({int(data[0]) * 100 - 12800, 7})) __builtin_trap();
  }
  return 0;
}
