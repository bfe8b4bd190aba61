// CBasic: the Orlan insert, which runs a subroutine of a compiled Orlan
// script or acts as an extension object drawn by the script.
#pragma once

#include <cstdint>
#include <string>

#include "inserts/visible_insert.h"

namespace kv {

struct BasicFields {
  uint16_t basicVersion = 0;  // version read; always 1
  uint32_t reservedLong = 0;  // carried unchanged
  uint16_t extensionMode = 0;  // 0 runs "main" once; otherwise an extension object
  std::string alternatePath;  // the insert's second file reference
  std::string scriptPath;     // the compiled code file
  uint16_t reservedWord = 0;  // carried unchanged
};

class CBasic : public CVisibleInsert, public BasicFields {
  KV_DECLARE_CLASS(CBasic)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
