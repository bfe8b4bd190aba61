// Helpers of the mixer and MCI tests: scratch folders, WAV bytes built from
// the format rules, and captured WAVs read back through libsndfile.
#pragma once

#include <sndfile.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "media/capture_sink.h"

namespace kv::test {

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kvmix-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Keeps every rendered frame as the 16-bit values a capture file holds.
class MemorySink : public AudioSink {
 public:
  void Write(const float* stereo, size_t frames) override {
    for (size_t i = 0; i < 2 * frames; ++i) samples.push_back(SampleToPcm16(stereo[i]));
  }
  size_t Frames() const { return samples.size() / 2; }
  int16_t L(size_t f) const { return samples[2 * f]; }
  int16_t R(size_t f) const { return samples[2 * f + 1]; }
  std::vector<int16_t> samples;
};

inline void PutLe(std::vector<uint8_t>& b, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A canonical PCM WAV: "RIFF" size "WAVE", a 16-byte "fmt " chunk, then "data".
inline std::vector<uint8_t> MakeWav(int channels, uint32_t rate, int bits, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b{'R', 'I', 'F', 'F'};
  PutLe(b, 36 + data.size(), 4);
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutLe(b, 16, 4);
  PutLe(b, 1, 2);
  PutLe(b, static_cast<uint64_t>(channels), 2);
  PutLe(b, rate, 4);
  PutLe(b, rate * static_cast<uint32_t>(channels * bits / 8), 4);
  PutLe(b, static_cast<uint64_t>(channels * bits / 8), 2);
  PutLe(b, static_cast<uint64_t>(bits), 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  PutLe(b, data.size(), 4);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

inline std::vector<uint8_t> Pcm16(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> b;
  for (int16_t s : samples) PutLe(b, static_cast<uint16_t>(s), 2);
  return b;
}

inline void WriteFile(const std::filesystem::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct Pcm16File {
  int channels = 0;
  int rate = 0;
  std::vector<int16_t> samples;
};

// Reads a file through libsndfile, independently of the player's own code.
inline Pcm16File ReadPcm16(const std::filesystem::path& p) {
  SF_INFO info{};
  SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
  if (!f) throw std::runtime_error("libsndfile cannot read " + p.string());
  Pcm16File out{info.channels, info.samplerate, {}};
  out.samples.resize(static_cast<size_t>(info.frames * info.channels));
  sf_readf_short(f, out.samples.data(), info.frames);
  sf_close(f);
  return out;
}

}  // namespace kv::test
