// CCalc ("Calculation"): one operator applied to up to two operands, the
// result stored in a variable.
#pragma once

#include "engine/insert.h"

namespace kv {

class CVarsItem;
class RandomSource;

// One operator of the calculation table; `known` is false for a code outside
// it. Raises the math exception where the operator is undefined.
double CalculateOperator(uint16_t op, double a, double b, RandomSource& random, bool& known);

class CCalc : public CInsert {
  KV_DECLARE_CLASS(CCalc)
 public:
  CCalc() = default;

  uint16_t calcVersion = 0;
  uint32_t calcValue = 0;
  uint16_t operatorCode = 0;  // stored as `operator`
  std::string resultName;
  std::string firstName;
  std::string secondName;
  uint8_t calcFlag = 0;
  uint8_t firstIsConstant = 1;
  uint8_t secondIsConstant = 0;
  std::string groupName;
  std::weak_ptr<CVarsItem> resultCache;
  double firstSlot = 0.0;
  double secondSlot = 0.0;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  void ResetRunValues() override {
    resultCache.reset();
    firstCache.reset();
    secondCache.reset();
  }

 private:
  void ResetOwnFields();

  // Run-time caches of variable operands (the stored slots keep constants).
  std::weak_ptr<CVarsItem> firstCache, secondCache;
  int Run(Runner& runner, int32_t mode) override;
};

}  // namespace kv
