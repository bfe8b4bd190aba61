// Global variables: CVarsItem is one typed, named variable; CVar ("Global
// Variables") is an insert holding a named group of them. The variable store
// looks names up among the groups of the project document.
#pragma once

#include <array>
#include <atomic>
#include <cstring>

#include "engine/insert.h"

namespace kv {

class CObList;

namespace var_type {
inline constexpr uint16_t kInt2 = 0;
inline constexpr uint16_t kWord = 1;
inline constexpr uint16_t kBool = 2;
inline constexpr uint16_t kInt4 = 3;
inline constexpr uint16_t kDWord = 4;
inline constexpr uint16_t kDouble = 5;
inline constexpr uint16_t kString = 6;
}  // namespace var_type

class CVarsItem : public CObject {
  KV_DECLARE_CLASS(CVarsItem)
 public:
  CVarsItem() = default;

  uint16_t loadedVersion = 0;
  uint32_t auxId = 0;
  uint16_t type = var_type::kBool;
  std::string name;
  std::string auxText;
  std::string initialText;
  std::string currentText;
  // Little-endian value bytes; the type decides how many are used.
  std::array<uint8_t, 8> initialValue{};

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset();
  std::shared_ptr<CVarsItem> Clone() const;
  // Bytes of the value that `type` uses (0 for strings and unknown types).
  size_t ValueWidth() const;
  void ResetToInitial();

  // The current value, read and written as one word so that numbers never
  // tear and readers need no lock; bytes past the type's width are zero.
  template <class T>
  T Current() const {
    const uint64_t word = current_.load(std::memory_order_acquire);
    T v;
    std::memcpy(&v, &word, sizeof v);
    return v;
  }
  template <class T>
  void SetCurrent(T v) {
    static_assert(sizeof(T) <= sizeof(uint64_t));
    uint64_t word = 0;
    std::memcpy(&word, &v, sizeof v);
    current_.store(word, std::memory_order_release);
  }
  std::array<uint8_t, 8> CurrentBytes() const { return Current<std::array<uint8_t, 8>>(); }

 private:
  std::atomic<uint64_t> current_{0};
};

class CVar : public CInsert {
  KV_DECLARE_CLASS(CVar)
 public:
  CVar();
  ~CVar() override;

  uint16_t varVersion = 0;
  uint8_t groupFlag = 0;
  std::string groupName;
  std::vector<std::shared_ptr<CVarsItem>> items;
  uint32_t groupValue = 0;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

 private:
  // The list object the items are written through. It lives as long as the
  // group so that no later object of the same archive can take its address.
  std::shared_ptr<CObList> storedList_;

 public:
  int Run(Runner& runner, int32_t mode) override;
};

}  // namespace kv
