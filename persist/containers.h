// The standard object containers of the archive format: lists and arrays of
// objects, strings, 32-bit values and bytes, and a string-to-string map.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "persist/archive.h"

namespace kv {

// The six containers differ only by element type; the archive and the JSON
// print follow from it (objects as references, bytes as one block, strings
// and 32-bit values one by one).
template <class T>
class ContainerOf : public CObject {
 public:
  std::vector<T> items;
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

class CObList : public ContainerOf<ObjectPtr> {
  KV_DECLARE_CLASS(CObList)
};
class CObArray : public ContainerOf<ObjectPtr> {
  KV_DECLARE_CLASS(CObArray)
};
class CStringList : public ContainerOf<std::string> {
  KV_DECLARE_CLASS(CStringList)
};
class CStringArray : public ContainerOf<std::string> {
  KV_DECLARE_CLASS(CStringArray)
};
class CDWordArray : public ContainerOf<uint32_t> {
  KV_DECLARE_CLASS(CDWordArray)
};
class CByteArray : public ContainerOf<uint8_t> {
  KV_DECLARE_CLASS(CByteArray)
};

// Pairs in stored order, so that a map reads back and writes the same bytes.
class CMapStringToString : public CObject {
  KV_DECLARE_CLASS(CMapStringToString)
 public:
  std::vector<std::pair<std::string, std::string>> items;
  const std::string* Lookup(const std::string& key) const;
  void SetAt(const std::string& key, const std::string& value);
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

}  // namespace kv
