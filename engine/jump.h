// CJump ("Jump"): moves the script's next position to its end, its top, a
// label, or back or forward by a count; optionally only a counted number of times.
#pragma once

#include "engine/insert.h"

namespace kv {

class CStgDoc;

namespace jump_type {
inline constexpr uint16_t kToEnd = 0;
inline constexpr uint16_t kToTop = 1;
inline constexpr uint16_t kToLabel = 2;
inline constexpr uint16_t kBack = 3;
inline constexpr uint16_t kForward = 4;
}  // namespace jump_type

class CJump : public CInsert {
  KV_DECLARE_CLASS(CJump)
 public:
  uint16_t jumpVersion = 0;
  uint16_t jumpType = jump_type::kToEnd;
  std::string labelName;
  uint16_t backCount = 1;
  uint16_t forwardCount = 1;
  uint8_t counted = 0;
  uint32_t passCounter = 1;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  int Run(Runner& runner, int32_t mode) override;

 private:
  // Where the label was found last time, checked before it is used.
  const CStgDoc* labelScript_ = nullptr;
  int64_t labelIndex_ = -1;
};

}  // namespace kv
