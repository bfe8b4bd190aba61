#include "inserts/control_registry.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace kv {

namespace {

// One line per control the player provides.
constexpr ControlClass kControls[] = {
    {kWebBrowserClassId, "web browser", "web browser", ControlShow::kWidget},
    {kMediaPlayerClassId, "media player", "media player", ControlShow::kComposited},
};

struct MakerTable {
  std::mutex lock;
  std::map<std::string, CompositedControlMaker, std::less<>> makers;
};

MakerTable& Makers() {
  static MakerTable table;
  return table;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string FormatClassId(const ClassId& id) {
  const uint32_t data1 = uint32_t(id[0]) | uint32_t(id[1]) << 8 | uint32_t(id[2]) << 16 | uint32_t(id[3]) << 24;
  const unsigned data2 = unsigned(id[4]) | unsigned(id[5]) << 8;
  const unsigned data3 = unsigned(id[6]) | unsigned(id[7]) << 8;
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", unsigned(data1), data2, data3,
                id[8], id[9], id[10], id[11], id[12], id[13], id[14], id[15]);
  return text;
}

std::optional<ClassId> ParseClassId(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return std::nullopt;
  // The groups' bytes in the order they are written.
  uint8_t written[16];
  size_t n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) continue;
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    written[n++] = uint8_t(hi << 4 | lo);
    ++i;
  }
  ClassId id{};
  // Data1, Data2 and Data3 are numbers, stored little-endian; Data4 is bytes.
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) id[size_t(order[i])] = written[i];
  return id;
}

void SetCompositedControlMaker(std::string_view type, CompositedControlMaker maker) {
  MakerTable& t = Makers();
  std::lock_guard lock(t.lock);
  t.makers[std::string(type)] = std::move(maker);
}

// Makers are set once, before any run: the answer outlives the lock.
const CompositedControlMaker* FindCompositedControlMaker(std::string_view type) {
  MakerTable& t = Makers();
  std::lock_guard lock(t.lock);
  const auto it = t.makers.find(type);
  return it == t.makers.end() ? nullptr : &it->second;
}

bool IsNullClassId(const ClassId& id) {
  return std::all_of(id.begin(), id.end(), [](uint8_t b) { return b == 0; });
}

const ControlClass* FindControlClass(const ClassId& id) {
  const std::string text = FormatClassId(id);
  for (const ControlClass& c : kControls)
    if (c.classId == text) return &c;
  return nullptr;
}

}  // namespace kv
