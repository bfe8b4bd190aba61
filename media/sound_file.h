// Sound files decoded to a SoundBuffer for the mixer: WAVE by our own checked
// reader, AIFF, FLAC and Ogg through libsndfile.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>

#include "media/mixer.h"
#include "media/wave_file.h"

namespace kv {

// Decodes untrusted bytes; throws SoundFileError on anything unplayable.
SoundBuffer ReadSoundBytes(std::span<const uint8_t> bytes);
SoundBuffer ReadSoundFile(const std::filesystem::path& path);

struct SoundFileInfo {
  uint64_t frames = 0;
  uint32_t sampleRate = 0;
  int channels = 0;
};

// A file's format from its header, without decoding; nullopt when libsndfile
// cannot read it.
std::optional<SoundFileInfo> ReadSoundInfo(const std::filesystem::path& path);

struct FrameRange {
  uint64_t begin = 0;
  uint64_t end = 0;
};

// Maps a segment in milliseconds to frames (ms x rate / 1000, rounded down).
// An end up to the file's length rounded up to a whole millisecond is taken
// as the end of the file; anything beyond, or a start at or past the end,
// throws SoundFileError.
FrameRange SegmentFrames(const SoundBuffer& sound, uint32_t startMs, uint32_t endMs);

// Milliseconds of `frames` at `rate`, rounded down.
inline uint64_t FramesToMs(uint64_t frames, uint32_t rate) { return rate ? frames * 1000 / rate : 0; }

}  // namespace kv
