#include "media/mplayer.h"

#include <algorithm>

#include "engine/events.h"
#include "engine/play_context.h"
#include "engine/runner.h"
#include "engine/variables.h"
#include "inserts/painted_sprite.h"
#include "inserts/stage_host.h"
#include "media/avi.h"
#include "media/media_context.h"
#include "media/stage_media_site.h"
#include "persist/field_walk.h"
#include "persist/project_session.h"
#include "stage/compositor.h"

namespace kv {

KV_IMPLEMENT_CLASS(CMPlayer, CVisibleInsert, 0)

CMPlayer::CMPlayer() = default;
// The control's thread presents into this object: it ends first.
CMPlayer::~CMPlayer() { CloseControl(); }

void CMPlayer::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void CMPlayer::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CMPlayer>(other));
}

template <class W>
void CMPlayer::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("playerVersion", playerVersion, 1, 1, "CMPlayer");
  w("playerOptions", playerOptions);
  w("hideControl", hideControl);
  w("takeForeground", takeForeground);
  w("playerAux1", playerAux1);
  w("clearPlayValue", clearPlayValue);
  w("playerAux2", playerAux2);
  w("playerAux3", playerAux3);
  w("playValue", playValue);
  w("startMs", startMs);
  w("endMs", endMs);
  w("duration", duration);
  w("playerAux4", playerAux4);
  w("playerAux5", playerAux5);
  w("useWindow", useWindow);
  w("mediaFile", mediaFile);
  w("playerText", playerText);
}

KV_FIELD_WALK_IO(CMPlayer)

}  // namespace kv

// --- behaviour

namespace kv {

namespace {

namespace id = mplayer_dispid;

constexpr uint32_t kRunTimeError = 7009;  // "Run Time Error"
constexpr uint32_t kFailedLastError = 2;

// A hidden control: the object keeps its place on the stage and draws nothing.
class SoundOnlySprite : public StageSprite {
 public:
  using StageSprite::StageSprite;
  void Draw(DrawTarget&, const Rect&) override {}
  void DrawTo(DrawTarget&, const Rect&, const Rect&, const Rect&) override {}
  void DrawStretchedTo(PixelBuffer&) override {}
  bool HitTest(int, int) override { return false; }
  bool PaintsEveryPixel() const override { return false; }
};

bool IsTrue(const DispatchValue& v) {
  const std::optional<double> n = DispatchNumber(v);
  return n && *n != 0;
}

}  // namespace

CMPlayer& CMPlayer::Player() {
  if (auto copy = clone.lock())
    if (auto* player = As<CMPlayer>(copy.get())) return *player;
  return *this;
}

void CMPlayer::WakeThread() {
  if (auto t = thread.lock()) t->runner.clock().Wake(t->port.waiter());
}

std::unique_ptr<StageSprite> CMPlayer::MakeSprite(Stage& stage) {
  Runner& runner = stage.runner();
  const std::string file = runner.ExpandNames(mediaFile);
  if (file.empty()) return nullptr;
  CloseControl();
  const int w = std::clamp(rect.Width(), 1, MovieDecoder::kMaxSide);
  const int h = std::clamp(rect.Height(), 1, MovieDecoder::kMaxSide);
  const PixelFormat format = stage.compositor().Format();
  std::unique_ptr<StageSprite> sprite =
      hideControl ? std::make_unique<SoundOnlySprite>(format) : std::make_unique<StageSprite>(format);
  SetUpControlSprite(*sprite, *this, stage, w, h);

  MediaPlayerSite site = StageMediaSite(
      *this, stage, std::max(1, w - 1), std::max(1, h - 1), !hideControl, [this, &stage] { RedrawOn(stage); },
      // The run loop looks at the play state again at once.
      [this] { WakeThread(); });
  control_ = std::make_unique<MediaPlayerControl>(std::move(site));
  controlMedia_ = runner.Context().media;
  openedFile_ = file;
  failed_ = false;
  Configure(runner);
  return sprite;
}

void CMPlayer::Configure(Runner& runner) {
  MediaPlayerControl& c = *control_;
  const bool running = runner.playerRunning;
  const uint32_t o = playerOptions;
  auto put = [&c](int32_t dispid, int32_t value) { c.Put(dispid, value); };
  put(1032, takeForeground && running ? 3 : 4);
  put(1062, 1);
  put(1069, 1);
  if (!hideControl) {
    put(22, int32_t(o & 0x100));
    put(23, int32_t(o & 0x001));
    put(1108, int32_t(o & 0x001));
    put(1025, int32_t(o & 0x040));
    put(26, int32_t(o & 0x002));
    put(29, int32_t(o & 0x002));
    put(1086, int32_t(o & 0x004));
    put(1107, int32_t(o & 0x008));
    put(1088, (o & 0x001) ? int32_t(o & 0x010) : 0);
    put(24, int32_t(o & 0x020));
    put(27, int32_t(o & 0x020));
    put(1021, int32_t(o & 0x080));
    put(1045, 0);
  }
  put(1014, 1);
  put(1015, 1);
  put(1013, 1);
  put(1017, 0);
  if (running) {
    put(1089, int32_t(o & 0x400));
    put(id::kVolume, kRunningVolume);
    put(1022, 1);
  } else {
    put(1089, 1);
  }
  OpenFile(runner, openedFile_);
}

void CMPlayer::OpenFile(Runner& runner, const std::string& file) {
  MediaPlayerControl& c = *control_;
  const DispatchValue name = file;
  const DispatchStatus status =
      (playerOptions & player_option::kOpenByName) ? c.Put(id::kFileName, name) : c.Call(id::kOpen, {&name, 1});
  if (status != DispatchStatus::kOk) {
    // The control's own text says what went wrong; it stops there.
    const std::string text = c.ErrorText();
    c.Call(id::kStop);
    failed_ = true;
    runner.variables().SetLastError(kFailedLastError);
    ReportFailure(runner, text);
    return;
  }
  DispatchValue length;
  if (c.Get(id::kDuration, length) == DispatchStatus::kOk)
    if (auto seconds = DispatchNumber(length)) duration = *seconds;
  PutSelection();
}

void CMPlayer::ReportFailure(Runner& runner, const std::string& text) {
  // Once per text: preparing and showing both make the control.
  if (text.empty() || text == reportedFailure_ || !runner.playerRunning) return;
  reportedFailure_ = text;
  runner.ReportRunError(this, kRunTimeError, "the media player cannot play " + text);
}

void CMPlayer::PutSelection() {
  if (!control_) return;
  control_->Put(id::kSelectionStart, startMs / 1000.0);
  control_->Put(id::kSelectionEnd, endMs / 1000.0);
}

void CMPlayer::CloseControl() {
  // Destroyed outside the stage lock's reach: the presenter gives up when asked.
  std::unique_ptr<MediaPlayerControl> control = std::move(control_);
  control.reset();
  controlMedia_ = nullptr;
}

int32_t CMPlayer::PlayStateOf() {
  DispatchValue v;
  if (!control_ || control_->Get(id::kPlayState, v) != DispatchStatus::kOk) return int32_t(MediaPlayState::kClosed);
  return static_cast<int32_t>(DispatchNumber(v).value_or(double(MediaPlayState::kClosed)));
}

void CMPlayer::PlayOnStage(PlayContext& ctx) {
  Runner* r = &ctx.runner;
  r->RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  if (!control_ || !running || r->IsStopRequested() || r->shuttingDown) return;
  stopRequest_ = false;
  PutSelection();
  control_->Put(id::kAutoStart, int32_t(playValue));
  if (clearPlayValue) control_->Put(id::kAutoStart, 0);
  DispatchValue has;
  if (control_->Get(id::kHasMedia, has) != DispatchStatus::kOk || !IsTrue(has)) failed_ = true;
}

int CMPlayer::Run(Runner& runner, int32_t mode) {
  const int result = CVisibleInsert::Run(runner, mode);
  if (!runner.playerRunning || !control_) return result;
  bool ended = false;
  while (control_ && running && !stopRequest_ && !runner.IsStopRequested() && !runner.shuttingDown) {
    const int32_t state = PlayStateOf();
    if (failed_ && state == int32_t(MediaPlayState::kReady)) {
      failed_ = false;
      Configure(runner);
      if (control_->Call(id::kPlay) != DispatchStatus::kOk) break;
      continue;
    }
    if (state != int32_t(MediaPlayState::kPlaying) && state != int32_t(MediaPlayState::kPaused)) {
      ended = state == int32_t(MediaPlayState::kStopped);
      break;
    }
    Message m = runner.PumpMessage(false, runner.clock().NowMs() + kPollMs);
    if (m.IsKeyDown() && m.key == runner.stopKey) break;
  }
  if (ended && running && !runner.shuttingDown) runner.RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
  return result;
}

void CMPlayer::Stop(PlayContext& ctx) {
  CVisibleInsert::Stop(ctx);
  CMPlayer& p = Player();
  p.stopRequest_ = true;
  if (&p != this) p.SetRunning(0);
  if (p.control_) p.control_->Call(id::kStop);
  p.WakeThread();
}

void CMPlayer::Pause(PlayContext& ctx) {
  CVisibleInsert::Pause(ctx);
  CMPlayer& p = Player();
  if (&p != this) p.runState = run_state::kPaused;
  p.pauseRequested_ = true;
  if (p.control_) p.control_->Call(id::kPause);
}

void CMPlayer::Resume(PlayContext& ctx) {
  CVisibleInsert::Resume(ctx);
  CMPlayer& p = Player();
  if (&p != this) p.runState = run_state::kStarted;
  p.pauseRequested_ = false;
  if (p.control_) p.control_->Call(id::kResume);
}

void CMPlayer::Hide(PlayContext& ctx) {
  TakeOffAndDropSprite(ctx);
  if (control_) control_->Call(id::kStop);
  CloseControl();
}

void CMPlayer::Prepare(PlayContext& ctx) { PreloadSprite(ctx); }

// The control plays on the run's clock, which goes with the run.
void CMPlayer::StageGone() {
  CloseControl();
  CVisibleInsert::StageGone();
}

bool CMPlayer::IsPlaying() const {
  if (control_) {
    const MediaPlayState s = control_->PlayState();
    if (s == MediaPlayState::kPlaying || s == MediaPlayState::kPaused) return true;
  }
  return CVisibleInsert::IsPlaying();
}

void CMPlayer::ChangeContent(PlayContext& ctx, const std::string& file) {
  if (control_) control_->Call(id::kStop);
  mediaFile = file;
  if (!control_) return;
  Runner& runner = ctx.runner;
  openedFile_ = runner.ExpandNames(file);
  if (control_->Put(id::kFileName, openedFile_) != DispatchStatus::kOk) {
    const std::string text = control_->ErrorText();
    mediaFile.clear();
    runner.variables().SetLastError(kFailedLastError);
    ReportFailure(runner, text);
    Hide(ctx);
    return;
  }
  failed_ = false;
  DispatchValue length;
  if (control_->Get(id::kDuration, length) == DispatchStatus::kOk)
    if (auto seconds = DispatchNumber(length)) duration = *seconds;
  startMs = 0;
  endMs = static_cast<uint32_t>(std::clamp(duration * 1000.0, 0.0, 4294967295.0));
  PutSelection();
  TryStagePlay(ctx);
}

void CMPlayer::SetStartTime(double seconds) {
  double ms = seconds > 0 ? std::min(seconds * 1000.0, 4294967295.0) : 0.0;
  if (endMs > 0) ms = std::min(ms, double(endMs));
  startMs = static_cast<uint32_t>(ms);
  PutSelection();
}

void CMPlayer::SetEndTime(double seconds) {
  double ms = seconds > 0 ? std::min(seconds * 1000.0, 4294967295.0) : 0.0;
  ms = std::max(ms, double(startMs));
  if (duration > 0) ms = std::min(ms, duration * 1000.0);
  endMs = static_cast<uint32_t>(ms);
  PutSelection();
}

PropertyAnswer CMPlayer::GetProperty(Property id) const {
  if (PropertyAnswer time = GetTimeProperty(*this, id)) return time;
  return CVisibleInsert::GetProperty(id);
}

bool CMPlayer::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  return SetTimeProperty(*this, id, value) || CVisibleInsert::SetProperty(ctx, id, value);
}

}  // namespace kv
