#include "inserts/three_d.h"

#include <chrono>
#include <filesystem>
#include <new>

#include "engine/runner.h"
#include "inserts/stage_host.h"
#include "persist/field_walk.h"
#include "persist/project_session.h"
#include "stage/compositor.h"
#include "platform/text.h"
#include "threed/errors.h"
#include "threed/metafile.h"
#include "threed/render.h"

namespace kv {

KV_IMPLEMENT_CLASS(C3d, CVisibleInsert, kVersionable | 1)

C3d::C3d() = default;
C3d::~C3d() { StopSpin(); }

void C3d::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kPlayWhenReady;
}

void C3d::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<C3d>(other));
}

template <class W>
void C3d::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("modelVersion", modelVersion, 1, 1, "C3d");
  w("modelFile", modelFile);
  w("spinInterval", spinInterval);
  w("spinX", spinX);
  w("spinY", spinY);
  w("spinZ", spinZ);
  w("clearColor", clearColor);
  w("wireframe", wireframe);
  w("depthByLayer", depthByLayer);
  w("orthographic", orthographic);
  w.Bytes("modelAux", modelAux);
}

KV_FIELD_WALK_IO(C3d)

// ---------------------------------------------------------------- spin timer

SpinTimer::SpinTimer(Clock& clock, uint32_t periodMs, std::function<void(const std::atomic<bool>&)> tick)
    : clock_(clock), tick_(std::move(tick)) {
  // Joined before the thread starts, so virtual time cannot pass its first
  // deadline while it is being born.
  clock_.Join(waiter_);
  thread_ = std::thread([this, periodMs] { Loop(periodMs); });
}

SpinTimer::~SpinTimer() {
  stop_ = true;
  clock_.Wake(waiter_);
  thread_.join();
  clock_.Leave(waiter_);
}

void SpinTimer::Loop(uint32_t periodMs) {
  // Deadlines are counted from the start, so ticks never drift.
  const int64_t start = clock_.NowMs();
  for (int64_t n = 1; !stop_; ++n) {
    const int64_t due = start + n * int64_t(periodMs);
    while (!stop_ && !clock_.Halted() && clock_.NowMs() < due)
      clock_.Wait(waiter_, due, [this] { return stop_.load(); });
    if (stop_ || clock_.Halted()) return;
    tick_(stop_);
  }
}

// ---------------------------------------------------------------- the sprite

namespace {

// A picture sprite whose picture is rendered from the model, again whenever
// the orientation or a setting changed since it was last drawn.
class ThreeDSprite : public StageSprite {
 public:
  ThreeDSprite(C3d& owner, PixelFormat format) : StageSprite(format), owner_(owner) {}
  void Draw(DrawTarget& target, const Rect& clip) override {
    owner_.RefreshPicture(*this);
    StageSprite::Draw(target, clip);
  }
  void DrawTo(DrawTarget& target, const Rect& src, const Rect& dst, const Rect& clip) override {
    owner_.RefreshPicture(*this);
    StageSprite::DrawTo(target, src, dst, clip);
  }
  void DrawStretchedTo(PixelBuffer& target) override {
    owner_.RefreshPicture(*this);
    StageSprite::DrawStretchedTo(target);
  }
  ColorRef PixelAt(int x, int y) override {
    owner_.RefreshPicture(*this);
    return StageSprite::PixelAt(x, y);
  }

 private:
  C3d& owner_;
};

int32_t Wrap360(int64_t degrees) { return int32_t(((degrees % 360) + 360) % 360); }

}  // namespace

std::unique_ptr<StageSprite> C3d::MakeSprite(Stage& stage) {
  Runner& runner = stage.runner();
  const std::string file = runner.ExpandNames(modelFile);
  if (file.empty()) return nullptr;
  int code = threed::err::kNone;
  std::string reason;
  std::shared_ptr<const threed::Scene> scene;
  try {
    auto resolved = runner.Session().locator().RetrieveResource(file);
    auto host = resolved ? runner.Session().HostPath(*resolved) : std::nullopt;
    std::error_code ec;
    if (!host || !std::filesystem::exists(*host, ec))
      throw threed::ModelError(threed::err::kFileNotFound, "not found");
    scene = std::make_shared<threed::Scene>(threed::MakeScene(threed::ReadMetafileFile(*host)));
  } catch (const threed::ModelError& e) {
    code = e.code(), reason = e.what();
  } catch (const std::bad_alloc&) {
    code = threed::err::kOutOfMemory, reason = "out of memory";
  } catch (const std::exception& e) {
    code = threed::err::kCrashed, reason = e.what();
  }
  if (code != threed::err::kNone) {
    runner.variables().SetLastError(9);
    // The message names the file and, past its not being there, what was
    // wrong with it.
    const std::string detail = code == threed::err::kFileNotFound ? file : file + ": " + reason;
    if (runner.playerRunning) runner.ReportRunError(this, threed::MessageIdForError(code), detail);
    return nullptr;
  }
  auto sprite = std::make_unique<ThreeDSprite>(*this, stage.compositor().Format());
  const Rect& r = rect;
  sprite->Setup(r, {0, 0, r.Width(), r.Height()}, layer, transparent != 0, ColorRef(transparentColor), colorTolerance,
                static_cast<uint16_t>(stage.settings().exitKey));
  {
    std::lock_guard lock(threeDLock_);
    scene_ = std::move(scene);
    pictureStale_ = true;
  }
  RefreshPicture(*sprite);
  StartSpin(stage);
  return sprite;
}

void C3d::RefreshPicture(StageSprite& sprite) {
  std::lock_guard lock(threeDLock_);
  if (!pictureStale_ || !scene_) return;
  const int w = sprite.rect.Width(), h = sprite.rect.Height();
  if (w <= 0 || h <= 0) return;
  threed::View view;
  view.width = w, view.height = h;
  view.clearColor = clearColor;
  view.wireframe = wireframe != 0;
  view.orthographic = orthographic != 0;
  if (depthByLayer) view.distanceOffset = float(int(layer) - 101);
  view.orientation = {float(orientation_[0]), float(orientation_[1]), float(orientation_[2])};
  std::vector<uint32_t> pixels(size_t(w) * size_t(h));
  threed::Render(*scene_, view, pixels);
  PictureView pv;
  pv.width = w, pv.height = h, pv.bitsPerPixel = 32;
  pv.bits = reinterpret_cast<const uint8_t*>(pixels.data());
  pv.stride = ptrdiff_t(w) * 4;
  sprite.SetPicture(pv);
  pictureStale_ = false;
}

// ---------------------------------------------------------------- operations

void C3d::StartSpin(Stage& stage) {
  StopSpin();
  if (spinInterval == 0 || (spinX == 0 && spinY == 0 && spinZ == 0)) return;
  spin_ = std::make_unique<SpinTimer>(stage.runner().clock(), spinInterval, [this, &stage](const std::atomic<bool>& stopping) {
    // The stage lock comes first; whoever stops the timer may hold it, so
    // the tick never blocks on it.
    std::unique_lock lock(StageLock(), std::defer_lock);
    while (!lock.try_lock()) {
      if (stopping) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    {
      std::lock_guard turn(threeDLock_);
      orientation_ = {Wrap360(int64_t(orientation_[0]) + spinX), Wrap360(int64_t(orientation_[1]) + spinY),
                      Wrap360(int64_t(orientation_[2]) + spinZ)};
      pictureStale_ = true;
    }
    RedrawOn(stage);
  });
}

void C3d::StopSpin() { spin_.reset(); }

void C3d::Turn(PlayContext& ctx, int32_t x, int32_t y, int32_t z, bool relative) {
  std::lock_guard stageLock(StageLock());
  {
    std::lock_guard lock(threeDLock_);
    const std::array<int32_t, 3> next =
        relative ? std::array{Wrap360(int64_t(orientation_[0]) + x), Wrap360(int64_t(orientation_[1]) + y),
                              Wrap360(int64_t(orientation_[2]) + z)}
                 : std::array{Wrap360(x), Wrap360(y), Wrap360(z)};
    if (next == orientation_) return;
    orientation_ = next;
    pictureStale_ = true;
  }
  Invalidate(ctx);
}

void C3d::Rotate(PlayContext& ctx, int32_t dx, int32_t dy, int32_t dz) { Turn(ctx, dx, dy, dz, true); }
void C3d::RotateAbsolute(PlayContext& ctx, int32_t x, int32_t y, int32_t z) { Turn(ctx, x, y, z, false); }

void C3d::GetRotateInfo(int32_t& x, int32_t& y, int32_t& z) const {
  if (!const_cast<C3d*>(this)->GetSprite()) {
    x = y = z = 0;
    return;
  }
  std::lock_guard lock(threeDLock_);
  x = orientation_[0], y = orientation_[1], z = orientation_[2];
}

void C3d::Spin(PlayContext& ctx, int32_t dx, int32_t dy, int32_t dz, uint32_t periodMs) {
  StopSpin();
  spinX = dx, spinY = dy, spinZ = dz, spinInterval = periodMs;
  if (GetSprite() && ctx.stage) StartSpin(*ctx.stage);
}

constexpr ColorField<C3d> kThreeDColors[] = {{Property::kBackgroundColor, &C3d::clearColor}};

PropertyAnswer C3d::GetProperty(Property id) const {
  if (auto color = GetColorField(*this, kThreeDColors, id)) return color;
  return CVisibleInsert::GetProperty(id);
}

bool C3d::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  if (GetColorField(*this, kThreeDColors, id)) {
    std::lock_guard stageLock(StageLock());
    {
      std::lock_guard lock(threeDLock_);
      if (!SetColorField(*this, kThreeDColors, id, value)) return false;
      pictureStale_ = true;
    }
    Invalidate(ctx);
    return true;
  }
  return CVisibleInsert::SetProperty(ctx, id, value);
}

// ---------------------------------------------------------------- lifecycle

void C3d::Hide(PlayContext& ctx) {
  StopSpin();
  TakeOffAndDropSprite(ctx);
}

void C3d::TakeOffStage(PlayContext& ctx) {
  StopSpin();
  CVisibleInsert::TakeOffStage(ctx);
}

void C3d::Prepare(PlayContext& ctx) { PreloadSprite(ctx); }

// The spin runs on the run's clock, which goes with the run.
void C3d::StageGone() {
  StopSpin();
  CVisibleInsert::StageGone();
}

void C3d::ChangeContent(PlayContext& ctx, const std::string& file) {
  StageSprite* old = GetSprite();
  if (old && old->onStage && EqualsNoCase(file, modelFile)) return;
  modelFile = file;
  if (old) {
    const uint8_t state = old->displayState;
    const bool wasOn = old->onStage != 0;
    StopSpin();
    DestroySprite();
    // The new model keeps the old one's place and display state.
    if (StageSprite* fresh = EnsureSprite(ctx); fresh && wasOn) {
      fresh->SetDisplayState(state);
      ctx.stage->compositor().Add(*fresh, true);
    }
  }
  Invalidate(ctx);
}

}  // namespace kv
