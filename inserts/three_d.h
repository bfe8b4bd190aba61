// C3d: a 3D model file rendered into the object's stage sprite, optionally
// spinning on the run's clock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/clock.h"
#include "inserts/visible_insert.h"

namespace kv {

namespace threed {
struct Scene;
}



struct ThreeDFields {
  uint16_t modelVersion = 0;  // version read; always 1
  std::string modelFile;
  uint32_t spinInterval = 100;  // ms
  int32_t spinX = 0;  // degrees added at every tick
  int32_t spinY = 0;
  int32_t spinZ = 0;
  uint32_t clearColor = 0x00FFFFFF;
  uint8_t wireframe = 0;
  uint8_t depthByLayer = 0;
  uint32_t orthographic = 0;
  std::array<uint8_t, 10> modelAux{};
};

// Calls `tick` every `periodMs` of the clock's time (on its own thread,
// which takes part in the virtual clock) until destroyed.
class SpinTimer {
 public:
  SpinTimer(Clock& clock, uint32_t periodMs, std::function<void(const std::atomic<bool>& stopping)> tick);
  ~SpinTimer();
  SpinTimer(const SpinTimer&) = delete;
  SpinTimer& operator=(const SpinTimer&) = delete;

 private:
  void Loop(uint32_t periodMs);
  Clock& clock_;
  Waiter waiter_;
  std::atomic<bool> stop_{false};
  std::function<void(const std::atomic<bool>&)> tick_;
  std::thread thread_;
};

class C3d : public CVisibleInsert, public ThreeDFields {
  KV_DECLARE_CLASS(C3d)
 public:
  C3d();
  ~C3d() override;
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  void Hide(PlayContext& ctx) override;
  void TakeOffStage(PlayContext& ctx) override;
  void Prepare(PlayContext& ctx) override;
  void StageGone() override;
  bool HasContent() const override { return !modelFile.empty(); }
  std::string GetFileName() const override { return modelFile; }
  void SetFileName(const std::string& text) override { modelFile = text; }
  void ChangeContent(PlayContext& ctx, const std::string& file) override;
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;

  void Rotate(PlayContext& ctx, int32_t dx, int32_t dy, int32_t dz) override;
  void RotateAbsolute(PlayContext& ctx, int32_t x, int32_t y, int32_t z) override;
  void GetRotateInfo(int32_t& x, int32_t& y, int32_t& z) const override;
  void Spin(PlayContext& ctx, int32_t dx, int32_t dy, int32_t dz, uint32_t periodMs) override;

  // Renders the model into `sprite`'s picture when what it shows changed;
  // called under the stage lock before the sprite draws.
  void RefreshPicture(StageSprite& sprite);

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  // The spin ticks on the run's clock and redraws on its stage, until the
  // stage goes (StageGone) or the object leaves it.
  void StartSpin(Stage& stage);
  void StopSpin();
  // Under the stage lock and the 3D lock: a new orientation, then the area
  // redrawn.
  void Turn(PlayContext& ctx, int32_t x, int32_t y, int32_t z, bool relative);

  mutable std::mutex threeDLock_;  // taken after the stage lock
  std::shared_ptr<const threed::Scene> scene_;
  std::array<int32_t, 3> orientation_{0, 0, 0};  // degrees, each 0..359
  bool pictureStale_ = true;
  std::unique_ptr<SpinTimer> spin_;
};

}  // namespace kv
