#include "media/avi.h"

#include "engine/play_context.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <new>
#include <thread>

#include "engine/commands.h"
#include "engine/events.h"
#include "engine/flow.h"
#include "engine/runner.h"
#include "inserts/stage_host.h"
#include "media/engine_movie_clock.h"
#include "media/mci_errors.h"
#include "media/media_context.h"
#include "media/movie_playback.h"
#include "persist/field_walk.h"
#include "persist/project_session.h"
#include "platform/string_table.h"
#include "platform/text.h"
#include "stage/compositor.h"

namespace kv {

KV_IMPLEMENT_CLASS(CAVI, CVisibleInsert, 0)

CAVI::CAVI() = default;
// The movie's thread presents into this object: it ends first.
CAVI::~CAVI() { ClosePlayback(); }

void CAVI::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kPlayWhenReady;
  transparent = 0;
  transparentColor = 0;
  colorTolerance = 0;
}

void CAVI::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CAVI>(other));
}

template <class W>
void CAVI::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  const uint16_t v = w.Version("movieVersion", movieVersion, kNewestVersion, 1, "CAVI");
  if (v >= 3) w("movieAux3", movieAux3);
  if (v >= 2) w("movieAux2", movieAux2);
  w("playInline", playInline);
  w("silenceSounds", silenceSounds);
  w("movieOption1", movieOption1);
  w("startMs", startMs);
  w("showEffectEndMs", showEffectEndMs);
  w("hideEffectStartMs", hideEffectStartMs);
  w("endMs", endMs);
  w("movieOption2", movieOption2);
  w("withBorder", withBorder);
  w("useMovieWindow", useMovieWindow);
  w("movieFile", movieFile);
  w("movieCaption", movieCaption);
}

KV_FIELD_WALK_IO(CAVI)

}  // namespace kv

// --- behaviour

namespace kv {

namespace {

constexpr uint32_t kMciErrorText = 7018;  // "MCI Error->"

// What the run's MCI device would answer for the failure, for the message.
uint32_t MciCodeOf(const MovieError& e) {
  return e.kind() == MovieError::Kind::kNotFound ? mci_err::kFileNotFound : mci_err::kInvalidFile;
}

MoviePixels PixelsOf(PixelFormat f) { return f == PixelFormat::kXrgb32 ? MoviePixels::kXrgb32 : MoviePixels::kRgb565; }

}  // namespace

void CopyMoviePicture(StageSprite& sprite, const MoviePicture& p) {
  PixelBuffer& to = sprite.MutablePicture();
  const int bytes = p.format == MoviePixels::kXrgb32 ? 4 : 2;
  if (to.IsNull() || p.width <= 0 || to.BytesPerPixel() != bytes) return;
  const int w = std::min(to.Width(), p.width), h = std::min(to.Height(), p.height);
  for (int y = 0; y < h; ++y)
    std::memcpy(to.Row(y), p.bits.data() + size_t(y) * size_t(p.Stride()), size_t(w) * size_t(bytes));
  sprite.PictureChanged();
}

CAVI& CAVI::Player() {
  if (auto copy = clone.lock())
    if (auto* movie = As<CAVI>(copy.get())) return *movie;
  return *this;
}

void CAVI::WakeLoop() {
  if (auto t = thread.lock()) t->runner.clock().Wake(t->port.waiter());
}

bool CAVI::WantsOwnThread(PlayContext& ctx) const {
  // Inline play stays on the calling thread unless the object is threaded anyway.
  if (playInline && !threaded && showMode != show_mode::kThreaded) return false;
  return MayTakeOwnThread(ctx);
}

void CAVI::TraceMovie(const char* op) {
  if (!playbackMedia_ || !playback_) return;
  playbackMedia_->TraceMovie(name, op, playback_->Frame());
}

std::unique_ptr<StageSprite> CAVI::MakeSprite(Stage& stage) {
  Runner& runner = stage.runner();
  const std::string file = runner.ExpandNames(movieFile);
  if (file.empty()) return nullptr;
  ClosePlayback();
  std::unique_ptr<MovieDecoder> decoder;
  std::string problem;
  uint32_t code = 0;
  try {
    auto resolved = runner.Session().locator().RetrieveResource(file);
    auto host = resolved ? runner.Session().HostPath(*resolved) : std::nullopt;
    if (!host) throw MovieError(MovieError::Kind::kNotFound, "not found");
    decoder = MovieDecoder::OpenFile(*host);
  } catch (const MovieError& e) {
    code = MciCodeOf(e), problem = e.what();
  } catch (const std::bad_alloc&) {
    code = mci_err::kInternal, problem = "out of memory";
  }
  if (!decoder) {
    // Reported once: preparing and showing both ask for the sprite.
    if (file == failedFile_) return nullptr;
    failedFile_ = file;
    // The message names the device's error, the reason and the file.
    if (runner.playerRunning)
      runner.ReportRunError(this, kMciErrorText, std::string(MciErrorText(code)) + " (" + problem + "): " + file);
    return nullptr;
  }
  failedFile_.clear();
  const MovieInfo info = decoder->Info();
  lengthMs_ = info.lengthMs;
  // Stretched, the movie fills the object's rectangle; otherwise it keeps its own size.
  const bool fill = stretchPicture && rect.Width() > 0 && rect.Height() > 0;
  const int w = std::min(fill ? rect.Width() : info.width, MovieDecoder::kMaxSide);
  const int h = std::min(fill ? rect.Height() : info.height, MovieDecoder::kMaxSide);
  const PixelFormat format = stage.compositor().Format();
  auto sprite = std::make_unique<StageSprite>(format);
  const Rect dest{rect.left, rect.top, rect.left + w, rect.top + h};
  sprite->CreateSurface(dest, layer);
  sprite->Setup(dest, {0, 0, w, h}, layer, transparent != 0, ColorRef(transparentColor), colorTolerance,
                static_cast<uint16_t>(stage.settings().exitKey));
  // The first frame shown is the one at the start position.
  decoder->SetOutput(w, h, PixelsOf(format));
  decoder->SeekTo(startMs);
  CopyMoviePicture(*sprite, decoder->Current());
  MediaContext* media = runner.Context().media;
  playback_ = std::make_unique<MoviePlayback>(
      std::make_unique<EngineMovieClock>(runner.clock()), std::move(decoder),
      media ? media->MovieAudio() : MovieAudioOut{},
      [this, &stage](const MoviePicture& p, int64_t, const std::function<bool()>& giveUp) {
        return Present(stage, p, giveUp);
      });
  playbackMedia_ = media;
  if (media) media->AddMovie(*playback_);
  return sprite;
}

bool CAVI::Present(Stage& stage, const MoviePicture& picture, const std::function<bool()>& giveUp) {
  // The stage lock comes first; whoever stops the movie may hold it.
  std::unique_lock lock(StageLock(), std::defer_lock);
  while (!lock.try_lock()) {
    if (giveUp()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  StageSprite* s = GetSprite();
  if (!s) return true;
  CopyMoviePicture(*s, picture);
  if (s->onStage) RedrawOn(stage);
  return true;
}

void CAVI::Silence(MediaContext* media) {
  if (!media || !silenceSounds || !playback_ || !playback_->Info().hasAudio) return;
  if (media->SilenceOtherSounds(playback_->Voice())) silenced_ = true;
}

void CAVI::Unsilence(MediaContext* media) {
  if (media && silenced_.exchange(false)) media->EndSilence();
}

void CAVI::PlayOnStage(PlayContext& ctx) {
  Runner* r = &ctx.runner;
  if (!playback_) {
    CVisibleInsert::PlayOnStage(ctx);
    return;
  }
  MediaContext* media = playbackMedia_;
  // A copy playing on its own thread waits for the end; inline play goes on
  // by itself while the script moves on.
  const bool ownThread = !source.expired();
  for (;;) {
    r->RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
    if (!running || r->IsStopRequested() || r->shuttingDown) return;
    ended_ = false;
    stopRequest_ = false;
    std::weak_ptr<ScriptThreadContext> owner = thread;
    Clock* clock = &r->clock();
    // From here a stop only wakes the wait below, which stops the movie.
    loopActive_ = ownThread;
    playback_->Play(startMs, endMs, [this, owner, clock, ownThread] {
      ended_ = true;
      if (ownThread) {
        if (auto t = owner.lock()) clock->Wake(t->port.waiter());
        return;
      }
      // Inline: nobody waits; the end is told here, on the movie's thread.
      TraceMovie("stop");
      Unsilence(playbackMedia_);
    });
    Silence(media);
    TraceMovie("play");
    if (!ownThread) return;
    while (!ended_ && !stopRequest_ && running && !r->IsStopRequested() && !r->shuttingDown) {
      Message m = r->PumpMessage(false, kForever);
      if (m.IsKeyDown() && m.key == r->stopKey) break;
    }
    loopActive_ = false;
    const bool finished = ended_;
    if (!finished) playback_->Stop();
    TraceMovie("stop");
    Unsilence(media);
    // A Stop Playing handler that plays this object again repeats the movie
    // at once, without the event in between.
    std::shared_ptr<CFlow> handler = FindHandler(event::kStopPlaying);
    if (finished && handler && handler->command == command::kPlayThisObject && running && !r->IsStopRequested() &&
        !r->abortRequested && !r->shuttingDown) {
      // A movie that takes no time would repeat without end in one instant.
      if (playback_->EndMs() <= int64_t(startMs) && !r->WaitPeriod(1)) break;
      continue;
    }
    r->RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
    break;
  }
  // A movie no longer running gives its device back.
  if (!running) ClosePlayback();
}

void CAVI::Stop(PlayContext& ctx) {
  CVisibleInsert::Stop(ctx);
  CAVI& p = Player();
  p.stopRequest_ = true;
  if (&p != this) p.SetRunning(0);
  if (p.loopActive_) {
    p.WakeLoop();
  } else if (p.playback_ && p.playback_->GetMode() != MoviePlayback::Mode::kStopped) {
    // Inline play has no waiting thread to hear of it: it stops here.
    p.playback_->Stop();
    p.TraceMovie("stop");
    p.Unsilence(p.playbackMedia_);
  }
}

void CAVI::Pause(PlayContext& ctx) {
  CVisibleInsert::Pause(ctx);
  PauseMovie(true);
}

void CAVI::Resume(PlayContext& ctx) {
  CVisibleInsert::Resume(ctx);
  PauseMovie(false);
}

// The movie plays in the thread copy, when there is one.
void CAVI::PauseMovie(bool pause) {
  CAVI& p = Player();
  if (&p != this) p.runState = pause ? run_state::kPaused : run_state::kStarted;
  const auto from = pause ? MoviePlayback::Mode::kPlaying : MoviePlayback::Mode::kPaused;
  if (!p.playback_ || p.playback_->GetMode() != from) return;
  pause ? p.playback_->Pause() : p.playback_->Resume();
  p.TraceMovie(pause ? "pause" : "resume");
}

void CAVI::ClosePlayback() {
  if (!playback_) return;
  if (playback_->GetMode() != MoviePlayback::Mode::kStopped) {
    playback_->Stop();
    TraceMovie("stop");
  }
  if (playbackMedia_) {
    Unsilence(playbackMedia_);
    playbackMedia_->RemoveMovie(*playback_);
  }
  playback_.reset();
  playbackMedia_ = nullptr;
}

void CAVI::TakeOffStage(PlayContext& ctx) {
  StageSprite* s = GetSprite();
  bool on = false;
  if (s) {
    std::lock_guard lock(StageLock());
    on = s->onStage != 0;
  }
  if (on && playback_ && playback_->GetMode() != MoviePlayback::Mode::kStopped) {
    stopRequest_ = true;
    if (loopActive_) WakeLoop();
    playback_->Stop();
    TraceMovie("stop");
    Unsilence(playbackMedia_);
  }
  CVisibleInsert::TakeOffStage(ctx);
}

void CAVI::Hide(PlayContext& ctx) {
  ClosePlayback();
  TakeOffAndDropSprite(ctx);
}

void CAVI::Prepare(PlayContext& ctx) { PreloadSprite(ctx); }

// The movie runs on the run's clock, which goes with the run.
void CAVI::StageGone() {
  ClosePlayback();
  CVisibleInsert::StageGone();
}

bool CAVI::IsPlaying() const {
  if (playback_ && playback_->GetMode() != MoviePlayback::Mode::kStopped) return true;
  return CVisibleInsert::IsPlaying();
}

void CAVI::ChangeContent(PlayContext& ctx, const std::string& file) {
  StageSprite* old = GetSprite();
  if (old && old->onStage && EqualsNoCase(file, movieFile)) return;
  movieFile = file;
  failedFile_.clear();
  if (!old) return;
  const uint8_t state = old->displayState;
  const bool wasOn = old->onStage != 0;
  ClosePlayback();
  DestroySprite();
  // The new movie keeps the old one's place and display state.
  if (StageSprite* fresh = EnsureSprite(ctx); fresh && wasOn) {
    fresh->SetDisplayState(state);
    ctx.stage->compositor().Add(*fresh, true);
  }
  Invalidate(ctx);
}

// The effect periods: 0 where the object has none (a bound of 0 is unset).
uint32_t CAVI::DisappearingMs() const {
  return hideEffectStartMs > 0 && endMs > hideEffectStartMs ? endMs - hideEffectStartMs : 0;
}

void CAVI::SetStartTime(double seconds) {
  const uint32_t appearing = showEffectEndMs > startMs ? showEffectEndMs - startMs : 0;
  const uint32_t disappearing = DisappearingMs();
  double ms = seconds < 0 ? 0.0 : std::min(seconds * 1000.0, 4294967295.0);
  // Not past the end (0: the movie's end, when it is known).
  const double end = endMs ? double(endMs) : double(lengthMs_);
  if (end > 0) ms = std::min(ms, std::max(0.0, end - disappearing));
  startMs = static_cast<uint32_t>(ms);
  showEffectEndMs = appearing ? startMs + appearing : showEffectEndMs;
}

void CAVI::SetEndTime(double seconds) {
  const uint32_t appearing = showEffectEndMs > startMs ? showEffectEndMs - startMs : 0;
  const uint32_t disappearing = DisappearingMs();
  double ms = seconds < 0 ? 0.0 : std::min(seconds * 1000.0, 4294967295.0);
  ms = std::max(ms, double(startMs) + appearing);
  if (lengthMs_ > 0) ms = std::min(ms, double(lengthMs_));
  endMs = static_cast<uint32_t>(ms);
  hideEffectStartMs = disappearing ? endMs - std::min(endMs, disappearing) : hideEffectStartMs;
}

PropertyAnswer CAVI::GetProperty(Property id) const {
  if (PropertyAnswer time = GetTimeProperty(*this, id)) return time;
  return CVisibleInsert::GetProperty(id);
}

bool CAVI::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  return SetTimeProperty(*this, id, value) || CVisibleInsert::SetProperty(ctx, id, value);
}

}  // namespace kv
