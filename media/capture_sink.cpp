#include "media/capture_sink.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kv {

namespace {
// Little-endian fields written in place: the header has a fixed size.
struct HeaderWriter {
  std::vector<uint8_t>& out;
  size_t at = 0;
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at++] = static_cast<uint8_t>(v >> (8 * i));
  }
  void U16(uint16_t v) {
    out[at++] = static_cast<uint8_t>(v);
    out[at++] = static_cast<uint8_t>(v >> 8);
  }
  void Tag(const char* tag) {
    for (int i = 0; i < 4; ++i) out[at++] = static_cast<uint8_t>(tag[i]);
  }
};
// RIFF sizes are 32-bit: a capture stops growing its data chunk before it overflows.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36 - 3;
}  // namespace

int16_t SampleToPcm16(float x) {
  const float scaled = std::nearbyint(x * 32768.0f);
  return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

std::vector<uint8_t> WavHeader16Stereo(uint32_t rate, uint32_t dataBytes) {
  std::vector<uint8_t> h(44);
  HeaderWriter w{h};
  w.Tag("RIFF");
  w.U32(36 + dataBytes);
  w.Tag("WAVE");
  w.Tag("fmt ");
  w.U32(16);
  w.U16(1);  // PCM
  w.U16(2);
  w.U32(rate);
  w.U32(rate * 4);
  w.U16(4);
  w.U16(16);
  w.Tag("data");
  w.U32(dataBytes);
  return h;
}

WavCaptureSink::WavCaptureSink(const std::filesystem::path& path) {
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) throw std::runtime_error("cannot create audio capture " + path.string());
  const auto header = WavHeader16Stereo(Mixer::kRate, 0);
  failed_ = std::fwrite(header.data(), 1, header.size(), file_) != header.size();
}

WavCaptureSink::~WavCaptureSink() {
  if (!file_) return;
  try {
    Close();
  } catch (const std::exception&) {
    // A destructor cannot report; callers that care call Close themselves.
  }
}

void WavCaptureSink::Write(const float* stereo, size_t frames) {
  if (!file_ || failed_) return;
  frames = static_cast<size_t>(std::min<uint64_t>(frames, kMaxDataBytes / 4 - frames_));
  scratch_.resize(frames * 4);
  for (size_t i = 0; i < frames * 2; ++i) {
    const auto s = static_cast<uint16_t>(SampleToPcm16(stereo[i]));
    scratch_[2 * i] = static_cast<uint8_t>(s);
    scratch_[2 * i + 1] = static_cast<uint8_t>(s >> 8);
  }
  failed_ = std::fwrite(scratch_.data(), 1, scratch_.size(), file_) != scratch_.size();
  frames_ += frames;
}

void WavCaptureSink::Close() {
  if (!file_) return;
  const auto header = WavHeader16Stereo(Mixer::kRate, static_cast<uint32_t>(frames_ * 4));
  bool ok = !failed_ && std::fseek(file_, 0, SEEK_SET) == 0 &&
            std::fwrite(header.data(), 1, header.size(), file_) == header.size();
  ok = std::fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (!ok) throw std::runtime_error("audio capture could not be written");
}

}  // namespace kv
