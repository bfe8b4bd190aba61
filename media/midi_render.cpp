#include "media/midi_render.h"

#include <fluidsynth.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <vector>

#include "media/mci_errors.h"

namespace kv {

namespace {

// An hour of music at most: a hostile file cannot make the render run away.
constexpr uint64_t kMaxFrames = uint64_t{Mixer::kRate} * 3600;
// FluidSynth's own block: the song's end is found to the block.
constexpr int kBlock = 64;
// Notes still sounding at the end ring out this long at most.
constexpr uint64_t kMaxTailFrames = Mixer::kRate * 2;
// FluidSynth's default gain of 0.2 leaves General MIDI music far below the
// level of the project's sampled sounds.
constexpr double kSynthGain = 0.5;

struct SettingsDeleter {
  void operator()(fluid_settings_t* s) const { delete_fluid_settings(s); }
};
struct SynthDeleter {
  void operator()(fluid_synth_t* s) const { delete_fluid_synth(s); }
};
struct PlayerDeleter {
  void operator()(fluid_player_t* p) const { delete_fluid_player(p); }
};

void QuietFluidLogs() {
  static std::once_flag once;
  std::call_once(once, [] {
    // FluidSynth prints to stderr by default; failures reach the caller as MCI errors.
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG}) {
      fluid_set_log_function(level, nullptr, nullptr);
    }
  });
}

}  // namespace

RenderedMidi RenderMidiFile(const std::filesystem::path& midi, const std::filesystem::path& soundFont) {
  QuietFluidLogs();
  std::ifstream in(midi, std::ios::binary);
  if (!in) throw MciError{mci_err::kFileNotFound};
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() < 14 || std::string(bytes.data(), 4) != "MThd") throw MciError{mci_err::kInvalidFile};

  std::unique_ptr<fluid_settings_t, SettingsDeleter> settings(new_fluid_settings());
  fluid_settings_setnum(settings.get(), "synth.sample-rate", Mixer::kRate);
  // The player's clock is the rendered samples, not the wall clock.
  fluid_settings_setstr(settings.get(), "player.timing-source", "sample");
  fluid_settings_setint(settings.get(), "synth.cpu-cores", 1);
  fluid_settings_setnum(settings.get(), "synth.gain", kSynthGain);
  std::unique_ptr<fluid_synth_t, SynthDeleter> synth(new_fluid_synth(settings.get()));
  if (!synth || fluid_synth_sfload(synth.get(), soundFont.c_str(), 1) == FLUID_FAILED) {
    throw MciError{mci_err::kSeqNoMidiPresent};
  }
  std::unique_ptr<fluid_player_t, PlayerDeleter> player(new_fluid_player(synth.get()));
  if (!player || fluid_player_add_mem(player.get(), bytes.data(), bytes.size()) != FLUID_OK ||
      fluid_player_play(player.get()) != FLUID_OK) {
    throw MciError{mci_err::kInvalidFile};
  }

  RenderedMidi out;
  SoundBuffer& sound = out.sound;
  sound.channels = 2;
  sound.sampleRate = Mixer::kRate;
  bool ended = false;
  float left[kBlock], right[kBlock];
  // The player idles on after the last event; the render stops once the notes have rung out.
  while (fluid_player_get_status(player.get()) == FLUID_PLAYER_PLAYING) {
    if (sound.Frames() >= kMaxFrames) throw MciError{mci_err::kInvalidFile};
    if (fluid_synth_write_float(synth.get(), kBlock, left, 0, 1, right, 0, 1) != FLUID_OK) {
      throw MciError{mci_err::kInternal};
    }
    for (int i = 0; i < kBlock; ++i) {
      sound.samples.push_back(left[i]);
      sound.samples.push_back(right[i]);
    }
    // The total is known once the player has loaded the file, in the first block.
    const int totalTicks = fluid_player_get_total_ticks(player.get());
    if (!ended && totalTicks > 0 && fluid_player_get_current_tick(player.get()) >= totalTicks) {
      ended = true;
      out.musicFrames = sound.Frames();
    }
    if (ended && (fluid_synth_get_active_voice_count(synth.get()) == 0 ||
                  sound.Frames() - out.musicFrames >= kMaxTailFrames)) {
      break;
    }
  }
  if (!ended) out.musicFrames = sound.Frames();
  if (out.musicFrames == 0) throw MciError{mci_err::kInvalidFile};
  return out;
}

}  // namespace kv
