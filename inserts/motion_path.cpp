#include "inserts/motion_path.h"

#include <bit>
#include <cstring>
#include <string>

#include "persist/archive.h"
#include "persist/fields.h"
#include "persist/json_fields.h"

namespace kv {
namespace {

static_assert(std::endian::native == std::endian::little, "path blocks are read in place");

// A printed path larger than this is refused before anything is allocated.
constexpr uint64_t kMaxPackedPathBytes = uint64_t{1} << 28;

template <class T>
T Get(const std::vector<uint8_t>& b, size_t at) {
  T v;
  std::memcpy(&v, b.data() + at, sizeof v);  // the host is little-endian like the file
  return v;
}

template <class T>
void Put(std::vector<uint8_t>& b, size_t at, T v) {
  std::memcpy(b.data() + at, &v, sizeof v);
}

// The node fields in stored order, for reading, writing and printing alike.
template <class F>
void EachNodeField(PathNode& n, F&& f) {
  f("stepDelay", n.stepDelay);
  f("minStep", n.minStep);
  f("nodeLayer", n.nodeLayer);
  f("segmentKind", n.segmentKind);
  f("segmentSpan", n.segmentSpan);
  f("nodeEvent", n.nodeEvent);
  f("centerX", n.centerX);
  f("centerY", n.centerY);
  f("width", n.width);
  f("height", n.height);
  f("sourceLeft", n.sourceLeft);
  f("sourceTop", n.sourceTop);
  f("sourceRight", n.sourceRight);
  f("sourceBottom", n.sourceBottom);
}

}  // namespace

int32_t MotionPath::Word(size_t offset) const {
  return bytes.size() >= offset + 4 ? Get<int32_t>(bytes, offset) : 0;
}

std::optional<uint64_t> MotionPath::StoredSize(int32_t type, int32_t pointCount) {
  // 64-bit arithmetic: a hostile count must not wrap to a small size.
  const int64_t n = pointCount;
  if (type == 3) return 72;
  if (n < 0) return std::nullopt;
  switch (type) {
    case 0:
      return static_cast<uint64_t>(6 * n + 16);
    case 1:
      return static_cast<uint64_t>(10 * n + 20);
    case 2:
      return static_cast<uint64_t>(18 * n + 28);
    case 4:
      return static_cast<uint64_t>(32 * n + 56);
    default:
      return std::nullopt;
  }
}

size_t MotionPath::NodeCount() const {
  if (PathType() != kNodeType || PointCount() < 0) return 0;
  return static_cast<size_t>(PointCount()) + 1;
}

PathNode MotionPath::GetNode(size_t j) const {
  PathNode n;
  if (j >= NodeCount()) return n;
  size_t at = kFirstNodeOffset + j * kNodeBytes;
  EachNodeField(n, [&](const char*, auto& field) {
    field = Get<std::remove_reference_t<decltype(field)>>(bytes, at);
    at += sizeof field;
  });
  return n;
}

void MotionPath::SetNode(size_t j, const PathNode& node) {
  if (j >= NodeCount()) return;
  PathNode n = node;
  size_t at = kFirstNodeOffset + j * kNodeBytes;
  EachNodeField(n, [&](const char*, auto& field) {
    Put(bytes, at, field);
    at += sizeof field;
  });
}

std::optional<Rect> MotionPath::StartRect() const {
  // Other layouts have no node at this offset; reading it there gave garbage.
  if (NodeCount() == 0) return std::nullopt;
  const PathNode first = GetNode(0);
  Rect r;
  r.left = first.centerX - first.width / 2;
  r.top = first.centerY - first.height / 2;
  r.right = r.left + first.width;
  r.bottom = r.top + first.height;
  return r;
}

std::unique_ptr<MotionPath> MotionPath::MakeNodePath(int32_t pathValue, int32_t pointCount) {
  auto path = std::make_unique<MotionPath>();
  path->bytes.assign(*StoredSize(kNodeType, pointCount < 0 ? 0 : pointCount), 0);
  Put(path->bytes, 0, kNodeType);
  Put(path->bytes, 4, pathValue);
  Put(path->bytes, 8, pointCount < 0 ? 0 : pointCount);
  return path;
}

std::unique_ptr<MotionPath> MotionPath::Read(Archive& ar) {
  auto path = std::make_unique<MotionPath>();
  path->bytes = ar.ReadBlock(kHeaderBytes);
  const auto size = StoredSize(path->PathType(), path->PointCount());
  if (!size)
    ar.Fail(CArchiveException::badIndex, "path: pathType " + std::to_string(path->PathType()) + " with pointCount " +
                                             std::to_string(path->PointCount()));
  const uint64_t rest = *size - kHeaderBytes;
  if (rest > ar.Remaining()) ar.Fail(CArchiveException::endOfFile, "path: block larger than the data left");
  std::vector<uint8_t> tail = ar.ReadBlock(static_cast<size_t>(rest));
  path->bytes.insert(path->bytes.end(), tail.begin(), tail.end());
  return path;
}

void MotionPath::Write(Archive& ar) const {
  const auto size = StoredSize(PathType(), PointCount());
  if (bytes.size() < kHeaderBytes || !size || *size != bytes.size())
    ar.Fail(CArchiveException::genericException, "path: block size does not match its pathType and pointCount");
  ar.WriteBytes(bytes.data(), bytes.size());
}

void MotionPath::Describe(FieldVisitor& v, std::unique_ptr<MotionPath>& path) {
  int32_t type = path ? path->PathType() : 0;
  int32_t value = path ? path->PathValue() : 0;
  int32_t count = path ? path->PointCount() : 0;
  v.Field("pathType", type);
  v.Field("pathValue", value);
  v.Field("pointCount", count);
  const auto size = StoredSize(type, count);
  if (v.IsReading() && (!size || *size > kMaxPackedPathBytes))
    throw JsonFieldError("path: pathType " + std::to_string(type) + " with pointCount " + std::to_string(count) +
                         " is not a stored layout");
  if (v.IsReading()) {
    path = std::make_unique<MotionPath>();
    path->bytes.assign(static_cast<size_t>(*size), 0);
    Put(path->bytes, 0, type);
    Put(path->bytes, 4, value);
    Put(path->bytes, 8, count);
  }
  MotionPath& p = *path;
  if (type != kNodeType) {
    // Older layouts are carried as their stored bytes.
    std::vector<uint8_t> data(p.bytes.begin() + kHeaderBytes, p.bytes.end());
    v.Field("data", data);
    if (v.IsReading()) {
      if (data.size() != p.bytes.size() - kHeaderBytes)
        throw JsonFieldError("path.data: " + std::to_string(p.bytes.size() - kHeaderBytes) +
                             " bytes expected for this pathType and pointCount");
      std::copy(data.begin(), data.end(), p.bytes.begin() + kHeaderBytes);
    }
    return;
  }
  std::vector<uint8_t> reserved(p.bytes.begin() + kHeaderBytes, p.bytes.begin() + kFirstNodeOffset);
  v.Field("reserved", reserved);
  if (v.IsReading()) {
    if (reserved.size() != kFirstNodeOffset - kHeaderBytes) throw JsonFieldError("path.reserved: 12 bytes expected");
    std::copy(reserved.begin(), reserved.end(), p.bytes.begin() + kHeaderBytes);
  }
  std::vector<PathNode> nodes;
  for (size_t j = 0; j < p.NodeCount(); ++j) nodes.push_back(p.GetNode(j));
  v.Records("nodes", nodes, [&v](PathNode& n) { EachNodeField(n, [&v](const char* name, auto& f) { v.Field(name, f); }); });
  if (v.IsReading()) {
    if (nodes.size() != p.NodeCount())
      throw JsonFieldError("path.nodes: pointCount + 1 = " + std::to_string(p.NodeCount()) + " nodes expected");
    for (size_t j = 0; j < nodes.size(); ++j) p.SetNode(j, nodes[j]);
  }
}

}  // namespace kv
