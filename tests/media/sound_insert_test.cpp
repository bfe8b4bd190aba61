#include <gtest/gtest.h>

#include "engine/commands.h"
#include "engine/flow.h"
#include "engine/runner.h"
#include "media/audio.h"
#include "media/mci_command.h"
#include "media/mci_player.h"
#include "media/media_context.h"
#include "platform/message_box.h"
#include "tests/media/media_test_util.h"

namespace kv {
namespace {

using test::MakeWav;
using test::Pcm16;
using test::ScratchDir;
using test::WriteFile;

// The inserts' property mappings: percent, pan steps and hertz to the
// stored hundredths of a decibel and rates, and back.
struct VolumeCase {
  int percent;
  int32_t volume;
  int readBack;
};

class SoundVolumeTest : public testing::TestWithParam<VolumeCase> {};

TEST_P(SoundVolumeTest, PercentMapsToHundredthsOfADecibel) {
  CFileAudio sound;
  sound.SetVolumePercent(GetParam().percent);
  EXPECT_EQ(sound.volume, GetParam().volume);
  EXPECT_EQ(sound.GetVolumePercent(), GetParam().readBack);
}

INSTANTIATE_TEST_SUITE_P(Table, SoundVolumeTest,
                         testing::Values(VolumeCase{50, -5000, 50}, VolumeCase{0, -10000, 0},
                                         VolumeCase{100, 0, 100}, VolumeCase{150, 0, 100},  // clamped to 0..100
                                         VolumeCase{-5, -10000, 0}, VolumeCase{33, -6700, 33}));

struct PanCase {
  int step;
  int32_t pan;
  int readBack;
};

class SoundPanTest : public testing::TestWithParam<PanCase> {};

TEST_P(SoundPanTest, StepsMapToHundredthsOfADecibel) {
  CFileAudio sound;
  sound.SetPanStep(GetParam().step);
  EXPECT_EQ(sound.pan, GetParam().pan);
  EXPECT_EQ(sound.GetPanStep(), GetParam().readBack);
}

INSTANTIATE_TEST_SUITE_P(Table, SoundPanTest,
                         testing::Values(PanCase{-3, -3000, -3}, PanCase{0, 0, 0}, PanCase{12, 10000, 10},
                                         PanCase{-11, -10000, -10}));

struct FrequencyCase {
  int hz;
  uint32_t stored;  // clamp to 100..100000, then f x 99900 / 100000 + 100 in 64 bits
};

class SoundFrequencyTest : public testing::TestWithParam<FrequencyCase> {};

TEST_P(SoundFrequencyTest, HertzAreMappedIn64Bits) {
  CFileAudio sound;
  sound.SetFrequencyHz(GetParam().hz);
  EXPECT_EQ(sound.frequency, GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Table, SoundFrequencyTest,
                         testing::Values(FrequencyCase{22050, 22127},    // 22050 x 99900 passes 2^31
                                         FrequencyCase{44100, 44155}, FrequencyCase{50, 199},
                                         FrequencyCase{200000, 100000}));

// Start and end are whole milliseconds; a start never passes the end and an
// end never falls below the start.
TEST(SoundTimesTest, StartAndEndStayOrdered) {
  CFileAudio sound;
  sound.SetEndTime(0.5);
  EXPECT_EQ(sound.endMs, 500u);
  sound.SetStartTime(-1.0);
  EXPECT_EQ(sound.startMs, 0u);
  sound.SetStartTime(0.2504);
  EXPECT_EQ(sound.startMs, 250u);
  EXPECT_DOUBLE_EQ(sound.GetStartTime(), 0.25);
  sound.SetStartTime(1.0);
  EXPECT_EQ(sound.startMs, 500u);
  sound.SetEndTime(0.1);
  EXPECT_EQ(sound.endMs, 500u);
}

// A run with a media context on the virtual clock, and one engine thread.
class MediaRun : public testing::Test {
 protected:
  MediaRun() {
    MediaOptions options;
    media = std::make_unique<MediaContext>(clock, nullptr, options);
    RunnerServices s;
    s.clock = &clock;
    s.messages = &boxes;
    s.media = media.get();
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
    runner->Context().media = media.get();
    thread = ScriptThreadContext::Create(*runner, "project", 1);
    ScriptThreadContext::SetCurrent(thread.get());
  }
  ~MediaRun() override {
    ScriptThreadContext::SetCurrent(nullptr);
    media->Finish();
  }

  std::filesystem::path Wav(const std::string& name, uint32_t rate, size_t frames) {
    const auto path = dir / name;
    std::filesystem::create_directories(path.parent_path());
    WriteFile(path, MakeWav(1, rate, 16, Pcm16(std::vector<int16_t>(frames, 1000))));
    return path;
  }

  ScratchDir dir;
  Clock clock{true};
  ScriptedMessageBox boxes;
  std::unique_ptr<MediaContext> media;
  std::unique_ptr<Runner> runner;
  std::shared_ptr<ScriptThreadContext> thread;
};

TEST_F(MediaRun, TwoPlayersOfOneNameGetDifferentAliases) {
  const auto file = Wav("tone.wav", 44100, 441);
  MciPlayer first(*runner, *media, "voice", false);
  MciPlayer second(*runner, *media, "voice", false);
  ASSERT_EQ(first.OpenWave(file.string()), 0u);
  ASSERT_EQ(second.OpenWave(file.string()), 0u);
  EXPECT_EQ(first.alias(), "voice");
  EXPECT_EQ(second.alias().rfind("SSWaVeAliaS", 0), 0u) << second.alias();
  EXPECT_EQ(media->mci().OpenCount(), 2u);
  first.Close();
  second.Close();
  EXPECT_EQ(media->mci().OpenCount(), 0u);
}

TEST_F(MediaRun, AnUnnamedPlayerTakesTheFallbackAlias) {
  const auto file = Wav("tone.wav", 44100, 441);
  MciPlayer player(*runner, *media, "", false);
  ASSERT_EQ(player.OpenWave(file.string()), 0u);
  EXPECT_EQ(player.alias().rfind("SSWaVeAliaS", 0), 0u) << player.alias();
}

// Each pass ends with a notification that starts the next from the start; a pass of
// 100 ms played n times takes n times as long on the run's clock.
TEST_F(MediaRun, RepetitionsPlayTheWholeRangeAgain) {
  const auto file = Wav("tone.wav", 44100, 4410);
  struct Case {
    uint32_t repetitions;
    int64_t ms;
  };
  const Case cases[] = {{0, 100}, {1, 100}, {3, 300}};
  for (const Case& c : cases) {
    MciPlayer player(*runner, *media, "voice", false);
    ASSERT_EQ(player.OpenWave(file.string()), 0u);
    const int64_t start = runner->Now();
    ASSERT_EQ(player.Play("0", "100", c.repetitions), 0u);
    EXPECT_TRUE(player.WaitWhilePlaying(nullptr)) << c.repetitions;
    EXPECT_NEAR(double(runner->Now() - start), double(c.ms), 20.0) << c.repetitions;
    player.Close();
  }
}

// Paths with spaces are quoted; the device is closed again whatever the answer.
TEST_F(MediaRun, CanPlayMediaAnswersForTheFileAndClosesIt) {
  const auto spaced = Wav("a folder/with spaces.wav", 22050, 100);
  EXPECT_TRUE(CanPlayMedia(media->mci(), spaced.string()));
  WriteFile(dir / "text.wav", {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e'});
  EXPECT_FALSE(CanPlayMedia(media->mci(), (dir / "text.wav").string()));
  EXPECT_FALSE(CanPlayMedia(media->mci(), (dir / "missing.wav").string()));
  EXPECT_FALSE(DeviceCanPlay(media->mci(), "avivideo"));
  EXPECT_EQ(media->mci().OpenCount(), 0u);
}

// Without a buffer, a shift starts from the file's own rate, not from 0.
TEST_F(MediaRun, FrequencyShiftWithoutABufferStartsFromTheFilesRate) {
  auto sound = std::make_shared<CFileAudio>();
  sound->fileName = Wav("slow.wav", 22050, 100).string();
  sound->thread = thread;
  sound->ShiftFrequencyPercent(10);
  EXPECT_EQ(sound->frequency, 24255u);
  sound->ShiftFrequencyPercent(-200);  // clamped to -100: the rate's floor
  EXPECT_EQ(sound->frequency, 100u);
}

// The media commands a request carries: 77 and 78 set the owner's times from
// the request's number; 70 sends its argument and keeps a failure.
TEST_F(MediaRun, FlowCommandsSetTimesAndSendStrings) {
  auto sound = std::make_shared<CFileAudio>();
  sound->endMs = 1000;
  auto flow = std::make_shared<CFlow>();
  flow->owner = sound;
  flow->command = command::kSetStartTime;
  flow->requestNumber = 0.25;
  EXPECT_EQ(flow->Run(*runner, run_mode::kHandler), 1);
  EXPECT_EQ(sound->startMs, 250u);
  flow->command = command::kSetEndTime;
  flow->requestNumber = 0.5;
  flow->Run(*runner, run_mode::kHandler);
  EXPECT_EQ(sound->endMs, 500u);

  runner->variables().BuildRuntimeVariables(RuntimeFacts{});
  runner->variables().SetLastError(0);
  flow->command = command::kMciString;
  flow->argument = "open " + QuoteMciArgument(Wav("x y.wav", 44100, 10).string()) + " alias clip";
  flow->Run(*runner, run_mode::kHandler);
  EXPECT_EQ(media->mci().OpenCount(), 1u);
  EXPECT_EQ(runner->variables().LastError(), 0);
  flow->argument = "frobnicate clip";
  flow->Run(*runner, run_mode::kHandler);
  EXPECT_EQ(runner->variables().LastError(), 261);  // unrecognized command
}

}  // namespace
}  // namespace kv
