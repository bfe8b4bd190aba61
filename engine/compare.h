// CCompare ("Comparison"): compares two operands and runs the handler of the
// outcome (events 9007 to 9012).
#pragma once

#include "engine/insert.h"

namespace kv {

class CVarsItem;

class CCompare : public CInsert {
  KV_DECLARE_CLASS(CCompare)
 public:
  CCompare() = default;

  uint16_t compareVersion = 0;
  uint32_t compareValue = 0;
  std::string firstName;
  std::string secondName;
  uint8_t firstIsConstant = 0;
  uint8_t secondIsConstant = 0;
  std::string groupName;
  double firstSlot = 0.0;
  double secondSlot = 0.0;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  void ListEvents(std::vector<uint32_t>& events) const override;

  std::weak_ptr<CVarsItem> firstCache, secondCache;  // run-time lookups
  int Run(Runner& runner, int32_t mode) override;
  void ResetRunValues() override {
    firstCache.reset();
    secondCache.reset();
  }
};

}  // namespace kv
