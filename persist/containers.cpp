#include "persist/containers.h"

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CObList, CObject, 0)
KV_IMPLEMENT_CLASS(CObArray, CObject, 0)
KV_IMPLEMENT_CLASS(CStringList, CObject, 0)
KV_IMPLEMENT_CLASS(CStringArray, CObject, 0)
KV_IMPLEMENT_CLASS(CDWordArray, CObject, 0)
KV_IMPLEMENT_CLASS(CByteArray, CObject, 0)
KV_IMPLEMENT_CLASS(CMapStringToString, CObject, 0)

void SerializeStrings(Archive& ar, std::vector<std::string>& items) {
  if (ar.IsStoring()) {
    ar.WriteCount(items.size());
    for (const std::string& s : items) ar.WriteString(s);
  } else {
    uint32_t n = ar.ReadCount(1);
    items.clear();
    items.reserve(n);
    for (uint32_t i = 0; i < n; ++i) items.push_back(ar.ReadString());
  }
}

void SerializeDWords(Archive& ar, std::vector<uint32_t>& items) {
  if (ar.IsStoring()) {
    ar.WriteCount(items.size());
    for (uint32_t v : items) ar.WriteU32(v);
  } else {
    uint32_t n = ar.ReadCount(4);
    items.resize(n);
    for (uint32_t& v : items) v = ar.ReadU32();
  }
}

void SerializeBytes(Archive& ar, std::vector<uint8_t>& items) {
  if (ar.IsStoring()) {
    ar.WriteCount(items.size());
    ar.WriteBytes(items.data(), items.size());
  } else {
    uint32_t n = ar.ReadCount(1);
    items = ar.ReadBlock(n);
  }
}

void CObList::Serialize(Archive& ar) { ar.IoList(items); }
void CObList::DescribeFields(FieldVisitor& v) { v.Field("items", items); }
void CObArray::Serialize(Archive& ar) { ar.IoList(items); }
void CObArray::DescribeFields(FieldVisitor& v) { v.Field("items", items); }
void CStringList::Serialize(Archive& ar) { SerializeStrings(ar, items); }
void CStringList::DescribeFields(FieldVisitor& v) { v.Values("items", items); }
void CStringArray::Serialize(Archive& ar) { SerializeStrings(ar, items); }
void CStringArray::DescribeFields(FieldVisitor& v) { v.Values("items", items); }
void CDWordArray::Serialize(Archive& ar) { SerializeDWords(ar, items); }
void CDWordArray::DescribeFields(FieldVisitor& v) { v.Values("items", items); }
void CByteArray::Serialize(Archive& ar) { SerializeBytes(ar, items); }
void CByteArray::DescribeFields(FieldVisitor& v) { v.Field("items", items); }

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

void CMapStringToString::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteCount(items.size());
    for (const auto& [k, value] : items) {
      ar.WriteString(k);
      ar.WriteString(value);
    }
  } else {
    uint32_t n = ar.ReadCount(2);
    items.clear();
    for (uint32_t i = 0; i < n; ++i) {
      std::string k = ar.ReadString();
      SetAt(k, ar.ReadString());
    }
  }
}

void CMapStringToString::DescribeFields(FieldVisitor& v) {
  v.Records("items", items, [&v](std::pair<std::string, std::string>& p) {
    v.Field("key", p.first);
    v.Field("value", p.second);
  });
}

}  // namespace kv
