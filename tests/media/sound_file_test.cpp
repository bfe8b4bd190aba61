#include "media/sound_file.h"

#include <gtest/gtest.h>

#include "media/capture_sink.h"
#include "tests/media/media_test_util.h"

namespace kv {
namespace {

// Two stereo 16-bit frames at 44,100 Hz, written out by hand.
const std::vector<uint8_t> kWave = {
    'R', 'I', 'F', 'F', 0x2C, 0, 0, 0,  // RIFF size 44: "WAVE" 4 + fmt 8+16 + data 8+8
    'W', 'A', 'V', 'E',                 //
    'f', 'm', 't', ' ', 0x10, 0, 0, 0,  // offset 12: format chunk of 16 bytes
    0x01, 0x00,                         // 20: format tag 1, PCM
    0x02, 0x00,                         // 22: two channels
    0x44, 0xAC, 0x00, 0x00,             // 24: 44100 = 0xAC44
    0x10, 0xB1, 0x02, 0x00,             // 28: bytes a second 176400 = 0x2B110
    0x04, 0x00,                         // 32: block align 2 x 2
    0x10, 0x00,                         // 34: 16 bits
    'd', 'a', 't', 'a', 0x08, 0, 0, 0,  // 36: data chunk of 8 bytes
    0x00, 0x40, 0x00, 0xC0,             // 44: 16384, -16384
    0xFF, 0x7F, 0x00, 0x80,             // 48: 32767, -32768
};

TEST(WaveFileTest, HandWrittenFileDecodes) {
  const WaveLayout w = ParseWaveHeader(kWave);
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.sampleRate, 44100u);
  EXPECT_EQ(w.dataOffset, 44u);
  EXPECT_EQ(w.Frames(), 2u);
  const SoundBuffer b = ReadSoundBytes(kWave);
  EXPECT_EQ(b.channels, 2);
  EXPECT_EQ(b.sampleRate, 44100u);
  EXPECT_EQ(b.samples, (std::vector<float>{0.5f, -0.5f, 32767 / 32768.0f, -1.0f}));
}

// An odd "LIST" chunk (3 bytes and its pad byte) before the format is skipped.
TEST(WaveFileTest, OddChunkWithPadByteIsSkipped) {
  std::vector<uint8_t> b(kWave.begin(), kWave.begin() + 12);
  b.insert(b.end(), {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0});
  b.insert(b.end(), kWave.begin() + 12, kWave.end());
  b[4] = 0x2C + 12;
  EXPECT_EQ(ReadSoundBytes(b).Frames(), 2u);
}

struct BadCase {
  const char* what;
  std::vector<std::pair<size_t, uint8_t>> patches;  // offset, new byte
  size_t keep = SIZE_MAX;                            // bytes kept
  std::vector<uint8_t> append;
};

BadCase Bad(const char* what, std::vector<std::pair<size_t, uint8_t>> patches, size_t keep = SIZE_MAX,
            std::vector<uint8_t> append = {}) {
  return {what, std::move(patches), keep, std::move(append)};
}

class BadWaveTest : public testing::TestWithParam<BadCase> {};

TEST_P(BadWaveTest, IsRefusedNotCrashed) {
  std::vector<uint8_t> b = kWave;
  for (auto [at, v] : GetParam().patches) b[at] = v;
  b.resize(std::min(b.size(), GetParam().keep));
  b.insert(b.end(), GetParam().append.begin(), GetParam().append.end());
  EXPECT_THROW(ReadSoundBytes(b), SoundFileError);
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadWaveTest,
    testing::Values(Bad("RIFF size past the end", {{4, 0x2D}}),
                    Bad("RIFF size near 4 GiB", {{7, 0xFF}}),
                    Bad("format chunk past the end", {{16, 0x30}}),
                    Bad("format chunk too short", {{16, 0x0E}}),
                    Bad("data chunk past the end", {{40, 0x0C}}),
                    Bad("data size near 4 GiB", {{43, 0xFF}}),
                    Bad("block align not channels x bytes", {{32, 3}}),
                    Bad("float format", {{20, 3}}),
                    Bad("three channels", {{22, 3}, {32, 6}}),
                    Bad("24 bits", {{34, 24}, {32, 6}}),
                    Bad("zero sample rate", {{24, 0}, {25, 0}}),
                    Bad("data ends inside a frame", {{40, 7}}),
                    Bad("file cut inside the data", {}, 50),
                    Bad("file cut inside the header", {}, 20),
                    Bad("chunk header cut short", {{4, 0x30}}, SIZE_MAX, {'x', 'y', 'z', 'w'}),
                    Bad("no data chunk", {{4, 0x24}}, 44),
                    Bad("data before format", {{12, 'd'}, {13, 'a'}, {14, 't'}, {15, 'a'}}),
                    Bad("not a sound at all", {{0, 'X'}, {8, 'X'}}),
                    // Big-endian RIFX never reaches libsndfile, whose reader can hang on it
                    // (tests/fuzz/wav/corpus/rifx_hang.wav is such a file).
                    Bad("big-endian RIFX", {{3, 'X'}})),
    [](const auto& info) {
      std::string n = info.param.what;
      for (char& c : n) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return n;
    });

struct SegmentCase {
  uint64_t frames;
  uint32_t rate, startMs, endMs;
  uint64_t begin, end;
  bool ok = true;
};

class SegmentTest : public testing::TestWithParam<SegmentCase> {};

TEST_P(SegmentTest, MillisecondsToFrames) {
  const SegmentCase& c = GetParam();
  SoundBuffer b{1, c.rate, std::vector<float>(c.frames)};
  if (!c.ok) {
    EXPECT_THROW(SegmentFrames(b, c.startMs, c.endMs), SoundFileError);
    return;
  }
  const FrameRange r = SegmentFrames(b, c.startMs, c.endMs);
  EXPECT_EQ(r.begin, c.begin);
  EXPECT_EQ(r.end, c.end);
}

INSTANTIATE_TEST_SUITE_P(Table, SegmentTest,
                         testing::Values(SegmentCase{44100, 44100, 0, 1000, 0, 44100},
                                         SegmentCase{44100, 44100, 10, 20, 441, 882},
                                         SegmentCase{44100, 44100, 999, 1000, 44055, 44100},
                                         SegmentCase{44100, 44100, 500, 500, 22050, 22050},
                                         // 100 frames at 22050 Hz last 4.5 ms: 5 ms reaches the end
                                         SegmentCase{100, 22050, 0, 5, 0, 100},
                                         SegmentCase{100, 22050, 1, 3, 22, 66},
                                         SegmentCase{100, 22050, 0, 6, 0, 0, false},
                                         SegmentCase{44100, 44100, 0, 1001, 0, 0, false},
                                         SegmentCase{44100, 44100, 20, 10, 0, 0, false}));

// The frames between the offsets, and only those, reach the capture.
TEST(SoundFileTest, SegmentCapturesExactlyItsFrames) {
  test::ScratchDir dir;
  std::vector<int16_t> ramp;
  for (int i = 0; i < 44100; ++i) ramp.push_back(static_cast<int16_t>(i % 30000 + 1));
  test::WriteFile(dir / "ramp.wav", test::MakeWav(1, 44100, 16, test::Pcm16(ramp)));
  auto sound = std::make_shared<SoundBuffer>(ReadSoundFile(dir / "ramp.wav"));
  const FrameRange r = SegmentFrames(*sound, 10, 20);
  Mixer mixer;
  const VoiceId v = mixer.CreateVoice(sound, r.begin, r.end);
  mixer.Play(v, 1, false);
  {
    WavCaptureSink sink(dir / "out.wav");
    mixer.RenderTo(1000, sink);
  }
  const auto got = test::ReadPcm16(dir / "out.wav");
  ASSERT_EQ(got.samples.size(), 2000u);
  for (size_t f = 0; f < 1000; ++f) {
    const int16_t want = f < 441 ? static_cast<int16_t>(441 + f + 1) : 0;
    ASSERT_EQ(got.samples[2 * f], want) << f;
    ASSERT_EQ(got.samples[2 * f + 1], want) << f;
  }
}

// Our WAVE reader against libsndfile's on the same files.
TEST(SoundFileTest, WaveDecodingMatchesLibsndfile) {
  test::ScratchDir dir;
  for (auto [channels, bits] : {std::pair{1, 8}, {2, 8}, {1, 16}, {2, 16}}) {
    std::vector<uint8_t> data(6000);
    uint32_t seed = 99;
    for (uint8_t& b : data) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    const auto path = dir / "x.wav";
    test::WriteFile(path, test::MakeWav(channels, 22050, bits, data));
    const SoundBuffer ours = ReadSoundFile(path);
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> theirs(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, theirs.data(), info.frames);
    sf_close(f);
    EXPECT_EQ(ours.channels, info.channels);
    EXPECT_EQ(ours.sampleRate, static_cast<uint32_t>(info.samplerate));
    EXPECT_EQ(ours.samples, theirs) << channels << " channels, " << bits << " bits";
  }
}

TEST(SoundFileTest, OtherFormatsThroughLibsndfile) {
  test::ScratchDir dir;
  std::vector<int16_t> s;
  for (int i = 0; i < 4410; ++i) s.push_back(static_cast<int16_t>((i * 37) % 20000 - 10000));
  test::WriteFile(dir / "a.wav", test::MakeWav(1, 44100, 16, test::Pcm16(s)));
  for (const char* ext : {"flac", "aiff"}) {
    const auto out = dir / (std::string("a.") + ext);
    ASSERT_EQ(std::system(("sox -q " + (dir / "a.wav").string() + " " + out.string()).c_str()), 0);
    const SoundBuffer b = ReadSoundFile(out);
    ASSERT_EQ(b.Frames(), 4410u) << ext;
    for (size_t i = 0; i < s.size(); ++i) ASSERT_EQ(SampleToPcm16(b.samples[i]), s[i]) << ext << " " << i;
  }
  EXPECT_THROW(ReadSoundFile(dir / "missing.wav"), SoundFileError);
}

// The capture file's header, byte for byte: 44 bytes for 3 frames (12 data bytes).
TEST(CaptureSinkTest, HeaderBytes) {
  const std::vector<uint8_t> want = {
      'R', 'I', 'F', 'F', 48, 0, 0, 0,           // 36 + 12
      'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',    //
      16, 0, 0, 0, 1, 0, 2, 0,                   // 16-byte format, PCM, stereo
      0x44, 0xAC, 0, 0, 0x10, 0xB1, 0x02, 0,     // 44100; 176400 bytes a second
      4, 0, 16, 0,                               // block align 4, 16 bits
      'd', 'a', 't', 'a', 12, 0, 0, 0};
  EXPECT_EQ(WavHeader16Stereo(44100, 12), want);
}

}  // namespace
}  // namespace kv
