#include "persist/containers.h"

#include <type_traits>

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CObList, CObject, 0)
KV_IMPLEMENT_CLASS(CObArray, CObject, 0)
KV_IMPLEMENT_CLASS(CStringList, CObject, 0)
KV_IMPLEMENT_CLASS(CStringArray, CObject, 0)
KV_IMPLEMENT_CLASS(CDWordArray, CObject, 0)
KV_IMPLEMENT_CLASS(CByteArray, CObject, 0)
KV_IMPLEMENT_CLASS(CMapStringToString, CObject, 0)

template <class T>
template <class W>
void ContainerOf<T>::Walk(W& w) {
  if constexpr (std::is_same_v<T, ObjectPtr>) {
    w.Objects("items", items);
  } else if constexpr (std::is_same_v<T, uint8_t>) {
    w("items", items);
  } else {
    w.Values("items", items, sizeof(T) == 4 ? 4 : 1);
  }
}

template <class T>
void ContainerOf<T>::Serialize(Archive& ar) {
  ArchiveWalk w(ar);
  Walk(w);
}

template <class T>
void ContainerOf<T>::DescribeFields(FieldVisitor& v) {
  JsonWalk w(v);
  Walk(w);
}

template class ContainerOf<ObjectPtr>;
template class ContainerOf<std::string>;
template class ContainerOf<uint32_t>;
template class ContainerOf<uint8_t>;

const std::string* CMapStringToString::Lookup(const std::string& key) const {
  for (const auto& [k, value] : items)
    if (k == key) return &value;
  return nullptr;
}

void CMapStringToString::SetAt(const std::string& key, const std::string& value) {
  for (auto& [k, v] : items) {
    if (k == key) {
      v = value;
      return;
    }
  }
  items.emplace_back(key, value);
}

template <class W>
void CMapStringToString::Walk(W& w) {
  w.Records("items", nullptr, items, CountForm::kCompact, 2, [&w](std::pair<std::string, std::string>& p) {
    w("key", p.first);
    w("value", p.second);
  });
  if (W::kArchive && w.Filling()) {
    // A key read twice keeps its first place and its last value.
    auto read = std::move(items);
    items.clear();
    for (auto& [k, value] : read) SetAt(k, value);
  }
}

KV_FIELD_WALK_IO(CMapStringToString)

}  // namespace kv
