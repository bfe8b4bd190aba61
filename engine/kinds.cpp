#include "engine/kinds.h"

#include <unordered_map>

#include "engine/kind_table.h"

namespace kv {
namespace {

using namespace kind;
using namespace category;

#define KV_KIND_ROW(Class, id, name, container, group, plays, window) {#Class, id, name, container, group, plays, window},

constexpr KindInfo kKinds[] = {KV_ENGINE_KINDS(KV_KIND_ROW) KV_UPPER_KINDS(KV_KIND_ROW)};

#undef KV_KIND_ROW

}  // namespace

std::span<const KindInfo> KindTable() { return kKinds; }

// Asked on every run of an insert, so found by hash rather than by walking the table.
const KindInfo* FindKind(std::string_view className) {
  static const auto byName = [] {
    std::unordered_map<std::string_view, const KindInfo*> m;
    for (const KindInfo& k : kKinds) m.emplace(k.className, &k);
    return m;
  }();
  auto it = byName.find(className);
  return it == byName.end() ? nullptr : it->second;
}

std::string NotBuiltDetail(const KindInfo& kind) {
  if (!kind.plays.needs) return {};
  return std::string("the ") + (kind.kindName ? kind.kindName : kind.className) + " kind needs " + kind.plays.needs;
}

}  // namespace kv
