// CStageCursor: sets the mouse cursor of the whole stage from the cursor
// fields every visible insert has; it stores nothing of its own.
#pragma once

#include <cstdint>

#include "inserts/visible_insert.h"

namespace kv {

class CStageCursor : public CVisibleInsert {
  KV_DECLARE_CLASS(CStageCursor)
 public:
  uint16_t cursorVersion = 0;  // version read; always 1

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
