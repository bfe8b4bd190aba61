#include "media/sound_buffers.h"

#include <algorithm>

namespace kv {

uint32_t ChannelValueOf(uint8_t channelMode, uint32_t channel) {
  switch (channelMode) {
    case 0:
      return 0;
    case 2:
      return channel;
    default:
      return kChannelMixAll;
  }
}

int32_t VolumeFromPercent(int32_t percent) {
  return static_cast<int32_t>(int64_t{std::clamp(percent, 0, 100)} * 10000 / 100 - 10000);
}
int32_t PercentFromVolume(int32_t volume) { return static_cast<int32_t>(int64_t{volume} * 100 / 10000 + 100); }
int32_t PanFromStep(int32_t step) { return std::clamp(step, -10, 10) * 1000; }
int32_t StepFromPan(int32_t pan) { return static_cast<int32_t>(int64_t{pan} * 10 / 10000); }

uint32_t FrequencyFromHz(int64_t hz) {
  // 22050 x 99900 passes 2^31: the product needs 64 bits.
  const int64_t f = std::clamp<int64_t>(hz, kMinFrequency, kMaxFrequency);
  return static_cast<uint32_t>(f * 99900 / 100000 + 100);
}

uint32_t ShiftedFrequency(uint32_t current, int32_t percent) {
  const int64_t p = std::clamp(percent, -100, 100);
  const int64_t f = int64_t{current} + p * int64_t{current} / 100;
  return static_cast<uint32_t>(std::clamp<int64_t>(f, kMinFrequency, kMaxFrequency));
}

SoundBufferManager::~SoundBufferManager() { ReleaseAllSoundBuffers(); }

PreparedSound SoundBufferManager::PrepareSound(const std::filesystem::path& file, uint32_t startMs, uint32_t endMs,
                                               uint32_t channelValue, std::weak_ptr<SoundBufferOwner> owner) {
  PreparedSound out;
  std::shared_ptr<const SoundBuffer> sound;
  FrameRange range;
  try {
    auto decoded = std::make_shared<SoundBuffer>(ReadSoundFile(file));
    range = SegmentFrames(*decoded, startMs, endMs);
    sound = std::move(decoded);
  } catch (const SoundFileError& e) {
    out.error = sound_error::kPrepareFailed;
    out.detail = e.what();
    return out;
  }
  out.record = CreateSoundBuffer(std::move(sound), range, channelValue, std::move(owner));
  if (out.record.expired()) {
    // No device or no free record: the play reports it, rwLastError stays.
    out.detail = "no sound buffer available";
  }
  return out;
}

std::shared_ptr<SoundBufferRecord> SoundBufferManager::CreateSoundBuffer(std::shared_ptr<const SoundBuffer> sound,
                                                                         FrameRange range, uint32_t channelValue,
                                                                         std::weak_ptr<SoundBufferOwner> owner) {
  std::lock_guard lock(soundLock_);
  if (!mixer_ || records_.size() >= kMaxSoundBuffers || !sound) return nullptr;
  const uint64_t frames = range.end > range.begin ? range.end - range.begin : 0;
  const int channels = sound->channels;
  const VoiceId voice = mixer_->CreateVoice(std::move(sound), range.begin, range.end);
  if (voice == 0) return nullptr;
  auto record = std::make_shared<SoundBufferRecord>();
  record->voice = voice;
  record->filled = true;
  record->channelValue = channelValue;
  record->byteSize = frames * static_cast<uint64_t>(channels) * 2;
  record->owner = std::move(owner);
  records_.push_back(record);
  lastFrequency_ = mixer_->Frequency(voice);
  return record;
}

bool SoundBufferManager::PlaySoundBuffer(SoundBufferRecord& r, uint32_t count, bool loop, uint64_t position) {
  std::lock_guard lock(soundLock_);
  if (!mixer_) return false;
  std::optional<uint64_t> from;
  if (!r.paused) from = position;
  r.paused = false;
  if (mixer_->State(r.voice) == VoiceState::kPaused) return mixer_->Resume(r.voice);
  return mixer_->Play(r.voice, count, loop, from);
}

bool SoundBufferManager::StopSoundBuffer(SoundBufferRecord& r) {
  std::lock_guard lock(soundLock_);
  r.paused = false;
  return mixer_ && mixer_->Stop(r.voice);
}

bool SoundBufferManager::PauseSoundBuffer(SoundBufferRecord& r) {
  std::lock_guard lock(soundLock_);
  if (!mixer_ || !mixer_->Pause(r.voice)) return false;
  r.paused = true;
  return true;
}

bool SoundBufferManager::IsSoundBufferPlaying(const SoundBufferRecord& r) const {
  return mixer_ && mixer_->State(r.voice) == VoiceState::kPlaying;
}

uint64_t SoundBufferManager::GetSoundBufferPosition(const SoundBufferRecord& r) const {
  return mixer_ ? mixer_->Position(r.voice).value_or(0) : 0;
}

void SoundBufferManager::SetSoundBufferVolume(const SoundBufferRecord& r, int32_t volume) {
  if (mixer_) mixer_->SetVolume(r.voice, volume);
}

void SoundBufferManager::SetSoundBufferPan(const SoundBufferRecord& r, int32_t pan) {
  if (mixer_) mixer_->SetPan(r.voice, pan);
}

void SoundBufferManager::SetSoundBufferFrequency(const SoundBufferRecord& r, uint32_t hz) {
  if (mixer_) mixer_->SetFrequency(r.voice, std::clamp(hz, kMinFrequency, kMaxFrequency));
}

uint32_t SoundBufferManager::GetSoundBufferFrequency(const SoundBufferRecord& r) const {
  return mixer_ ? mixer_->Frequency(r.voice) : 0;
}

void SoundBufferManager::SetEndCallback(const SoundBufferRecord& r, VoiceEndFn fn) {
  if (mixer_) mixer_->SetEndCallback(r.voice, std::move(fn));
}

void SoundBufferManager::DestroySoundBuffer(const SoundBufferRecord& r) {
  std::shared_ptr<SoundBufferRecord> keep;
  {
    std::lock_guard lock(soundLock_);
    auto it = std::find_if(records_.begin(), records_.end(), [&](const auto& p) { return p.get() == &r; });
    if (it == records_.end()) return;
    keep = std::move(*it);
    records_.erase(it);
  }
  // Outside the lock: the end callback may come back into the manager.
  if (mixer_) mixer_->DestroyVoice(keep->voice);
}

void SoundBufferManager::SwitchOff() {
  switchedOff_ = true;
  ReleaseAllSoundBuffers();
}

void SoundBufferManager::ReleaseAllSoundBuffers() {
  std::vector<std::shared_ptr<SoundBufferRecord>> all;
  {
    std::lock_guard lock(soundLock_);
    all.swap(records_);
  }
  for (const auto& r : all) {
    if (mixer_) mixer_->DestroyVoice(r->voice);
  }
}

void SoundBufferManager::StopChannel(uint32_t channelValue, const SoundBufferRecord* except, bool unRun) {
  std::vector<std::shared_ptr<SoundBufferRecord>> playing;
  {
    std::lock_guard lock(soundLock_);
    for (const auto& r : records_) {
      if (r.get() == except || (channelValue != 0 && r->channelValue != channelValue)) continue;
      if (mixer_ && mixer_->State(r->voice) != VoiceState::kStopped) playing.push_back(r);
    }
  }
  for (const auto& r : playing) {
    if (auto owner = r->owner.lock()) {
      owner->RequestStop(unRun);
    } else {
      StopSoundBuffer(*r);  // nobody is left to notice a request
    }
  }
}

void SoundBufferManager::ChangeOwnerWindow(uintptr_t window) {
  {
    std::lock_guard lock(soundLock_);
    if (window == ownerWindow_) return;
    ownerWindow_ = window;
  }
  ReleaseAllSoundBuffers();
}

size_t SoundBufferManager::LiveCount() const {
  std::lock_guard lock(soundLock_);
  return records_.size();
}

uint32_t SoundBufferManager::LastFrequency() const {
  std::lock_guard lock(soundLock_);
  return lastFrequency_;
}

}  // namespace kv
