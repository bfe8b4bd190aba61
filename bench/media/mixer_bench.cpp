// Mixer speed and latency beside SDL's own SDL_MixAudioFormat: 32 voices of
// 44.1 kHz stereo for 10 s of audio (as a fraction of real time), and the
// time from a play command to its first sample handed to SDL.
#include <SDL.h>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "media/mixer.h"
#include "platform/audio_output.h"

namespace kv {
namespace {

constexpr int kVoices = 32;
constexpr size_t kBlock = 512;
constexpr size_t kSeconds = 10;
constexpr size_t kTotalFrames = Mixer::kRate * kSeconds;

std::shared_ptr<SoundBuffer> Noise(uint32_t seed) {
  auto b = std::make_shared<SoundBuffer>();
  b->channels = 2;
  b->sampleRate = Mixer::kRate;
  b->samples.resize(Mixer::kRate * 2);
  for (float& s : b->samples) {
    seed = seed * 1664525u + 1013904223u;
    s = static_cast<float>(static_cast<int32_t>(seed)) / 2147483648.0f * 0.05f;
  }
  return b;
}

// Counter reading seconds of work per second of audio.
void ReportRealTimeFraction(benchmark::State& state) {
  state.counters["realtime_fraction"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kSeconds), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void MixVoices(benchmark::State& state, bool changeFrequency) {
  Mixer mixer;
  for (int i = 0; i < kVoices; ++i) {
    const VoiceId v = mixer.CreateVoice(Noise(static_cast<uint32_t>(i + 1)));
    mixer.SetVolume(v, -100 * i);
    mixer.SetPan(v, (i % 2 ? 1 : -1) * 300 * i);
    if (changeFrequency) mixer.SetFrequency(v, 40000 + 250 * static_cast<uint32_t>(i));
    mixer.Play(v, 1, true);
  }
  std::vector<float> out(kBlock * 2);
  for (auto _ : state) {
    for (size_t done = 0; done < kTotalFrames; done += kBlock) mixer.Pull(out.data(), kBlock);
    benchmark::DoNotOptimize(out.data());
  }
  ReportRealTimeFraction(state);
}

void BM_Mixer32Voices(benchmark::State& state) { MixVoices(state, true); }
void BM_Mixer32VoicesSameRate(benchmark::State& state) { MixVoices(state, false); }

// The baseline: the same 32 stereo float voices through SDL_MixAudioFormat
// with its 0..128 volume, no pan and no frequency change.
void BM_SdlMix32Voices(benchmark::State& state) {
  std::vector<std::shared_ptr<SoundBuffer>> voices;
  for (int i = 0; i < kVoices; ++i) voices.push_back(Noise(static_cast<uint32_t>(i + 1)));
  std::vector<float> out(kBlock * 2);
  const size_t voiceFrames = voices[0]->Frames();
  for (auto _ : state) {
    size_t pos = 0;
    for (size_t done = 0; done < kTotalFrames; done += kBlock) {
      std::fill(out.begin(), out.end(), 0.0f);
      for (int i = 0; i < kVoices; ++i) {
        SDL_MixAudioFormat(reinterpret_cast<Uint8*>(out.data()),
                           reinterpret_cast<const Uint8*>(voices[i]->samples.data() + 2 * pos), AUDIO_F32SYS,
                           static_cast<Uint32>(kBlock * 2 * sizeof(float)), 128 - i);
      }
      pos = (pos + kBlock) % (voiceFrames - kBlock);
    }
    benchmark::DoNotOptimize(out.data());
  }
  ReportRealTimeFraction(state);
}

// Timestamps the first non-silent block that reaches SDL.
class FirstSoundProbe : public AudioSource {
 public:
  explicit FirstSoundProbe(std::function<void(float*, size_t)> fill) : fill_(std::move(fill)) {}
  void Pull(float* stereo, size_t frames) override {
    fill_(stereo, frames);
    bool loud = false;
    for (size_t i = 0; i < 2 * frames && !loud; ++i) loud = stereo[i] != 0.0f;
    if (loud && armed_.exchange(false)) {
      std::lock_guard lock(mutex_);
      heard_ = std::chrono::steady_clock::now();
      done_ = true;
      cv_.notify_all();
    }
  }
  void Arm() {
    std::lock_guard lock(mutex_);
    done_ = false;
    armed_ = true;
  }
  std::chrono::steady_clock::time_point Wait() {
    std::unique_lock lock(mutex_);
    cv_.wait(lock, [&] { return done_; });
    return heard_;
  }

 private:
  std::function<void(float*, size_t)> fill_;
  std::atomic<bool> armed_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::chrono::steady_clock::time_point heard_;
};

void MeasureLatency(benchmark::State& state, FirstSoundProbe& probe, const std::function<void()>& play,
                    const std::function<void()>& stop) {
  std::unique_ptr<SdlAudioOutput> output;
  try {
    output = std::make_unique<SdlAudioOutput>(probe, Mixer::kRate, kBlock);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  output->Start();
  for (auto _ : state) {
    probe.Arm();
    const auto start = std::chrono::steady_clock::now();
    play();
    const auto heard = probe.Wait();
    state.SetIterationTime(std::chrono::duration<double>(heard - start).count());
    stop();
  }
  output->Stop();
}

void BM_MixerPlayLatency(benchmark::State& state) {
  Mixer mixer;
  const VoiceId v = mixer.CreateVoice(Noise(7));
  FirstSoundProbe probe([&](float* out, size_t frames) { mixer.Pull(out, frames); });
  MeasureLatency(state, probe, [&] { mixer.Play(v, 1, true, 0); }, [&] { mixer.Stop(v); });
}

void BM_SdlMixPlayLatency(benchmark::State& state) {
  auto voice = Noise(7);
  std::atomic<bool> playing{false};
  FirstSoundProbe probe([&](float* out, size_t frames) {
    std::fill(out, out + 2 * frames, 0.0f);
    if (playing) {
      SDL_MixAudioFormat(reinterpret_cast<Uint8*>(out), reinterpret_cast<const Uint8*>(voice->samples.data()),
                         AUDIO_F32SYS, static_cast<Uint32>(frames * 2 * sizeof(float)), SDL_MIX_MAXVOLUME);
    }
  });
  MeasureLatency(state, probe, [&] { playing = true; }, [&] { playing = false; });
}

BENCHMARK(BM_Mixer32Voices)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mixer32VoicesSameRate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SdlMix32Voices)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MixerPlayLatency)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SdlMixPlayLatency)->UseManualTime()->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
