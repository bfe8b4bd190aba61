#include "media/stage_media_site.h"

#include <chrono>
#include <thread>

#include "engine/play_context.h"
#include "engine/runner.h"
#include "inserts/control_registry.h"
#include "inserts/stage_host.h"
#include "inserts/visible_insert.h"
#include "media/avi.h"
#include "media/engine_movie_clock.h"
#include "media/media_context.h"
#include "persist/project_session.h"
#include "stage/compositor.h"

namespace kv {

namespace {

MoviePixels PixelsOf(PixelFormat f) { return f == PixelFormat::kXrgb32 ? MoviePixels::kXrgb32 : MoviePixels::kRgb565; }

// The media player control as the ActiveX object hosts it.
class HostedMediaPlayer : public CompositedControl {
 public:
  explicit HostedMediaPlayer(MediaPlayerSite site) : control_(std::move(site)) {}
  std::optional<int32_t> MemberId(std::string_view name) const override { return MediaPlayerControl::MemberId(name); }
  DispatchStatus Put(int32_t id, const DispatchValue& value) override { return control_.Put(id, value); }
  DispatchStatus Get(int32_t id, DispatchValue& out) override { return control_.Get(id, out); }
  DispatchStatus Call(int32_t id, std::span<const DispatchValue> args) override { return control_.Call(id, args); }
  std::string ErrorText() const override { return control_.ErrorText(); }

 private:
  MediaPlayerControl control_;
};

}  // namespace

MediaPlayerSite StageMediaSite(CVisibleInsert& object, Stage& stage, int width, int height, bool showPicture,
                               std::function<void()> redraw, std::function<void()> wake) {
  Runner& runner = stage.runner();
  MediaContext* media = runner.Context().media;
  MediaPlayerSite site;
  site.makeClock = [&runner] { return std::make_unique<EngineMovieClock>(runner.clock()); };
  site.audio = media ? media->MovieAudio() : MovieAudioOut{};
  site.resolve = [&runner](const std::string& name) -> std::optional<std::filesystem::path> {
    auto resolved = runner.Session().locator().RetrieveResource(name);
    auto host = resolved ? runner.Session().HostPath(*resolved) : std::nullopt;
    if (!host) return std::nullopt;
    return std::filesystem::path(*host);
  };
  site.width = width;
  site.height = height;
  site.pixels = PixelsOf(stage.compositor().Format());
  site.showPicture = showPicture;
  site.present = [&object, redraw = std::move(redraw)](const MoviePicture& p, int64_t,
                                                       const std::function<bool()>& giveUp) {
    // The stage lock comes first; whoever stops the control may hold it.
    std::unique_lock lock(object.StageLock(), std::defer_lock);
    while (!lock.try_lock()) {
      if (giveUp()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    StageSprite* s = object.GetSprite();
    if (!s) return true;
    CopyMoviePicture(*s, p);
    if (s->onStage) redraw();
    return true;
  };
  const std::string name = object.name;
  site.notify = [media, name, wake = std::move(wake)](const char* op, int64_t frame) {
    if (media) media->TraceMovie(name, op, frame);
    if (wake) wake();
  };
  site.track = [media](MoviePlayback& playback, bool opened) {
    if (!media) return;
    if (opened)
      media->AddMovie(playback);
    else
      media->RemoveMovie(playback);
  };
  return site;
}

void RegisterMediaControls() {
  SetCompositedControlMaker("media player", [](const CompositedControlPlace& place) {
    const int w = std::clamp(place.width, 1, MovieDecoder::kMaxSide);
    const int h = std::clamp(place.height, 1, MovieDecoder::kMaxSide);
    return std::make_unique<HostedMediaPlayer>(StageMediaSite(place.object, place.stage, w, h, true, place.redraw, {}));
  });
}

}  // namespace kv
