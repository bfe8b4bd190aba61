// CWait ("Wait"): holds the script until one of its conditions is met (a
// time-out, a mouse button, a hotkey, any key) or a stop arrives.
#pragma once

#include "engine/insert.h"

namespace kv {

namespace wait_condition {
inline constexpr uint16_t kStop = 1;
inline constexpr uint16_t kStopOnly = 2;
inline constexpr uint16_t kTimeout = 4;
inline constexpr uint16_t kLeftButton = 8;
inline constexpr uint16_t kMiddleButton = 16;
inline constexpr uint16_t kRightButton = 32;
inline constexpr uint16_t kHotkey = 64;
inline constexpr uint16_t kAnyKey = 128;
}  // namespace wait_condition

class CWait : public CInsert {
  KV_DECLARE_CLASS(CWait)
 public:
  static constexpr uint16_t kNewestVersion = 2;

  uint16_t waitVersion = 0;
  uint16_t conditions = wait_condition::kStopOnly;
  uint32_t timeoutMs = 0;
  std::atomic<uint32_t> waiting{0};
  std::atomic<uint32_t> waitEnabled{1};

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // The condition set of an old record's wait style.
  static uint16_t ConditionsOfStyle(uint16_t style);

  int Run(Runner& runner, int32_t mode) override;
  void Stop(PlayContext& ctx) override;
  void TakeOffStage(PlayContext& ctx) override { Stop(ctx); }
  bool IsPlaying() const override { return waiting != 0; }
  void OnEnable(PlayContext&) override { waitEnabled = 1; }
  void OnDisable(PlayContext&) override { waitEnabled = 0; }
};

}  // namespace kv
