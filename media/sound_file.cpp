#include "media/sound_file.h"

#include <sndfile.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace kv {

namespace {

// Decoded sound is held in memory; a bound keeps a hostile header from
// claiming more than any sound a project plays (about 3 hours of stereo).
constexpr uint64_t kMaxSamples = uint64_t{1} << 30;

struct MemoryFile {
  std::span<const uint8_t> bytes;
  sf_count_t pos = 0;
};

sf_count_t VLength(void* user) { return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->bytes.size()); }
sf_count_t VSeek(sf_count_t offset, int whence, void* user) {
  auto* f = static_cast<MemoryFile*>(user);
  const auto size = static_cast<sf_count_t>(f->bytes.size());
  sf_count_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? size : 0;
  if (offset < -base || offset > size - base) return -1;
  f->pos = base + offset;
  return f->pos;
}
sf_count_t VRead(void* ptr, sf_count_t count, void* user) {
  auto* f = static_cast<MemoryFile*>(user);
  const auto size = static_cast<sf_count_t>(f->bytes.size());
  const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - f->pos));
  if (n > 0) std::memcpy(ptr, f->bytes.data() + f->pos, static_cast<size_t>(n));
  f->pos += n;
  return n;
}
sf_count_t VWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t VTell(void* user) { return static_cast<MemoryFile*>(user)->pos; }

bool StartsWith(std::span<const uint8_t> b, size_t at, const char* tag) {
  const size_t n = std::strlen(tag);
  return b.size() >= at + n && std::memcmp(b.data() + at, tag, n) == 0;
}

// libsndfile's readers of rarer containers hang on some hostile headers
// (a big-endian "RIFX" one loops for ever in the open), so only AIFF, FLAC
// and Ogg, known by their signatures, are handed to it.
bool IsOtherKnownFormat(std::span<const uint8_t> b) {
  return (StartsWith(b, 0, "FORM") && (StartsWith(b, 8, "AIFF") || StartsWith(b, 8, "AIFC"))) ||
         StartsWith(b, 0, "fLaC") || StartsWith(b, 0, "OggS");
}

struct SndCloser {
  void operator()(SNDFILE* f) const { sf_close(f); }
};

}  // namespace

SoundBuffer ReadSoundBytes(std::span<const uint8_t> bytes) {
  if (LooksLikeWave(bytes)) {
    // Checked WAVE is plain PCM: decoded here, since libsndfile also parses
    // chunks past the RIFF's end and hangs on some hostile ones.
    const WaveLayout w = ParseWaveHeader(bytes);
    return SoundBufferFromPcm({w.channels, w.sampleRate, w.bitsPerSample},
                              bytes.subspan(static_cast<size_t>(w.dataOffset), static_cast<size_t>(w.dataBytes)));
  }
  if (!IsOtherKnownFormat(bytes)) throw SoundFileError("not a WAVE, AIFF, FLAC or Ogg sound file");

  SF_VIRTUAL_IO io{VLength, VSeek, VRead, VWrite, VTell};
  MemoryFile mem{bytes, 0};
  SF_INFO info{};
  std::unique_ptr<SNDFILE, SndCloser> file(sf_open_virtual(&io, SFM_READ, &info, &mem));
  if (!file) throw SoundFileError(std::string("unreadable sound file: ") + sf_strerror(nullptr));
  if (info.channels != 1 && info.channels != 2) {
    throw SoundFileError(std::to_string(info.channels) + " channels cannot be played");
  }
  if (info.samplerate <= 0) throw SoundFileError("sound file without a sample rate");

  SoundBuffer out;
  out.channels = info.channels;
  out.sampleRate = static_cast<uint32_t>(info.samplerate);
  // Read in blocks rather than trusting the header's frame count for the allocation.
  constexpr sf_count_t kBlock = 16384;
  for (;;) {
    const size_t at = out.samples.size();
    if (at >= kMaxSamples) throw SoundFileError("sound file too long");
    out.samples.resize(at + static_cast<size_t>(kBlock * info.channels));
    const sf_count_t got = sf_readf_float(file.get(), out.samples.data() + at, kBlock);
    out.samples.resize(at + static_cast<size_t>(std::max<sf_count_t>(got, 0) * info.channels));
    if (got < kBlock) break;
  }
  if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
    throw SoundFileError(std::string("sound file decoding failed: ") + sf_strerror(file.get()));
  }
  return out;
}

SoundBuffer ReadSoundFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SoundFileError("cannot open sound file " + path.string());
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw SoundFileError("cannot read sound file " + path.string());
  return ReadSoundBytes(bytes);
}

std::optional<SoundFileInfo> ReadSoundInfo(const std::filesystem::path& path) {
  SF_INFO info{};
  std::unique_ptr<SNDFILE, SndCloser> file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file || info.samplerate <= 0 || info.frames < 0) return std::nullopt;
  return SoundFileInfo{static_cast<uint64_t>(info.frames), static_cast<uint32_t>(info.samplerate), info.channels};
}

FrameRange SegmentFrames(const SoundBuffer& sound, uint32_t startMs, uint32_t endMs) {
  const uint64_t frames = sound.Frames();
  const uint64_t rate = sound.sampleRate;
  const uint64_t lengthMsCeil = rate ? (frames * 1000 + rate - 1) / rate : 0;
  if (endMs < startMs) throw SoundFileError("segment ends before it starts");
  if (endMs > lengthMsCeil) throw SoundFileError("segment ends past the end of the sound");
  FrameRange r{uint64_t{startMs} * rate / 1000, std::min(frames, uint64_t{endMs} * rate / 1000)};
  if (r.begin >= frames && endMs > startMs) throw SoundFileError("segment starts past the end of the sound");
  return r;
}

}  // namespace kv
