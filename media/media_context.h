// The sound of one run: the mixer and where its output goes (speakers, a
// capture file or nowhere), the sound buffer manager, the MCI devices and
// their slots. The player owns one and hands it to the engine as its
// MediaService; sound inserts and the MCI insert find it through the runner.
// On a clock-driven run a render thread keeps the mixer at the run's time, so
// a capture made on the virtual clock is the same on every run.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/clock.h"
#include "engine/media_service.h"
#include "media/mci_devices.h"
#include "media/mci_slots.h"
#include "media/mixer.h"
#include "media/movie_playback.h"
#include "media/sound_buffers.h"

namespace kv {

class SdlAudioOutput;
class TraceSink;
class WavCaptureSink;

struct MediaOptions {
  bool noDevice = false;               // play as if no sound output could be opened
  std::filesystem::path captureFile;   // everything sounded, as a WAV on the run's clock
  AudioSink* recording = nullptr;      // also gets everything sounded, on the run's clock
  bool speakers = false;               // try the sound device (real-time runs)
  std::filesystem::path soundFont;     // empty: the default General MIDI SoundFont
  std::filesystem::path cdFolder;      // ripped tracks of the "compact disc"
  // A stored file name to a host file; nullopt when not found.
  std::function<std::optional<std::filesystem::path>(const std::string&)> resolve;
};

class MediaContext : public MediaService {
 public:
  // Throws std::runtime_error when the capture file cannot be created.
  MediaContext(Clock& clock, TraceSink* trace, MediaOptions options);
  ~MediaContext() override;
  MediaContext(const MediaContext&) = delete;
  MediaContext& operator=(const MediaContext&) = delete;

  // Ends the run's sound at the clock's current time: the render thread
  // stops, every sound and device is released and the capture is closed.
  // Throws std::runtime_error when the capture could not be written.
  void Finish();

  // Null when there is no sound device.
  Mixer* mixer() { return options_.noDevice ? nullptr : mixer_.get(); }
  SoundBufferManager& buffers() { return *buffers_; }
  MciSystem& mci() { return *mci_; }
  DeviceSlots& slots() { return slots_; }
  Clock& clock() { return clock_; }
  const MediaOptions& options() const { return options_; }
  std::optional<std::filesystem::path> Resolve(const std::string& name) const;

  // Before a sound changes: the output is rendered up to now, so a sound
  // started at time t begins at sample round(t x 44.1).
  void Sync();
  // After a sound changed: the render thread looks at the next end again.
  void Changed();

  // The `sound` trace line, on the calling thread.
  void TraceSound(const std::string& insert, const char* op);
  // The `movie` trace line.
  void TraceMovie(const std::string& insert, const char* op, int64_t frame);
  // Where a movie's sound goes: the mixer, kept at the run's time.
  MovieAudioOut MovieAudio();
  // A movie with sound silences the other sounds: when no movie has yet,
  // every other playing voice pauses (true: this movie silenced them). When
  // the last silencing movie ends, they resume.
  bool SilenceOtherSounds(VoiceId keep);
  void EndSilence();
  // Movies playing in this run: their sound is taken from them when the
  // run's sound ends, before the mixer goes.
  void AddMovie(MoviePlayback& movie);
  void RemoveMovie(MoviePlayback& movie);
  // Sounds playing through the buffers (the play loops).
  std::atomic<int> playingSounds{0};
  // "DirectSound is not available." is shown once per run; true the first time.
  bool FirstMissingDeviceNotice() { return !missingNoticeShown_.exchange(true); }
  // The numbers of the MCI players' fallback aliases.
  long NextAliasNumber() { return ++aliasCounter_; }

  // MediaService
  uint32_t SendMciString(Runner& runner, const CInsert* sender, const std::string& command,
                         std::string* ret) override;
  std::shared_ptr<CInsert> AttachedSound(CInsert& object) override;
  bool PlayAttachedSound(Runner& runner, CInsert& object) override;
  bool StopAttachedSound(Runner& runner, CInsert& object) override;
  bool PauseAttachedSound(Runner& runner, CInsert& object) override;
  bool ResumeAttachedSound(Runner& runner, CInsert& object) override;

 private:
  void RenderLoop();
  void OnMciSound(const std::string& device, const char* op);

  Clock& clock_;
  TraceSink* trace_;
  MediaOptions options_;
  std::unique_ptr<Mixer> mixer_;
  std::unique_ptr<AudioSink> sink_;
  WavCaptureSink* capture_ = nullptr;  // sink_ when capturing
  std::unique_ptr<SdlAudioOutput> speakers_;
  std::unique_ptr<SoundBufferManager> buffers_;
  std::unique_ptr<MciSystem> mci_;
  DeviceSlots slots_;
  std::mutex renderMutex_;  // one renderer at a time keeps the blocks in order
  Waiter renderWaiter_;
  std::thread renderThread_;
  std::atomic<bool> stopRender_{false};
  std::atomic<bool> finished_{false};
  std::mutex moviesMutex_;
  std::vector<MoviePlayback*> movies_;
  std::atomic<bool> missingNoticeShown_{false};
  std::atomic<long> aliasCounter_{0};
  std::mutex silenceMutex_;
  int silencingMovies_ = 0;
  std::vector<VoiceId> silencedVoices_;
  std::mutex mciThreadsMutex_;
  std::map<std::string, std::string> mciThreads_;  // device name (lower case) to the thread that played it
};

}  // namespace kv
