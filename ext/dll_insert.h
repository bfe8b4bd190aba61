// ScDLL: calls a procedure exported by an author's extension library with a
// typed argument list, or acts as an extension object drawn and driven by
// the library's own entry points.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "inserts/visible_insert.h"

namespace kv {

struct DllFields {
  static constexpr size_t kMaxEntries = 32;

  uint16_t dllVersion = 0;  // version read; always 1
  std::string dllPath;      // also the insert's file reference
  std::string secondText;
  std::string thirdText;
  std::string procedureName;
  // Entry 0 is the result, entries 1 to entryCount - 1 the arguments.
  uint8_t entryCount = 1;
  std::array<uint8_t, kMaxEntries> typeCodes{};
  std::array<std::string, kMaxEntries> texts;  // a literal, or a variable name
  std::array<uint8_t, kMaxEntries> sources = DefaultSources();  // 1 literal, 0 variable
  uint8_t extensionMode = 0;  // 0 plain call, 1 extension object

  // The result comes from a variable, the arguments from literals.
  static constexpr std::array<uint8_t, kMaxEntries> DefaultSources() {
    std::array<uint8_t, kMaxEntries> s{};
    for (size_t i = 1; i < kMaxEntries; ++i) s[i] = 1;
    return s;
  }
};

class ScDLL : public CVisibleInsert, public DllFields {
  KV_DECLARE_CLASS(ScDLL)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  std::string GetFileName() const override { return dllPath; }
};

}  // namespace kv
