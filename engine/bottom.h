// CBottom: the end-of-script marker every script ends with. Always active.
#pragma once

#include "engine/insert.h"

namespace kv {

class CBottom : public CInsert {
  KV_DECLARE_CLASS(CBottom)
 public:
  uint16_t bottomVersion = 0;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
