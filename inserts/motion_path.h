// MotionPath: the node block a visible insert may own, kept as the exact
// stored bytes (so every path type writes back unchanged) with typed access
// to the header and to the nodes of the current (type-4) layout. The visible
// insert reads and writes it; the stage's path player walks its nodes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "engine/insert.h"

namespace kv {

class Archive;
class FieldVisitor;

struct PathNode {
  int32_t stepDelay = 0;
  int32_t minStep = 0;
  uint8_t nodeLayer = 0;
  uint8_t segmentKind = 0;
  uint16_t segmentSpan = 0;
  uint32_t nodeEvent = 0;
  int16_t centerX = 0, centerY = 0, width = 0, height = 0;
  int16_t sourceLeft = 0, sourceTop = 0, sourceRight = 0, sourceBottom = 0;
};

struct MotionPath {
  static constexpr size_t kHeaderBytes = 12;
  static constexpr int32_t kNodeType = 4;  // the layout with nodes, the only one that can be dragged
  static constexpr size_t kNodeBytes = 32;
  static constexpr size_t kFirstNodeOffset = 24;

  // The whole block, header included, as stored.
  std::vector<uint8_t> bytes;

  int32_t PathType() const { return Word(0); }
  int32_t PathValue() const { return Word(4); }
  int32_t PointCount() const { return Word(8); }

  // The stored size of a block of `type` with `pointCount` points; none for
  // an unknown type or a count no block can have.
  static std::optional<uint64_t> StoredSize(int32_t type, int32_t pointCount);

  // Type 4 only: node j of PointCount() + 1.
  size_t NodeCount() const;
  PathNode GetNode(size_t j) const;
  void SetNode(size_t j, const PathNode& node);
  // The rectangle a sprite takes before it moves: node 0's centre and size.
  // Only the type-4 layout has one.
  std::optional<Rect> StartRect() const;

  // A type-4 block with `pointCount` segments and zeroed nodes.
  static std::unique_ptr<MotionPath> MakeNodePath(int32_t pathValue, int32_t pointCount);

  // Reads a whole block, refusing sizes the input cannot hold.
  static std::unique_ptr<MotionPath> Read(Archive& ar);
  void Write(Archive& ar) const;
  // The block's fields for dump and pack; `path` is created when packing.
  static void Describe(FieldVisitor& v, std::unique_ptr<MotionPath>& path);

 private:
  int32_t Word(size_t offset) const;
};

}  // namespace kv
