#include "media/mixer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "media/capture_sink.h"
#include "media/sound_file.h"
#include "tests/media/media_test_util.h"

namespace kv {
namespace {

using test::MemorySink;
using test::Pcm16;
using test::ReadPcm16;
using test::ScratchDir;

std::shared_ptr<SoundBuffer> Stereo16(const std::vector<int16_t>& interleaved, uint32_t rate = Mixer::kRate) {
  return std::make_shared<SoundBuffer>(SoundBufferFromPcm({2, rate, 16}, Pcm16(interleaved)));
}

std::shared_ptr<SoundBuffer> MonoRamp(int frames, uint32_t rate = Mixer::kRate) {
  std::vector<int16_t> s;
  for (int i = 0; i < frames; ++i) s.push_back(static_cast<int16_t>(100 * (i + 1)));
  return std::make_shared<SoundBuffer>(SoundBufferFromPcm({1, rate, 16}, Pcm16(s)));
}

struct GainCase {
  int32_t volume, pan;
  int16_t left, right;
};

class MixerGainTest : public testing::TestWithParam<GainCase> {};

// A constant 16000 under volume and pan, through the capture file and read
// back by libsndfile. Expected values: 16000 x 10^(dB/20) by hand, rounded.
TEST_P(MixerGainTest, ConstantSoundCapturesKnownValues) {
  const GainCase& c = GetParam();
  ScratchDir dir;
  Mixer mixer;
  const VoiceId v = mixer.CreateVoice(Stereo16(std::vector<int16_t>(2 * 100, 16000)));
  mixer.SetVolume(v, c.volume);
  mixer.SetPan(v, c.pan);
  mixer.Play(v, 1, false);
  {
    WavCaptureSink sink(dir / "out.wav");
    mixer.RenderTo(120, sink);
    sink.Close();
  }
  const auto got = ReadPcm16(dir / "out.wav");
  ASSERT_EQ(got.channels, 2);
  ASSERT_EQ(got.rate, 44100);
  ASSERT_EQ(got.samples.size(), 240u);
  for (size_t f = 0; f < 100; ++f) {
    ASSERT_NEAR(got.samples[2 * f], c.left, 1) << "frame " << f;
    ASSERT_NEAR(got.samples[2 * f + 1], c.right, 1) << "frame " << f;
  }
  EXPECT_EQ(got.samples[200], 0);  // silence after the end
}

INSTANTIATE_TEST_SUITE_P(
    Table, MixerGainTest,
    testing::Values(GainCase{0, 0, 16000, 16000},        // full
                    GainCase{-2000, 0, 1600, 1600},      // -20 dB = x0.1
                    GainCase{-600, 0, 8019, 8019},       // -6 dB = x0.501187
                    GainCase{-10000, 0, 0, 0},           // exactly silent
                    GainCase{-12000, 0, 0, 0},           // below the range: silent
                    GainCase{500, 0, 16000, 16000},      // above 0 is clamped to full
                    GainCase{0, -2000, 16000, 1600},     // left pan takes 20 dB off the right
                    GainCase{0, 10000, 0, 16000},        // hard right: left silent
                    GainCase{-2000, 600, 802, 1600},     // both: 1600 x 0.501187 on the left
                    GainCase{0, -15000, 16000, 0}));     // pan clamped to hard left

TEST(MixerTest, SoundStartedAtTimeTBeginsAtRoundedSample) {
  // round(t x 44.1): 3 ms -> 132.3 -> 132, 5 ms -> 220.5 -> 221, 10 ms -> 441.
  for (auto [ms, frame] : {std::pair{0, 0}, {3, 132}, {5, 221}, {10, 441}}) {
    Mixer mixer;
    MemorySink sink;
    const VoiceId v = mixer.CreateVoice(MonoRamp(4));
    mixer.RenderTo(Mixer::FrameAtMs(ms), sink);
    mixer.Play(v, 1, false);
    mixer.RenderTo(1000, sink);
    size_t first = 0;
    while (first < sink.Frames() && sink.L(first) == 0) ++first;
    EXPECT_EQ(first, static_cast<size_t>(frame)) << ms << " ms";
    EXPECT_EQ(sink.L(first), 100);
  }
}

struct RepeatCase {
  uint32_t count;
  bool loop;
  size_t soundedFrames;  // frames of sound within the first 40 rendered
};

class MixerRepeatTest : public testing::TestWithParam<RepeatCase> {};

TEST_P(MixerRepeatTest, PassesFollowSampleExact) {
  const RepeatCase& c = GetParam();
  Mixer mixer;
  MemorySink sink;
  const VoiceId v = mixer.CreateVoice(MonoRamp(5));
  mixer.Play(v, c.count, c.loop);
  mixer.RenderTo(40, sink);
  for (size_t f = 0; f < 40; ++f) {
    const int16_t want = f < c.soundedFrames ? static_cast<int16_t>(100 * (f % 5 + 1)) : 0;
    ASSERT_EQ(sink.L(f), want) << "frame " << f;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, MixerRepeatTest,
                         testing::Values(RepeatCase{0, false, 5},    // a count of 0 plays once
                                         RepeatCase{1, false, 5}, RepeatCase{3, false, 15},
                                         RepeatCase{1, true, 40},    // loops until stopped
                                         RepeatCase{3, true, 40}));  // loop wins over the count

TEST(MixerTest, PlayingFromTheEndOrAfterItsLastPassStartsAtTheBeginning) {
  // A start position at the sound's end, or past it, plays it from its first
  // frame, as does playing it again once it has ended: sample for sample.
  for (uint64_t from : {uint64_t(5), uint64_t(9)}) {
    Mixer mixer;
    MemorySink sink;
    const VoiceId v = mixer.CreateVoice(MonoRamp(5));
    mixer.Play(v, 1, false);
    mixer.RenderTo(8, sink);  // the ramp, then silence
    mixer.Play(v, 1, false, from);
    mixer.RenderTo(16, sink);
    ASSERT_EQ(sink.Frames(), 16u);
    for (size_t f = 0; f < 16; ++f) {
      const size_t at = f % 8;
      const int16_t want = at < 5 ? static_cast<int16_t>(100 * (at + 1)) : 0;
      ASSERT_EQ(sink.L(f), want) << "frame " << f << " from " << from;
    }
  }
}

TEST(MixerTest, EndCallbackComesAfterTheLastSampleIsWritten) {
  Mixer mixer;
  MemorySink sink;
  const VoiceId v = mixer.CreateVoice(MonoRamp(3000));
  size_t framesAtEnd = 0;
  int calls = 0;
  mixer.SetEndCallback(v, [&](VoiceId id, VoiceEnd why) {
    EXPECT_EQ(id, v);
    EXPECT_EQ(why, VoiceEnd::kFinished);
    framesAtEnd = sink.Frames();
    ++calls;
  });
  mixer.RenderTo(100, sink);
  mixer.Play(v, 2, false);
  mixer.RenderTo(20000, sink);
  EXPECT_EQ(calls, 1);
  ASSERT_GE(framesAtEnd, 6100u);
  EXPECT_EQ(sink.L(6099), 100 * 3000 % 65536 - 65536);  // the last sample, wrapped to int16 by Pcm16
  EXPECT_EQ(mixer.State(v), VoiceState::kStopped);
}

TEST(MixerTest, StopPauseResumeAndDestroy) {
  Mixer mixer;
  MemorySink sink;
  const VoiceId v = mixer.CreateVoice(MonoRamp(300));
  std::vector<VoiceEnd> ends;
  mixer.SetEndCallback(v, [&](VoiceId, VoiceEnd why) { ends.push_back(why); });
  mixer.Play(v, 1, false);
  mixer.RenderTo(10, sink);
  EXPECT_TRUE(mixer.Pause(v));
  mixer.RenderTo(20, sink);
  EXPECT_EQ(mixer.Position(v), 10u);
  EXPECT_EQ(sink.L(15), 0);
  EXPECT_TRUE(mixer.Resume(v));
  mixer.RenderTo(21, sink);
  EXPECT_EQ(sink.L(20), 1100);  // frame 10 of the ramp
  EXPECT_TRUE(mixer.Stop(v));
  EXPECT_TRUE(mixer.Stop(v));  // stopping a stopped voice ends nothing more
  mixer.Play(v, 1, false);     // goes on where it stopped
  mixer.RenderTo(22, sink);
  EXPECT_EQ(sink.L(21), 1200);
  mixer.DestroyVoice(v);
  EXPECT_EQ(ends, (std::vector<VoiceEnd>{VoiceEnd::kStopped, VoiceEnd::kDestroyed}));
  EXPECT_FALSE(mixer.State(v).has_value());
  EXPECT_FALSE(mixer.Play(v, 1, false));
}

// 64-bit position arithmetic: one second at each rate advances by the rate.
TEST(MixerTest, FrequencyAdvancesByItsRate) {
  for (uint32_t hz : {100u, 11025u, 22050u, 44100u, 48000u, 96000u, 100000u}) {
    Mixer mixer;
    NullSink sink;
    const VoiceId v = mixer.CreateVoice(std::make_shared<SoundBuffer>(SoundBuffer{1, 8000, std::vector<float>(200000)}));
    mixer.SetFrequency(v, hz);
    EXPECT_EQ(mixer.Frequency(v), hz);
    mixer.Play(v, 1, false);
    mixer.RenderTo(44100, sink);
    EXPECT_NEAR(static_cast<double>(*mixer.Position(v)), hz, 1.0) << hz;
  }
  Mixer mixer;
  const VoiceId v = mixer.CreateVoice(MonoRamp(10, 22050));
  EXPECT_EQ(mixer.Frequency(v), 22050u);  // unset: the buffer's rate
  mixer.SetFrequency(v, 5);
  EXPECT_EQ(mixer.Frequency(v), kMinFrequency);
  mixer.SetFrequency(v, 1'000'000);
  EXPECT_EQ(mixer.Frequency(v), kMaxFrequency);
}

TEST(MixerTest, SummedVoicesClipToSixteenBits) {
  Mixer mixer;
  MemorySink sink;
  for (int i = 0; i < 3; ++i) mixer.Play(mixer.CreateVoice(Stereo16({20000, -20000, 20000, -20000})), 1, false);
  mixer.RenderTo(2, sink);
  EXPECT_EQ(sink.L(0), 32767);
  EXPECT_EQ(sink.R(0), -32768);
}

struct PcmCase {
  PcmFormat format;
  std::vector<uint8_t> bytes;
  std::vector<float> samples;
};

class PcmConversionTest : public testing::TestWithParam<PcmCase> {};

TEST_P(PcmConversionTest, BytesToFloat) {
  const PcmCase& c = GetParam();
  const SoundBuffer b = SoundBufferFromPcm(c.format, c.bytes);
  EXPECT_EQ(b.samples, c.samples);
}

// 8-bit is unsigned around 0x80; 16-bit signed little-endian over 32768.
INSTANTIATE_TEST_SUITE_P(
    Table, PcmConversionTest,
    testing::Values(PcmCase{{1, 8000, 8}, {0x80, 0x00, 0xFF, 0xC0}, {0.0f, -1.0f, 127 / 128.0f, 0.5f}},
                    PcmCase{{2, 8000, 16}, {0x00, 0x80, 0xFF, 0x7F}, {-1.0f, 32767 / 32768.0f}},
                    PcmCase{{1, 8000, 16}, {0x00, 0x40, 0xFF, 0xFF}, {0.5f, -1 / 32768.0f}}));

TEST(PcmConversionTest, RefusesWhatTheMixerCannotPlay) {
  const std::vector<uint8_t> three{1, 2, 3};
  EXPECT_THROW(SoundBufferFromPcm({1, 8000, 16}, three), std::invalid_argument);   // inside a frame
  EXPECT_THROW(SoundBufferFromPcm({3, 8000, 8}, three), std::invalid_argument);    // channels
  EXPECT_THROW(SoundBufferFromPcm({1, 8000, 24}, three), std::invalid_argument);   // bits
  EXPECT_THROW(SoundBufferFromPcm({1, 0, 8}, three), std::invalid_argument);       // rate
}

// Resampling against sox: the same samples declared at a lower rate and
// converted to 44,100 Hz, once by the buffer's own rate and once by a
// frequency set on a 44,100 Hz buffer.
TEST(MixerResampleTest, MatchesSox) {
  ScratchDir dir;
  for (uint32_t rate : {22050u, 33075u}) {
    std::vector<int16_t> sine;
    for (int i = 0; i < 8000; ++i) sine.push_back(static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 440 * i / rate))));
    test::WriteFile(dir / "in.wav", test::MakeWav(1, rate, 16, Pcm16(sine)));
    const std::string cmd = "sox -q " + (dir / "in.wav").string() + " -r 44100 " + (dir / "sox.wav").string();
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const auto want = ReadPcm16(dir / "sox.wav");

    for (bool viaFrequency : {false, true}) {
      Mixer mixer;
      MemorySink sink;
      auto buffer = std::make_shared<SoundBuffer>(ReadSoundFile(dir / "in.wav"));
      if (viaFrequency) buffer->sampleRate = 44100;
      const VoiceId v = mixer.CreateVoice(buffer);
      if (viaFrequency) mixer.SetFrequency(v, rate);
      mixer.Play(v, 1, false);
      mixer.RenderTo(static_cast<int64_t>(want.samples.size()), sink);
      // Edges differ by the filters' lengths; compare the middle.
      double worst = 0;
      for (size_t i = 200; i + 200 < want.samples.size(); ++i) {
        worst = std::max(worst, std::abs(static_cast<double>(sink.L(i)) - want.samples[i]));
      }
      EXPECT_LT(worst, 12000 * 0.01) << rate << (viaFrequency ? " by frequency" : " by buffer rate");
    }
  }
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// When a clock-driven renderer must render to deliver a voice's end: the
// first frame after its last sample, whatever the rate, passes and start.
struct EndFrameCase {
  uint32_t rate;
  uint64_t frames;
  uint32_t count;
  int64_t renderedBefore;
  int64_t endFrame;  // rendered + ceil(frames x count x 44100 / rate)
};

class MixerEndFrameTest : public testing::TestWithParam<EndFrameCase> {};

TEST_P(MixerEndFrameTest, RenderingToTheEndFrameEndsTheVoiceAndNotBefore) {
  const EndFrameCase& c = GetParam();
  auto sound = std::make_shared<SoundBuffer>();
  sound->sampleRate = c.rate;
  sound->samples.assign(c.frames, 0.25f);
  Mixer mixer;
  MemorySink sink;
  mixer.RenderTo(c.renderedBefore, sink);
  const VoiceId v = mixer.CreateVoice(sound);
  bool ended = false;
  mixer.SetEndCallback(v, [&](VoiceId, VoiceEnd) { ended = true; });
  mixer.Play(v, c.count, false);
  ASSERT_EQ(mixer.NextEndFrame(), c.endFrame);
  mixer.RenderTo(c.endFrame - 1, sink);
  EXPECT_FALSE(ended);
  mixer.RenderTo(c.endFrame, sink);
  EXPECT_TRUE(ended);
  EXPECT_EQ(mixer.NextEndFrame(), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Table, MixerEndFrameTest,
                         testing::Values(EndFrameCase{44100, 100, 1, 0, 100},   // one source frame an output frame
                                         EndFrameCase{44100, 100, 3, 7, 307},   // passes back to back
                                         EndFrameCase{22050, 100, 1, 0, 200},   // half the rate lasts twice as long
                                         EndFrameCase{48000, 480, 1, 0, 442},   // the 32.32 step rounds down: 441 frames fall just short
                                         EndFrameCase{8000, 3, 1, 0, 17}));     // 16.54 rounds up

TEST(MixerTest, LoopingAndPausedVoicesHaveNoEnd) {
  auto sound = std::make_shared<SoundBuffer>();
  sound->sampleRate = 44100;
  sound->samples.assign(50, 0.1f);
  Mixer mixer;
  const VoiceId looping = mixer.CreateVoice(sound);
  mixer.Play(looping, 1, true);
  EXPECT_EQ(mixer.NextEndFrame(), std::nullopt);
  const VoiceId paused = mixer.CreateVoice(sound);
  mixer.Play(paused, 1, false);
  EXPECT_EQ(mixer.NextEndFrame(), 50);
  mixer.Pause(paused);
  EXPECT_EQ(mixer.NextEndFrame(), std::nullopt);
}

// MsAtFrame is the first time whose first frame is at or past a frame.
TEST(MixerTest, MsAtFrameInvertsFrameAtMs) {
  for (int64_t t = 0; t < 3000; ++t) {
    const int64_t f = Mixer::FrameAtMs(t);
    ASSERT_EQ(Mixer::MsAtFrame(f), t) << t;
    ASSERT_EQ(Mixer::MsAtFrame(f + 1), t + 1) << t;
  }
}

}  // namespace
}  // namespace kv
