// Standard MIDI files rendered by FluidSynth with a General MIDI SoundFont,
// offline and sample-timed, so a file always renders to the same samples.
#pragma once

#include <filesystem>

#include "media/mixer.h"

namespace kv {

// Debian's General MIDI SoundFont (timgm6mb-soundfont and its alternatives).
inline constexpr const char* kDefaultSoundFont = "/usr/share/sounds/sf2/default-GM.sf2";

struct RenderedMidi {
  SoundBuffer sound;         // the music and the release of its last notes
  uint64_t musicFrames = 0;  // up to the last event: the song's length
};

// Renders the whole file to 44,100 Hz stereo. Throws MciError: kSeqNoMidiPresent
// when the SoundFont cannot be loaded, kInvalidFile for a file FluidSynth refuses.
RenderedMidi RenderMidiFile(const std::filesystem::path& midi, const std::filesystem::path& soundFont);

}  // namespace kv
