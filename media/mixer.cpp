#include "media/mixer.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "media/mix_loop.h"

namespace kv {

SoundBuffer SoundBufferFromPcm(const PcmFormat& f, std::span<const uint8_t> bytes) {
  if ((f.channels != 1 && f.channels != 2) || (f.bitsPerSample != 8 && f.bitsPerSample != 16) || f.sampleRate == 0) {
    throw std::invalid_argument("PCM format not playable: " + std::to_string(f.channels) + " channels, " +
                                std::to_string(f.bitsPerSample) + " bits, " + std::to_string(f.sampleRate) + " Hz");
  }
  const size_t frameBytes = static_cast<size_t>(f.channels) * static_cast<size_t>(f.bitsPerSample / 8);
  if (bytes.size() % frameBytes != 0) throw std::invalid_argument("PCM data ends inside a frame");
  SoundBuffer b;
  b.channels = f.channels;
  b.sampleRate = f.sampleRate;
  if (f.bitsPerSample == 8) {
    b.samples.resize(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) b.samples[i] = (static_cast<int>(bytes[i]) - 128) * (1.0f / 128.0f);
  } else {
    b.samples.resize(bytes.size() / 2);
    for (size_t i = 0; i < b.samples.size(); ++i) {
      const auto s = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
      b.samples[i] = s * (1.0f / 32768.0f);
    }
  }
  return b;
}

float GainOfVolume(int32_t volume) {
  if (volume <= kVolumeSilent) return 0.0f;
  if (volume >= kVolumeFull) return 1.0f;
  return static_cast<float>(std::pow(10.0, volume / 2000.0));
}

VoiceId Mixer::CreateVoice(std::shared_ptr<const SoundBuffer> buffer, uint64_t begin, uint64_t end) {
  if (!buffer || (buffer->channels != 1 && buffer->channels != 2) || buffer->sampleRate == 0) return 0;
  end = std::min(end, buffer->Frames());
  if (begin >= end) return 0;
  Voice v;
  v.buffer = std::move(buffer);
  v.begin = begin;
  v.end = end;
  v.pos = begin << kMixFracBits;
  UpdateStep(v);
  std::lock_guard lock(mutex_);
  const VoiceId id = nextId_++;
  voices_.emplace(id, std::move(v));
  return id;
}

void Mixer::DestroyVoice(VoiceId id) {
  Ended ended;
  {
    std::lock_guard lock(mutex_);
    auto it = voices_.find(id);
    if (it == voices_.end()) return;
    if (it->second.state != VoiceState::kStopped && it->second.onEnd) {
      ended.push_back({std::move(it->second.onEnd), {id, VoiceEnd::kDestroyed}});
    }
    voices_.erase(it);
  }
  Notify(ended);
}

void Mixer::SetEndCallback(VoiceId id, VoiceEndFn fn) {
  std::lock_guard lock(mutex_);
  if (Voice* v = Find(id)) v->onEnd = std::move(fn);
}

bool Mixer::Play(VoiceId id, uint32_t count, bool loop, std::optional<uint64_t> from) {
  std::lock_guard lock(mutex_);
  Voice* v = Find(id);
  if (!v) return false;
  if (from) v->pos = (v->begin + std::min(*from, v->end - v->begin)) << kMixFracBits;
  if (v->pos >= (v->end << kMixFracBits)) v->pos = v->begin << kMixFracBits;
  v->passesLeft = std::max<uint32_t>(count, 1);  // a count of 0 still plays once
  v->loop = loop;
  v->state = VoiceState::kPlaying;
  return true;
}

bool Mixer::Stop(VoiceId id) {
  Ended ended;
  {
    std::lock_guard lock(mutex_);
    Voice* v = Find(id);
    if (!v) return false;
    if (v->state != VoiceState::kStopped) {
      v->state = VoiceState::kStopped;
      if (v->onEnd) ended.push_back({v->onEnd, {id, VoiceEnd::kStopped}});
    }
  }
  Notify(ended);
  return true;
}

bool Mixer::Pause(VoiceId id) {
  std::lock_guard lock(mutex_);
  Voice* v = Find(id);
  if (!v || v->state != VoiceState::kPlaying) return false;
  v->state = VoiceState::kPaused;
  return true;
}

std::vector<VoiceId> Mixer::PauseAllExcept(VoiceId keep) {
  std::lock_guard lock(mutex_);
  std::vector<VoiceId> paused;
  for (auto& [id, v] : voices_) {
    if (id == keep || v.state != VoiceState::kPlaying) continue;
    v.state = VoiceState::kPaused;
    paused.push_back(id);
  }
  return paused;
}

bool Mixer::Resume(VoiceId id) {
  std::lock_guard lock(mutex_);
  Voice* v = Find(id);
  if (!v || v->state != VoiceState::kPaused) return false;
  v->state = VoiceState::kPlaying;
  return true;
}

void Mixer::SetVolume(VoiceId id, int32_t volume) {
  std::lock_guard lock(mutex_);
  if (Voice* v = Find(id)) {
    v->volume = std::clamp(volume, kVolumeSilent, kVolumeFull);
    UpdateGains(*v);
  }
}

void Mixer::SetPan(VoiceId id, int32_t pan) {
  std::lock_guard lock(mutex_);
  if (Voice* v = Find(id)) {
    v->pan = std::clamp(pan, kPanLeft, kPanRight);
    UpdateGains(*v);
  }
}

void Mixer::SetFrequency(VoiceId id, uint32_t hz) {
  std::lock_guard lock(mutex_);
  if (Voice* v = Find(id)) {
    v->frequency = hz == 0 ? 0 : std::clamp(hz, kMinFrequency, kMaxFrequency);
    UpdateStep(*v);
  }
}

uint32_t Mixer::Frequency(VoiceId id) const {
  std::lock_guard lock(mutex_);
  const Voice* v = Find(id);
  if (!v) return 0;
  return v->frequency != 0 ? v->frequency : v->buffer->sampleRate;
}

std::optional<VoiceState> Mixer::State(VoiceId id) const {
  std::lock_guard lock(mutex_);
  const Voice* v = Find(id);
  if (!v) return std::nullopt;
  return v->state;
}

std::optional<uint64_t> Mixer::Position(VoiceId id) const {
  std::lock_guard lock(mutex_);
  const Voice* v = Find(id);
  if (!v) return std::nullopt;
  return (v->pos >> kMixFracBits) - v->begin;
}

std::optional<int64_t> Mixer::NextEndFrame() const {
  std::lock_guard lock(mutex_);
  std::optional<int64_t> first;
  for (const auto& [id, v] : voices_) {
    if (v.state != VoiceState::kPlaying || v.loop || v.step == 0) continue;
    const uint64_t endPos = v.end << kMixFracBits;
    const uint64_t length = (v.end - v.begin) << kMixFracBits;
    // The source still to play: the rest of this pass and every pass after it.
    unsigned __int128 left = endPos > v.pos ? endPos - v.pos : 0;
    left += static_cast<unsigned __int128>(v.passesLeft > 1 ? v.passesLeft - 1 : 0) * length;
    const unsigned __int128 frames = std::max<unsigned __int128>(1, (left + v.step - 1) / v.step);
    const int64_t at = rendered_ + static_cast<int64_t>(std::min<unsigned __int128>(frames, INT64_MAX / 2));
    if (!first || at < *first) first = at;
  }
  return first;
}

size_t Mixer::VoiceCount() const {
  std::lock_guard lock(mutex_);
  return voices_.size();
}

size_t Mixer::SoundingCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(voices_.begin(), voices_.end(),
                                           [](const auto& kv) { return kv.second.state != VoiceState::kStopped; }));
}

void Mixer::Pull(float* stereo, size_t frames) {
  Ended ended;
  {
    std::lock_guard lock(mutex_);
    MixLocked(stereo, frames, ended);
  }
  Notify(ended);
}

void Mixer::RenderTo(int64_t frame, AudioSink& sink) {
  constexpr size_t kBlock = 1024;
  float block[kBlock * 2];
  for (;;) {
    Ended ended;
    size_t n = 0;
    {
      std::lock_guard lock(mutex_);
      if (frame <= rendered_) return;
      n = static_cast<size_t>(std::min<int64_t>(frame - rendered_, kBlock));
      MixLocked(block, n, ended);
    }
    // The sink has the block before anyone hears of a voice ending in it.
    sink.Write(block, n);
    Notify(ended);
  }
}

int64_t Mixer::RenderedFrames() const {
  std::lock_guard lock(mutex_);
  return rendered_;
}

Mixer::Voice* Mixer::Find(VoiceId id) {
  auto it = voices_.find(id);
  return it == voices_.end() ? nullptr : &it->second;
}

const Mixer::Voice* Mixer::Find(VoiceId id) const {
  auto it = voices_.find(id);
  return it == voices_.end() ? nullptr : &it->second;
}

void Mixer::UpdateGains(Voice& v) {
  const float gain = GainOfVolume(v.volume);
  // Pan takes its hundredths of a decibel off the far side only.
  v.gainLeft = gain * (v.pan > 0 ? GainOfVolume(-v.pan) : 1.0f);
  v.gainRight = gain * (v.pan < 0 ? GainOfVolume(v.pan) : 1.0f);
}

void Mixer::UpdateStep(Voice& v) {
  const uint64_t hz = v.frequency != 0 ? v.frequency : v.buffer->sampleRate;
  v.step = (hz << kMixFracBits) / kRate;
}

void Mixer::Notify(Ended& ended) {
  for (auto& [fn, args] : ended) fn(args.first, args.second);
}

void Mixer::MixLocked(float* stereo, size_t frames, Ended& ended) {
  std::fill(stereo, stereo + 2 * frames, 0.0f);
  for (auto& [id, v] : voices_) {
    if (v.state != VoiceState::kPlaying) continue;
    const MixSource src{v.buffer->samples.data(), v.buffer->channels, v.begin, v.end};
    const uint64_t length = (v.end - v.begin) << kMixFracBits;
    size_t done = 0;
    while (done < frames) {
      const bool another = v.loop || v.passesLeft > 1;
      done += MixVoiceBlock(src, {v.gainLeft, v.gainRight}, v.step, another, &v.pos, stereo + 2 * done,
                            frames - done);
      if (v.pos < (v.end << kMixFracBits)) break;
      if (another) {
        // Carry the fraction into the next pass so repeats stay sample-exact.
        v.pos -= length;
        if (!v.loop) --v.passesLeft;
        continue;
      }
      v.state = VoiceState::kStopped;
      v.pos = v.begin << kMixFracBits;
      if (v.onEnd) ended.push_back({v.onEnd, {id, VoiceEnd::kFinished}});
      break;
    }
  }
  rendered_ += static_cast<int64_t>(frames);
}

}  // namespace kv
