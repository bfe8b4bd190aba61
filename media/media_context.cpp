#include "media/media_context.h"

#include <cstdio>
#include <stdexcept>

#include "engine/insert.h"
#include "engine/runner.h"
#include "engine/trace.h"
#include "inserts/visible_insert.h"
#include "media/audio.h"
#include "media/capture_sink.h"
#include "media/engine_movie_clock.h"
#include "media/mci_command.h"
#include "platform/audio_output.h"

namespace kv {

namespace {

// A real-time run that captures renders at least this often while sound plays.
constexpr int64_t kRealTimeRenderMs = 10;
// How long a "wait" may outlast its time for the speakers to finish the sound.
constexpr int64_t kSpeakersEndWaitMs = 1000;

// The capture (when there is one) and the recording hear the same blocks.
class TeeSink : public AudioSink {
 public:
  TeeSink(std::unique_ptr<AudioSink> first, AudioSink& second) : first_(std::move(first)), second_(second) {}
  void Write(const float* stereo, size_t frames) override {
    if (first_) first_->Write(stereo, frames);
    second_.Write(stereo, frames);
  }

 private:
  std::unique_ptr<AudioSink> first_;
  AudioSink& second_;
};

}  // namespace

MediaContext::MediaContext(Clock& clock, TraceSink* trace, MediaOptions options)
    : clock_(clock), trace_(trace), options_(std::move(options)) {
  // Without a device nothing sounds, but a capture still covers the run.
  if (!options_.noDevice || !options_.captureFile.empty() || options_.recording) {
    mixer_ = std::make_unique<Mixer>();
    if (!options_.captureFile.empty()) {
      auto capture = std::make_unique<WavCaptureSink>(options_.captureFile);
      capture_ = capture.get();
      sink_ = std::move(capture);
    }
    if (options_.recording) {
      // A recording takes the sound on the run's clock, as a capture does.
      sink_ = std::make_unique<TeeSink>(std::move(sink_), *options_.recording);
    } else if (!sink_ && options_.speakers && !clock_.IsVirtual()) {
      try {
        speakers_ = std::make_unique<SdlAudioOutput>(*mixer_, Mixer::kRate);
      } catch (const std::exception& e) {
        // Sound still keeps its timing and events; only the speakers are missing.
        std::fprintf(stderr, "korvel: no sound output (%s); playing silently\n", e.what());
      }
    }
    if (!speakers_ && !sink_) sink_ = std::make_unique<NullSink>();
  }
  Mixer* device = options_.noDevice ? nullptr : mixer_.get();
  buffers_ = std::make_unique<SoundBufferManager>(device);
  MciConfig config;
  config.soundFont = options_.soundFont;
  config.cdFolder = options_.cdFolder;
  if (options_.resolve) config.resolve = options_.resolve;
  config.wait = [this](int64_t ms, const std::function<bool()>& ended) {
    // "wait" keeps the sending thread on the run's clock, serving nothing.
    ScriptThreadContext* ctx = ScriptThreadContext::Current();
    if (!ctx) return;
    Changed();  // the renderer must know of the sound it is to end
    const int64_t deadline = clock_.NowMs() + ms;
    while (!ctx->runner.shuttingDown && clock_.NowMs() < deadline) ctx->runner.PumpMessage(false, deadline);
    // SDL takes the sound a block behind the clock, so its end may come
    // after the clock's; a command sent at once would cut the tail.
    if (!speakers_) return;
    const int64_t bound = clock_.NowMs() + kSpeakersEndWaitMs;
    while (!ctx->runner.shuttingDown && !ended() && clock_.NowMs() < bound)
      ctx->runner.PumpMessage(false, std::min(bound, clock_.NowMs() + kRealTimeRenderMs));
  };
  config.onSound = [this](const std::string& device, const char* op) { OnMciSound(device, op); };
  config.movieClock = [this] { return std::make_unique<EngineMovieClock>(clock_); };
  mci_ = std::make_unique<MciSystem>(device, std::move(config));
  if (speakers_) speakers_->Start();
  // With the speakers SDL pulls the sound, but the loop still keeps the run
  // from counting as idle while a sound that ends by itself plays.
  if (mixer_) {
    clock_.Join(renderWaiter_);
    renderThread_ = std::thread([this] { RenderLoop(); });
  }
}

MediaContext::~MediaContext() {
  try {
    Finish();
  } catch (const std::exception& e) {
    // Finish is called by the owner, which reports a failed capture; here only
    // the teardown of an abandoned run remains.
    std::fprintf(stderr, "korvel: %s\n", e.what());
  }
}

std::optional<std::filesystem::path> MediaContext::Resolve(const std::string& name) const {
  if (options_.resolve) return options_.resolve(name);
  std::error_code ec;
  if (std::filesystem::is_regular_file(name, ec)) return std::filesystem::path(name);
  return std::nullopt;
}

void MediaContext::Sync() {
  if (!mixer_ || !sink_ || finished_) return;
  std::lock_guard lock(renderMutex_);
  mixer_->RenderTo(Mixer::FrameAtMs(clock_.NowMs()), *sink_);
}

void MediaContext::Changed() {
  if (renderThread_.joinable()) clock_.Wake(renderWaiter_);
}

void MediaContext::RenderLoop() {
  while (!stopRender_) {
    int64_t deadline = kForever;
    const auto end = mixer_->NextEndFrame();
    // SDL's frames are not on the run's clock: it is asked again shortly.
    if (end) deadline = speakers_ ? clock_.NowMs() + kRealTimeRenderMs : Mixer::MsAtFrame(*end);
    if (!clock_.IsVirtual() && mixer_->SoundingCount() > 0)
      deadline = std::min(deadline, clock_.NowMs() + kRealTimeRenderMs);
    clock_.Wait(renderWaiter_, deadline, [this] { return stopRender_.load(); });
    if (clock_.Halted() && !stopRender_) {
      // The run is being torn down; Finish renders the last part.
      break;
    }
    Sync();
  }
}

void MediaContext::Finish() {
  if (finished_) return;
  {
    std::lock_guard lock(moviesMutex_);
    for (MoviePlayback* m : movies_) m->DetachAudio();
    movies_.clear();
  }
  Sync();
  finished_ = true;
  stopRender_ = true;
  if (renderThread_.joinable()) {
    clock_.Wake(renderWaiter_);
    renderThread_.join();
    clock_.Leave(renderWaiter_);
  }
  if (speakers_) speakers_->Stop();
  // Devices and buffers go before the sink: their ends may still be reported.
  mci_.reset();
  buffers_->ReleaseAllSoundBuffers();
  if (capture_) capture_->Close();
}

void MediaContext::TraceSound(const std::string& insert, const char* op) {
  if (trace_) trace_->Sound(ScriptThreadContext::CurrentTraceName(), insert, op);
}

void MediaContext::TraceMovie(const std::string& insert, const char* op, int64_t frame) {
  if (trace_) trace_->Movie(insert, op, frame);
}

MovieAudioOut MediaContext::MovieAudio() {
  MovieAudioOut out;
  if (finished_) return out;
  out.mixer = mixer();
  out.sync = [this] { Sync(); };
  out.changed = [this] { Changed(); };
  return out;
}

bool MediaContext::SilenceOtherSounds(VoiceId keep) {
  std::lock_guard lock(silenceMutex_);
  if (silencingMovies_ > 0 || !mixer() || finished_) return false;
  Sync();
  silencedVoices_ = mixer()->PauseAllExcept(keep);
  ++silencingMovies_;
  Changed();
  return true;
}

void MediaContext::EndSilence() {
  std::lock_guard lock(silenceMutex_);
  if (--silencingMovies_ >= 1) return;
  silencingMovies_ = 0;
  if (!mixer() || finished_) return;
  Sync();
  for (VoiceId v : silencedVoices_) mixer()->Resume(v);
  silencedVoices_.clear();
  Changed();
}

void MediaContext::AddMovie(MoviePlayback& movie) {
  std::lock_guard lock(moviesMutex_);
  if (finished_) {
    movie.DetachAudio();
    return;
  }
  movies_.push_back(&movie);
}

void MediaContext::RemoveMovie(MoviePlayback& movie) {
  std::lock_guard lock(moviesMutex_);
  std::erase(movies_, &movie);
}

void MediaContext::OnMciSound(const std::string& device, const char* op) {
  if (!trace_) return;
  std::string thread;
  {
    // A sound's natural end comes from the renderer: it belongs to the
    // thread that started it.
    std::lock_guard lock(mciThreadsMutex_);
    const std::string key = LowerAscii(device);
    if (std::string(op) == "play" || ScriptThreadContext::Current()) {
      thread = ScriptThreadContext::CurrentTraceName();
      mciThreads_[key] = thread;
    } else {
      auto it = mciThreads_.find(key);
      thread = it != mciThreads_.end() ? it->second : ScriptThreadContext::CurrentTraceName();
    }
  }
  trace_->Sound(thread, device, op);
}

uint32_t MediaContext::SendMciString(Runner& runner, const CInsert* sender, const std::string& command,
                                     std::string* ret) {
  std::string out;
  Sync();
  const uint32_t result = mci_->SendString(command, &out);
  Changed();
  if (runner.trace())
    runner.trace()->Mci(ScriptThreadContext::CurrentTraceName(), sender ? sender->name : std::string(), command,
                        result, out);
  if (ret) *ret = out;
  return result;
}

std::shared_ptr<CInsert> MediaContext::AttachedSound(CInsert& object) {
  auto* visible = As<CVisibleInsert>(&object);
  return visible ? visible->attachedSound : nullptr;
}

bool MediaContext::PlayAttachedSound(Runner& runner, CInsert& object) {
  auto* visible = As<CVisibleInsert>(&object);
  return visible && kv::PlayAttachedSound(runner, *visible);
}

bool MediaContext::StopAttachedSound(Runner& runner, CInsert& object) {
  auto* visible = As<CVisibleInsert>(&object);
  return visible && kv::StopAttachedSound(runner, *visible);
}

bool MediaContext::PauseAttachedSound(Runner& runner, CInsert& object) {
  auto* visible = As<CVisibleInsert>(&object);
  return visible && kv::PauseAttachedSound(runner, *visible);
}

bool MediaContext::ResumeAttachedSound(Runner& runner, CInsert& object) {
  auto* visible = As<CVisibleInsert>(&object);
  return visible && kv::ResumeAttachedSound(runner, *visible);
}

}  // namespace kv
