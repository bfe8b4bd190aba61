#include "media/wave_file.h"

#include <cstring>
#include <string>

#include "platform/byte_reader.h"

namespace kv {

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatExtensible = 0xFFFE;
constexpr uint32_t kMaxSampleRate = 384000;

uint32_t U32(std::span<const uint8_t> b, uint64_t at) { return LoadLe32(&b[at]); }
uint16_t U16(std::span<const uint8_t> b, uint64_t at) { return LoadLe16(&b[at]); }
bool Tag(std::span<const uint8_t> b, uint64_t at, const char* tag) { return std::memcmp(&b[at], tag, 4) == 0; }

[[noreturn]] void Fail(const std::string& why) { throw SoundFileError("bad WAVE file: " + why); }

void ReadFormat(std::span<const uint8_t> b, uint64_t at, uint32_t size, WaveLayout& w) {
  if (size < 16) Fail("format chunk too short");
  uint16_t tag = U16(b, at);
  if (tag == kFormatExtensible) {
    // The sub-format GUID starts with the plain format tag.
    if (size < 40) Fail("extensible format chunk too short");
    tag = U16(b, at + 24);
  }
  if (tag != kFormatPcm) Fail("format " + std::to_string(tag) + " is not PCM");
  w.channels = U16(b, at + 2);
  w.sampleRate = U32(b, at + 4);
  w.blockAlign = U16(b, at + 12);
  w.bitsPerSample = U16(b, at + 14);
  if (w.channels != 1 && w.channels != 2) Fail(std::to_string(w.channels) + " channels");
  if (w.bitsPerSample != 8 && w.bitsPerSample != 16) Fail(std::to_string(w.bitsPerSample) + " bits a sample");
  if (w.sampleRate == 0 || w.sampleRate > kMaxSampleRate) Fail("sample rate " + std::to_string(w.sampleRate));
  if (w.blockAlign != w.channels * w.bitsPerSample / 8) Fail("block alignment " + std::to_string(w.blockAlign));
}

}  // namespace

bool LooksLikeWave(std::span<const uint8_t> b) { return b.size() >= 12 && Tag(b, 0, "RIFF") && Tag(b, 8, "WAVE"); }

WaveLayout ParseWaveHeader(std::span<const uint8_t> b) {
  if (!LooksLikeWave(b)) Fail("no RIFF/WAVE signature");
  const uint64_t end = uint64_t{U32(b, 4)} + 8;
  if (end > b.size()) Fail("RIFF size past the end of the file");
  WaveLayout w;
  bool haveFormat = false, haveData = false;
  uint64_t at = 12;
  while (at < end) {
    if (end - at < 8) Fail("chunk header cut short");
    const uint64_t size = U32(b, at + 4);
    const uint64_t body = at + 8;
    if (size > end - body) Fail("chunk past the end of the file");
    if (Tag(b, at, "fmt ")) {
      if (haveFormat) Fail("second format chunk");
      ReadFormat(b, body, static_cast<uint32_t>(size), w);
      haveFormat = true;
    } else if (Tag(b, at, "data") && !haveData) {
      if (!haveFormat) Fail("data before the format chunk");
      if (size % w.blockAlign != 0) Fail("data ends inside a frame");
      w.dataOffset = body;
      w.dataBytes = size;
      haveData = true;
    }
    // Odd-sized chunks carry a pad byte; a last chunk may lack it.
    at = body + size + (size & 1);
  }
  if (!haveFormat) Fail("no format chunk");
  if (!haveData) Fail("no data chunk");
  return w;
}

}  // namespace kv
