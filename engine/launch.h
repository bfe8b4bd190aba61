// CLaunch ("Launch"): runs an external program (or opens a document with its
// viewer) and waits for it.
#pragma once

#include "engine/insert.h"

namespace kv {

class CLaunch : public CInsert {
  KV_DECLARE_CLASS(CLaunch)
 public:
  uint16_t launchVersion = 0;
  std::string program;
  std::string parameters;
  uint8_t launchFlag = 1;
  uint8_t closeOnStop = 1;
  uint32_t launchValue = 1;
  uint32_t launchValue2 = 0;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  bool HasContent() const override { return true; }
};

}  // namespace kv
