// CLabel ("Label"): the target of a jump to a label. Labels carry no object name.
#pragma once

#include "engine/insert.h"

namespace kv {

class CLabel : public CInsert {
  KV_DECLARE_CLASS(CLabel)
 public:
  CLabel();

  uint16_t labelVersion = 0;
  std::string labelName;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
