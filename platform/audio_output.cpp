#include "platform/audio_output.h"

#include <SDL.h>

#include <mutex>
#include <stdexcept>

#ifdef KV_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

namespace kv {

namespace {

#ifdef KV_HAVE_ALSA
// ALSA prints every failed probe of its configuration on standard error;
// SDL's own error says what matters, and the caller reports it once.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

void SilenceBackendMessages() {
#ifdef KV_HAVE_ALSA
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(&QuietAlsa); });
#endif
}

}  // namespace

SdlAudioOutput::SdlAudioOutput(AudioSource& source, uint32_t rate, uint16_t blockFrames) : source_(source) {
  SilenceBackendMessages();
  // Audio only: the player's windows are Qt's.
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    throw std::runtime_error(std::string("audio output unavailable: ") + SDL_GetError());
  }
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(rate);
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = blockFrames;
  want.callback = &SdlAudioOutput::Callback;
  want.userdata = this;
  SDL_AudioSpec have{};
  // No allowed changes: SDL converts to whatever the hardware takes.
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (device_ == 0) {
    std::string reason = SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    throw std::runtime_error("audio output unavailable: " + reason);
  }
  rate_ = rate;
  blockFrames_ = have.samples;
}

SdlAudioOutput::~SdlAudioOutput() {
  SDL_CloseAudioDevice(device_);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void SdlAudioOutput::Start() { SDL_PauseAudioDevice(device_, 0); }
void SdlAudioOutput::Stop() { SDL_PauseAudioDevice(device_, 1); }

void SdlAudioOutput::Callback(void* self, uint8_t* stream, int len) {
  auto* out = static_cast<SdlAudioOutput*>(self);
  out->source_.Pull(reinterpret_cast<float*>(stream), static_cast<size_t>(len) / (2 * sizeof(float)));
}

}  // namespace kv
