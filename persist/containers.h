// The standard object containers of the archive format: lists and arrays of
// objects, strings, 32-bit values and bytes, and a string-to-string map.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "persist/archive.h"

namespace kv {

class CObList : public CObject {
  KV_DECLARE_CLASS(CObList)
 public:
  std::vector<ObjectPtr> items;
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

class CObArray : public CObject {
  KV_DECLARE_CLASS(CObArray)
 public:
  std::vector<ObjectPtr> items;
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

class CStringList : public CObject {
  KV_DECLARE_CLASS(CStringList)
 public:
  std::vector<std::string> items;
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

class CStringArray : public CObject {
  KV_DECLARE_CLASS(CStringArray)
 public:
  std::vector<std::string> items;
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

class CDWordArray : public CObject {
  KV_DECLARE_CLASS(CDWordArray)
 public:
  std::vector<uint32_t> items;
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

class CByteArray : public CObject {
  KV_DECLARE_CLASS(CByteArray)
 public:
  std::vector<uint8_t> items;
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

// Pairs in stored order, so that a map reads back and writes the same bytes.
class CMapStringToString : public CObject {
  KV_DECLARE_CLASS(CMapStringToString)
 public:
  std::vector<std::pair<std::string, std::string>> items;
  const std::string* Lookup(const std::string& key) const;
  void SetAt(const std::string& key, const std::string& value);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

// In-place encodings shared by the containers and by records that embed a
// list without an object tag.
void SerializeStrings(Archive& ar, std::vector<std::string>& items);
void SerializeDWords(Archive& ar, std::vector<uint32_t>& items);
void SerializeBytes(Archive& ar, std::vector<uint8_t>& items);

}  // namespace kv
