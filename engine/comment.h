// Ccomment ("Comment"): inert text in a script; always disabled, never played,
// never named.
#pragma once

#include "engine/insert.h"

namespace kv {

class Ccomment : public CInsert {
  KV_DECLARE_CLASS(Ccomment)
 public:
  Ccomment() { runState = run_state::kDisabled; }

  uint16_t commentVersion = 0;
  std::string commentText;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  void SetRunState(uint8_t) override { runState = run_state::kDisabled; }
};

}  // namespace kv
