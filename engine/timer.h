// CTimer ("Timer"): raises "Timer period expired" periodically, once, a
// counted number of times, or after random periods.
#pragma once

#include "engine/insert.h"

namespace kv {

class RandomSource;

namespace timer_type {
inline constexpr uint32_t kPeriodic = 1;
inline constexpr uint32_t kOneShot = 2;
inline constexpr uint32_t kCountedPeriodic = 3;
inline constexpr uint32_t kRandomPeriodic = 4;
inline constexpr uint32_t kRandomOneShot = 5;
inline constexpr uint32_t kRandomCountedPeriodic = 6;
}  // namespace timer_type

class CTimer : public CInsert {
  KV_DECLARE_CLASS(CTimer)
 public:
  uint16_t timerVersion = 0;
  uint32_t timerType = timer_type::kPeriodic;
  uint32_t periodMs = 1000;
  uint32_t minPeriodMs = 1;
  uint32_t repeatCount = 1;
  uint32_t timerEnabled = 1;
  uint32_t runArgument = 0;
  std::atomic<uint32_t> stopped{0};
  std::atomic<uint32_t> timerRunning{0};

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  bool ClearArmed() override { return false; }
  bool IsPlaying() const override { return timerRunning != 0; }

  int Run(Runner& runner, int32_t mode) override;
  void Stop(PlayContext& ctx) override;
  void TakeOffStage(PlayContext& ctx) override { Stop(ctx); }
  bool WantsOwnThread(PlayContext& ctx) const override;
  void OnEnable(PlayContext&) override { timerEnabled = 1; }
  void OnDisable(PlayContext&) override { timerEnabled = 0; }
  // A period between minPeriodMs and periodMs from the thread's generator.
  uint32_t RandomPeriod(RandomSource& random) const;
};

}  // namespace kv
