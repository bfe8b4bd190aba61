#include "media/audio.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "engine/events.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "inserts/visible_insert.h"
#include "media/mci_command.h"
#include "media/mci_player.h"
#include "media/media_context.h"
#include "persist/field_walk.h"
#include "persist/fields.h"
#include "platform/string_table.h"

namespace kv {

KV_IMPLEMENT_CLASS(CAudio, CInsert, kVersionable | 0)
KV_IMPLEMENT_CLASS(CFileAudio, CAudio, kVersionable | 0)
KV_IMPLEMENT_CLASS(CDiscAudio, CAudio, kVersionable | 0)

void CAudio::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
  showMode = show_mode::kShowAndPlayWhenReady;
}

void CAudio::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CAudio>(other));
}

// The sound's version word comes before the common record.
template <class W>
void CAudio::Walk(W& w) {
  // A loaded record starts without the buffer or device it held.
  if constexpr (W::kArchive)
    if (w.Filling()) ReleaseSound();
  const uint16_t v = w.Version("audioVersion", audioVersion, kNewestVersion, 1, "CAudio");
  w.Base(static_cast<CInsert&>(*this));  // loading resets every field first
  if (v >= 2) {
    w("frequency", frequency);
    w("volume", volume);
    w("pan", pan);
    w("channelMode", channelMode);
    w("channel", channel);
    w("displayFlags", displayFlags);
    w("displayKind", displayKind);
    // The display block has no stored length and no known layout: reading on
    // would take its bytes for the fields after it.
    if constexpr (W::kArchive)
      if (displayKind == kAudioHasDisplayBlock)
        w.ar.Fail(CArchiveException::badSchema, "CAudio displayData: a display block of unknown size");
  }
  w("ownThread", ownThread);
  w("playCount", playCount);
  w("loop", loop);
  w("startMs", startMs);
  w("endMs", endMs);
  w("fileName", fileName);
  w("audioByte", audioByte);
}

KV_FIELD_WALK_IO(CAudio)

}  // namespace kv

// --- behaviour

namespace kv {

namespace {

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && LowerAscii(s.substr(s.size() - n)) == suffix;
}

// A thread copy's thread stops: its abort flag and the stop key to itself.
void StopOwnThread(CInsert& insert) {
  if (insert.source.expired()) return;
  if (auto t = insert.thread.lock()) {
    t->abortFlag = true;
    t->port.PostKey(t->runner.stopKey);
  }
}

// Serves the thread's messages (running no requests) until `released()`, the
// stop key or a stop. Every wake-up looks again, also one for a request the
// wait drops.
void WaitUntil(Runner& runner, const std::function<bool()>& released) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  while (ctx && !runner.IsStopRequested()) {
    Message m = runner.PumpMessage(false, runner.Now());
    if (m.IsKeyDown() && m.key == runner.stopKey) return;
    if (m) continue;
    if (released()) return;
    runner.clock().Wait(ctx->port.waiter(), kForever,
                        [&] { return runner.shuttingDown.load() || ctx->abortFlag.load(); });
  }
}

}  // namespace

CAudio::CAudio() = default;
CAudio::~CAudio() = default;

CAudio& CAudio::Player() {
  if (auto copy = clone.lock())
    if (auto* audio = As<CAudio>(copy.get())) return *audio;
  return *this;
}

void CAudio::WakeLoop() {
  if (auto t = thread.lock()) t->runner.clock().Wake(t->port.waiter());
}

bool CAudio::IsWaveFile() const { return EndsWithNoCase(fileName, ".wav"); }

std::shared_ptr<SoundBufferRecord> CAudio::Record() const {
  std::lock_guard lock(recordMutex_);
  return record_.lock();
}

void CAudio::SetRecord(std::weak_ptr<SoundBufferRecord> record) {
  std::lock_guard lock(recordMutex_);
  record_ = std::move(record);
}

bool CAudio::IsPlaying() const {
  if (auto copy = clone.lock())
    if (auto* audio = As<CAudio>(copy.get()); audio && audio != this) return audio->IsPlaying();
  return loopActive_;
}

int CAudio::SetPropertyText(PlayContext& ctx, int index, const std::string& text) {
  if (index == 0) ChangeContent(ctx, text);
  return 1;
}

void CAudio::GetPropertyText(int index, std::string& text, int& type) {
  if (index != 0) return;
  text = fileName;
  type = 8;
}

void CAudio::ReplaceFile(const std::string& text) {
  ReleaseSound();
  fileName = text;
}

void CAudio::SetStartTime(double seconds) {
  const double ms = seconds < 0 ? 0.0 : std::min(seconds * 1000.0, static_cast<double>(endMs));
  startMs = static_cast<uint32_t>(ms);
  ReleaseSound();  // the next play reads the new segment
}

void CAudio::SetEndTime(double seconds) {
  const double ms = seconds < 0 ? 0.0 : std::min(seconds * 1000.0, 4294967295.0);
  endMs = std::max(startMs, static_cast<uint32_t>(ms));
  ReleaseSound();
}

namespace {
// The manager of the run the insert's thread belongs to; null outside a run.
SoundBufferManager* ManagerOf(const CInsert& insert) {
  auto t = insert.thread.lock();
  MediaContext* media = t ? t->runner.Context().media : nullptr;
  return media ? &media->buffers() : nullptr;
}
}  // namespace

// With buffered sound switched off for the run (kvDisableDirectSound), wave
// files play through the MCI like any other file.
bool CAudio::UsesDirectSound() const {
  if (Record()) return true;
  const SoundBufferManager* m = ManagerOf(*this);
  return !(m && m->SwitchedOff()) && IsWaveFile();
}

template <class T, class Apply>
void CAudio::StoreAndApply(T AudioFields::*field, T value, Apply apply) {
  this->*field = value;
  CAudio& p = Player();
  p.*field = value;
  if (auto r = p.Record())
    if (auto* m = ManagerOf(p)) (m->*apply)(*r, value);
}

void CAudio::SetVolumePercent(int v) {
  StoreAndApply(&AudioFields::volume, VolumeFromPercent(v), &SoundBufferManager::SetSoundBufferVolume);
}

void CAudio::SetPanStep(int v) {
  StoreAndApply(&AudioFields::pan, PanFromStep(v), &SoundBufferManager::SetSoundBufferPan);
}

void CAudio::SetFrequencyHz(int f) {
  StoreAndApply(&AudioFields::frequency, FrequencyFromHz(f), &SoundBufferManager::SetSoundBufferFrequency);
}

int CAudio::GetFrequencyHz() const {
  const CAudio& p = const_cast<CAudio*>(this)->Player();
  auto r = p.Record();
  SoundBufferManager* m = ManagerOf(p);
  return r && m ? static_cast<int>(m->GetSoundBufferFrequency(*r)) : 0;
}

uint32_t CAudio::CurrentFrequency() const {
  if (const int playing = GetFrequencyHz()) return static_cast<uint32_t>(playing);
  if (frequency != 0) return frequency;
  // Without a buffer the shift starts from the file's own rate, not from 0.
  auto t = thread.lock();
  MediaContext* media = t ? t->runner.Context().media : nullptr;
  if (media)
    if (auto file = media->Resolve(fileName))
      if (auto info = ReadSoundInfo(*file)) return info->sampleRate;
  return 0;
}

void CAudio::ShiftFrequencyPercent(int p) {
  const uint32_t current = CurrentFrequency();
  if (current == 0) return;  // no rate to start from: nothing to shift
  StoreAndApply(&AudioFields::frequency, ShiftedFrequency(current, p), &SoundBufferManager::SetSoundBufferFrequency);
}

PropertyAnswer CAudio::GetProperty(Property id) const {
  switch (id) {
    case Property::kStartTime: return GetStartTime();
    case Property::kEndTime: return GetEndTime();
    case Property::kVolume: return static_cast<double>(GetVolumePercent());
    case Property::kPan: return static_cast<double>(GetPanStep());
    case Property::kFrequency: return static_cast<double>(GetFrequencyHz());
    default: return CInsert::GetProperty(id);
  }
}

bool CAudio::SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) {
  const auto* number = std::get_if<double>(&value);
  if (!number) return CInsert::SetProperty(ctx, id, value);
  // Scripts hand whole numbers for all but the times.
  const int whole = static_cast<int>(std::clamp(*number, -2147483648.0, 2147483647.0));
  switch (id) {
    case Property::kStartTime: SetStartTime(*number); return true;
    case Property::kEndTime: SetEndTime(*number); return true;
    case Property::kVolume: SetVolumePercent(whole); return true;
    case Property::kPan: SetPanStep(whole); return true;
    case Property::kFrequency: SetFrequencyHz(whole); return true;
    case Property::kFrequencyShift: ShiftFrequencyPercent(whole); return true;
    default: return CInsert::SetProperty(ctx, id, value);
  }
}

void CAudio::RequestStop(bool unRun) {
  stopRequest_ = true;
  if (unRun) SetRunning(0);
  WakeLoop();
}

void CAudio::Stop(PlayContext& ctx) {
  CAudio& p = Player();
  if (&p != this) p.Stop(ctx);
  SetRunning(0);
  stopRequest_ = true;
  WakeLoop();
}

void CAudio::Pause(PlayContext&) {
  CAudio& p = Player();
  if (!p.loopActive_) return;
  p.pauseRequest_ = 1;
  p.runState = run_state::kPaused;
  runState = run_state::kPaused;
  p.WakeLoop();
}

void CAudio::Resume(PlayContext&) {
  CAudio& p = Player();
  if (p.runState != run_state::kPaused && runState != run_state::kPaused) return;
  p.pauseRequest_ = 2;
  p.runState = run_state::kStarted;
  runState = run_state::kStarted;
  p.WakeLoop();
}

void CAudio::ReleaseSound() {
  CAudio& p = Player();
  if (p.loopActive_) {
    p.SetRunning(0);
    p.stopRequest_ = true;
    p.WakeLoop();
    return;
  }
  if (auto r = p.Record())
    if (auto* m = ManagerOf(p)) m->DestroySoundBuffer(*r);
  p.SetRecord({});
}

void CAudio::Prepare(PlayContext&) {
  auto t = thread.lock();
  MediaContext* media = t ? t->runner.Context().media : nullptr;
  if (!media || Record() || !UsesDirectSound() || !media->buffers().Available()) return;
  PrepareWave(t->runner, *media);
}

bool CAudio::PrepareWave(Runner& runner, MediaContext& media) {
  if (Record()) return true;
  if (fileName.empty()) return false;
  auto file = media.Resolve(fileName);
  if (!file) {
    runner.variables().SetLastError(sound_error::kPrepareFailed);
    return false;
  }
  auto self = std::static_pointer_cast<CAudio>(shared_from_this());
  PreparedSound prepared = media.buffers().PrepareSound(*file, startMs, endMs, ChannelValueOf(channelMode, channel),
                                                        std::shared_ptr<SoundBufferOwner>(self, this));
  if (prepared.error != 0) runner.variables().SetLastError(prepared.error);
  SetRecord(prepared.record);
  return Record() != nullptr;
}

int CAudio::Run(Runner& runner, int32_t mode) {
  MediaContext* media = runner.Context().media;
  const bool haveDevice = media && media->buffers().Available();
  if (UsesDirectSound() && !haveDevice) {
    runner.variables().SetLastError(sound_error::kNoSoundManager);
    if (!media || media->FirstMissingDeviceNotice())
      runner.ShowError(0, kNoSoundDeviceText, LoadString(sid::kAppName));
    SetRunning(0);
    StopOwnThread(*this);
    return 1;
  }
  runner.RegisterForEvents(*this);
  runner.RaiseEvent(*this, event::kSetup, 0, nullptr);
  runMode = mode;
  runner.DelayBeforeActing(*this, mode);
  if (runner.playerRunning) {
    const bool threadCopy = !source.expired();
    if (showMode == show_mode::kHeld) {
      if (!threadCopy) return 1;
      // Held until a play request: it marks the original (or this copy)
      // before it arrives, and the wait drops it, as this run now plays.
      auto original = source.lock();
      WaitUntil(runner, [&] {
        return !original || original->showMode != show_mode::kHeld || original->playRequested || playRequested;
      });
      if (original) original->playRequested.exchange(0);
      playRequested.exchange(0);
      showMode = show_mode::kPlayWhenReady;
    }
    if (showMode == show_mode::kPlayWhenReady || showMode == show_mode::kShowAndPlayWhenReady)
      WaitUntil(runner, [&] { return !runner.sceneLoading; });
    showMode = show_mode::kUnset;
  }
  if (runner.IsStopRequested()) return 1;
  if (!media) throw KVRunException(sid::kRunTimeError, "sound needs the run's media layer");
  return PlaySound(runner, *media);
}

int CAudio::PlaySound(Runner& runner, MediaContext& media) {
  return UsesDirectSound() ? PlayWave(runner, media) : PlayThroughMci(runner, media, false);
}

int CDiscAudio::PlaySound(Runner& runner, MediaContext& media) { return PlayThroughMci(runner, media, true); }

int CAudio::PlayWave(Runner& runner, MediaContext& media) {
  if (startMs >= endMs || !running || runner.IsStopRequested()) return 1;
  if (!Record()) PrepareWave(runner, media);
  auto record = Record();
  if (!record) {
    runner.ReportRunError(this, sound_sid::kErrorPlayingSound, fileName);
    return 0;
  }
  SoundBufferManager& buffers = media.buffers();
  // A stored volume above full is taken as full.
  buffers.SetSoundBufferVolume(*record, std::min(volume, kVolumeFull));
  buffers.SetSoundBufferPan(*record, pan);
  if (frequency != 0 && !(displayFlags & kAudioIgnoreFrequency)) buffers.SetSoundBufferFrequency(*record, frequency);
  runner.RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  media.Sync();
  if (record->channelValue != kChannelMixAll && runner.playerRunning)
    buffers.StopChannel(record->channelValue, record.get(), false);

  stopRequest_ = false;
  pauseRequest_ = 0;
  auto ended = std::make_shared<std::atomic<bool>>(false);
  std::weak_ptr<ScriptThreadContext> owner = thread;
  Clock* clock = &runner.clock();
  buffers.SetEndCallback(*record, [ended, owner, clock](VoiceId, VoiceEnd) {
    *ended = true;
    if (auto t = owner.lock()) clock->Wake(t->port.waiter());
  });
  ++media.playingSounds;
  loopActive_ = true;
  // The mixer plays the passes back to back, so repeats are sample-exact;
  // a count of 0 plays once.
  bool playing = buffers.PlaySoundBuffer(*record, loop ? 1 : std::max<uint32_t>(playCount, 1), loop != 0, 0);
  media.Changed();
  if (playing) media.TraceSound(name, "play");
  bool stopped = false;
  while (playing && !*ended) {
    Message m = runner.PumpMessage(false, kForever);
    const bool stopKey = m.IsKeyDown() && m.key == runner.stopKey;
    const int pause = pauseRequest_.exchange(0);
    if (pause == 1 && !record->paused) {
      media.Sync();
      if (buffers.PauseSoundBuffer(*record)) media.TraceSound(name, "pause");
      media.Changed();
    } else if (pause == 2 && record->paused) {
      media.Sync();
      if (buffers.PlaySoundBuffer(*record, 1, loop != 0)) media.TraceSound(name, "resume");
      media.Changed();
    }
    if (stopKey || runner.IsStopRequested() || stopRequest_ || !running) {
      media.Sync();
      buffers.StopSoundBuffer(*record);
      media.Changed();
      stopped = true;
      break;
    }
  }
  loopActive_ = false;
  --media.playingSounds;
  if (playing) media.TraceSound(name, "stop");
  runner.RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
  if (!running || stopped || runner.IsStopRequested()) {
    buffers.DestroySoundBuffer(*record);
    SetRecord({});
  }
  return 1;
}

int CAudio::PlayThroughMci(Runner& runner, MediaContext& media, bool disc) {
  if (!running || runner.IsStopRequested()) return 1;
  if (!disc && startMs >= endMs) return 1;
  // The device belongs to this thread and lives for this play.
  MciPlayer player(runner, media, name, true);
  std::string from, to;
  if (disc) {
    uint32_t tracks = 0;
    if (player.OpenCd(tracks) != 0) {
      runner.ReportRunError(this, sound_sid::kErrorInitializingAudio, {});
      return 0;
    }
    const uint32_t last = endMs == 0 ? tracks : endMs;
    if (startMs < 1 || startMs > tracks || last < startMs || last > tracks) {
      runner.ReportRunError(this, sound_sid::kInvalidTrack, std::to_string(startMs) + "-" + std::to_string(last));
      return 0;
    }
    from = std::to_string(startMs);
    if (last < tracks) to = std::to_string(last + 1);
  } else {
    if (player.OpenWave(fileName) != 0) {
      runner.variables().SetLastError(sound_error::kPrepareFailed);
      runner.ReportRunError(this, sound_sid::kErrorPlayingSound, fileName);
      return 0;
    }
    // The segment, clamped to the file's length.
    std::string length;
    media.mci().SendString("status " + QuoteMciArgument(player.alias()) + " length", &length);
    const uint64_t total = std::strtoull(length.c_str(), nullptr, 10);
    from = std::to_string(std::min<uint64_t>(startMs, total));
    to = std::to_string(std::min<uint64_t>(endMs, total));
  }
  runner.RaiseEvent(*this, event::kStartPlaying, 0, nullptr);
  stopRequest_ = false;
  pauseRequest_ = 0;
  ++media.playingSounds;
  loopActive_ = true;
  const uint32_t passes = loop ? 0xFFFFFFFFu : std::max<uint32_t>(playCount, 1);
  const uint32_t r = player.Play(from, to, passes);
  if (r == 0) {
    player.WaitWhilePlaying([&] {
      const int pause = pauseRequest_.exchange(0);
      if (pause == 1) player.Pause();
      if (pause == 2) player.Resume();
      return stopRequest_ || !running;
    });
  } else if (disc) {
    runner.ReportRunError(this, sound_sid::kErrorPlayingSegment, {});
  }
  player.Close();
  loopActive_ = false;
  --media.playingSounds;
  runner.RaiseEvent(*this, event::kStopPlaying, 0, nullptr);
  return r == 0 ? 1 : 0;
}

// --- the sound a visible object carries

namespace {
CAudio* SoundOf(CVisibleInsert& object) { return As<CAudio>(object.attachedSound.get()); }
}  // namespace

bool PlayAttachedSound(Runner& runner, CVisibleInsert& object) {
  CAudio* sound = SoundOf(object);
  if (!sound) return false;
  InsertPtr target = object.attachedSound;
  // "Play object" on the sound: one already playing is left alone.
  if (sound->IsPlaying()) {
    target->playRequested.exchange(0);
    runner.variables().SetLastError(5);
    return true;
  }
  target->playRequested.exchange(0);
  target->showMode = show_mode::kShowAndPlay;
  runner.PlayInsert(target, run_mode::kHandler, play_option::kSkipDisabled);
  return true;
}

bool StopAttachedSound(Runner& runner, CVisibleInsert& object) {
  CAudio* sound = SoundOf(object);
  if (!sound) return false;
  sound->playRequested.exchange(0);
  // The attached sound is in no script (never active): stop it by what it does.
  if (sound->IsPlaying())
    sound->Stop(runner.Context());
  else
    sound->SetRunning(0);
  return true;
}

bool PauseAttachedSound(Runner& runner, CVisibleInsert& object) {
  CAudio* sound = SoundOf(object);
  if (!sound) return false;
  sound->Pause(runner.Context());
  return true;
}

bool ResumeAttachedSound(Runner& runner, CVisibleInsert& object) {
  CAudio* sound = SoundOf(object);
  if (!sound) return false;
  sound->Resume(runner.Context());
  return true;
}

}  // namespace kv
