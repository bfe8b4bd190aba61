#include "media/mci_devices.h"

#include <gtest/gtest.h>

#include <cmath>

#include "media/capture_sink.h"
#include "media/mci_command.h"
#include "media/mci_errors.h"
#include "media/sample_player.h"
#include "tests/media/media_test_util.h"

namespace kv {
namespace {

using test::MemorySink;
namespace fs = std::filesystem;
using test::Pcm16;


// A constant-valued stereo WAV of `frames` frames.
void WriteConstant(const fs::path& p, size_t frames, int16_t value, uint32_t rate = 44100) {
  test::WriteFile(p, test::MakeWav(2, rate, 16, Pcm16(std::vector<int16_t>(2 * frames, value))));
}

// The MCI layer on a clock-driven mixer: "wait" renders the waited time.
class MciFixture : public testing::Test {
 protected:
  MciFixture() { Reset(); }

  void Reset(MciConfig config = {}) {
    mci.reset();
    config.wait = [this](int64_t ms, const std::function<bool()>&) {
      mixer.RenderTo(mixer.RenderedFrames() + Mixer::FrameAtMs(ms), sink);
    };
    if (config.cdFolder.empty()) config.cdFolder = dir / "cdaudio";
    mci = std::make_unique<MciSystem>(&mixer, config);
  }

  // Sends and expects success; answers the return text.
  std::string Ok(const std::string& command, MciNotifyFn notify = {}) {
    std::string ret;
    EXPECT_EQ(mci->SendString(command, &ret, std::move(notify)), 0u) << command;
    return ret;
  }
  uint32_t Err(const std::string& command) { return mci->SendString(command); }
  void Render(int64_t ms) { mixer.RenderTo(mixer.RenderedFrames() + Mixer::FrameAtMs(ms), sink); }

  // Frames of the capture holding exactly `value` on both sides.
  size_t FramesOf(int16_t value) const {
    size_t n = 0;
    for (size_t i = 0; i + 1 < sink.samples.size(); i += 2) n += sink.samples[i] == value && sink.samples[i + 1] == value;
    return n;
  }

  test::ScratchDir dir;
  Mixer mixer;
  MemorySink sink;
  std::unique_ptr<MciSystem> mci;
};

TEST_F(MciFixture, WaveaudioPlaysARangeAndReportsStatus) {
  WriteConstant(dir / "tone.wav", 44100, 5000);  // one second
  const std::string open = "open " + (dir / "tone.wav").string() + " type waveaudio alias Tone";
  EXPECT_EQ(Ok(open), "1");
  EXPECT_EQ(Ok("status tone length"), "1000");
  EXPECT_EQ(Ok("status tone mode"), "stopped");
  EXPECT_EQ(Ok("capability tone can play"), "true");
  EXPECT_EQ(Ok("capability tone device type"), "waveaudio");
  Ok("play tone from 100 to 300 wait");
  EXPECT_EQ(FramesOf(5000), 8820u);  // 200 ms at 44.1 frames a millisecond
  EXPECT_EQ(Ok("status tone position"), "300");
  EXPECT_EQ(Ok("status tone mode"), "stopped");
  Ok("seek tone to 50");
  EXPECT_EQ(Ok("status tone position"), "50");
  Ok("seek tone to end");
  EXPECT_EQ(Ok("status tone position"), "1000");
  Ok("close tone");
  EXPECT_EQ(Err("status tone mode"), mci_err::kInvalidDeviceName);
  EXPECT_EQ(mci->OpenCount(), 0u);
}

TEST_F(MciFixture, PauseResumeAndNotifications) {
  WriteConstant(dir / "a.wav", 44100, 100);
  Ok("open waveaudio!" + (dir / "a.wav").string() + " alias a");
  std::vector<uint32_t> codes;
  auto record = [&](uint32_t, uint32_t code) { codes.push_back(code); };
  Ok("play a from 0 to 500 notify", record);
  Render(100);
  Ok("pause a");
  EXPECT_EQ(Ok("status a mode"), "paused");
  Render(100);
  EXPECT_EQ(Ok("status a position"), "100");
  Ok("resume a");
  EXPECT_EQ(Ok("status a mode"), "playing");
  Render(450);
  EXPECT_EQ(codes, std::vector<uint32_t>{mci_notify::kSuccessful});
  EXPECT_EQ(Ok("status a position"), "500");

  codes.clear();
  Ok("play a from 0 notify", record);
  Ok("play a from 0 notify", record);  // the first request is superseded
  Ok("stop a");                        // the second is aborted
  EXPECT_EQ(codes, (std::vector<uint32_t>{mci_notify::kSuperseded, mci_notify::kAborted}));
  Ok("play a from 0 notify", record);
  Ok("close all");
  EXPECT_EQ(codes.back(), mci_notify::kAborted);
  EXPECT_EQ(mixer.VoiceCount(), 0u);
}

// The audio switch holds for the device: a play started after "off" is
// silent, and "on" brings the playing sound back.
TEST_F(MciFixture, AudioOffSilencesLaterPlays) {
  WriteConstant(dir / "a.wav", 44100, 3000);
  Ok("open waveaudio!" + (dir / "a.wav").string() + " alias a");
  const struct {
    const char* side;
  } sides[] = {{"all"}, {"left"}, {"right"}};
  for (const auto& s : sides) {
    SCOPED_TRACE(s.side);
    sink.samples.clear();
    Ok(std::string("set a audio ") + s.side + " off");
    Ok("play a from 0 to 200");
    Render(100);
    EXPECT_EQ(FramesOf(0), 4410u);
    EXPECT_EQ(FramesOf(3000), 0u);
    Ok("set a audio all on");
    Render(100);
    EXPECT_EQ(FramesOf(3000), 4410u);
    Ok("stop a");
  }
  // Switched back on before the play: heard from the start.
  sink.samples.clear();
  Ok("play a from 0 to 100 wait");
  EXPECT_EQ(FramesOf(3000), 4410u);
}

TEST_F(MciFixture, PathsWithSpacesAndTwoAliases) {
  fs::create_directories(dir / "My Sounds");
  WriteConstant(dir / "My Sounds" / "a b.wav", 4410, 7);
  const std::string file = QuoteMciArgument((dir / "My Sounds" / "a b.wav").string());
  EXPECT_EQ(Ok("open " + file + " alias one"), "1");
  EXPECT_EQ(Ok("open " + file + " alias two"), "2");
  EXPECT_EQ(Err("open " + file + " alias ONE"), mci_err::kDuplicateAlias);
  EXPECT_EQ(Ok("status two length"), "100");
}

struct ErrorCase {
  const char* command;  // "$" stands for the scratch folder
  uint32_t error;
};

class MciErrorTest : public MciFixture, public testing::WithParamInterface<ErrorCase> {};

TEST_P(MciErrorTest, AnswersTheErrorNumber) {
  WriteConstant(dir / "ok.wav", 4410, 1);
  test::WriteFile(dir / "bad.wav", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
  Ok("open " + (dir / "ok.wav").string() + " alias w");
  std::string command = GetParam().command;
  for (size_t at; (at = command.find('$')) != std::string::npos;) command.replace(at, 1, dir.path().string());
  EXPECT_EQ(Err(command), GetParam().error) << command;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MciErrorTest,
    testing::Values(ErrorCase{"open $/missing.wav alias m", mci_err::kFileNotFound},
                    ErrorCase{"open $/ok.xyz alias m", mci_err::kExtensionNotFound},
                    ErrorCase{"open $/film.avi alias m", mci_err::kDeviceNotInstalled},
                    ErrorCase{"open avivideo!$/film.avi", mci_err::kDeviceNotInstalled},
                    ErrorCase{"open $/ok.wav type mpegvideo", mci_err::kDeviceNotInstalled},
                    ErrorCase{"open $/bad.wav alias m", mci_err::kInvalidFile},
                    ErrorCase{"open $/ok.wav alias w", mci_err::kDuplicateAlias},
                    ErrorCase{"open $/ok.wav", 0},
                    ErrorCase{"open new type waveaudio alias r", mci_err::kUnsupportedFunction},
                    ErrorCase{"open waveaudio alias r", mci_err::kFilenameRequired},
                    ErrorCase{"play nothing", mci_err::kInvalidDeviceName},
                    ErrorCase{"frobnicate w", mci_err::kUnrecognizedCommand},
                    ErrorCase{"play all", mci_err::kCannotUseAll},
                    ErrorCase{"play w from 200", mci_err::kOutOfRange},
                    ErrorCase{"play w from 50 to 20", mci_err::kOutOfRange},
                    ErrorCase{"play w from x", mci_err::kBadInteger},
                    ErrorCase{"play w sideways", mci_err::kUnrecognizedKeyword},
                    ErrorCase{"set w time format tmsf", mci_err::kBadTimeFormat},
                    ErrorCase{"set w audio all", mci_err::kBadConstant},
                    ErrorCase{"set w", mci_err::kMissingParameter},
                    ErrorCase{"set w door open", 0},
                    ErrorCase{"status w", mci_err::kMissingParameter},
                    ErrorCase{"status w mode position", mci_err::kFlagsNotCompatible},
                    ErrorCase{"seek w", mci_err::kMissingParameter},
                    ErrorCase{"close nothing", mci_err::kInvalidDeviceName}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(MciNoDeviceTest, SoundingDevicesRefuseWithoutOutput) {
  test::ScratchDir dir;
  WriteConstant(dir / "ok.wav", 441, 1);
  MciSystem mci(nullptr, {});
  EXPECT_EQ(mci.SendString("open " + (dir / "ok.wav").string()), mci_err::kWaveOutputsInUse);
  EXPECT_EQ(mci.SendString("open cdaudio"), mci_err::kCannotLoadDriver);
  EXPECT_EQ(mci.SendString("open " + (dir / "a.mid").string()), mci_err::kSeqNoMidiPresent);
  EXPECT_EQ(mci.OpenCount(), 0u);
}

// Track folder: 1.0 s of 1000, 0.5 s of 2000 (FLAC), 0.2 s of 3000.
class CdAudioTest : public MciFixture {
 protected:
  CdAudioTest() {
    fs::create_directories(dir / "cdaudio");
    WriteConstant(dir / "cdaudio" / "01.wav", 44100, 1000);
    WriteConstant(dir / "two.wav", 22050, 2000);
    const std::string sox = "sox -q " + (dir / "two.wav").string() + " " + (dir / "cdaudio" / "2.flac").string();
    EXPECT_EQ(std::system(sox.c_str()), 0);
    WriteConstant(dir / "cdaudio" / "Track03.wav", 8820, 3000);
    WriteConstant(dir / "cdaudio" / "05.wav", 100, 5000);  // after a gap: not on the disc
    Ok("open cdaudio shareable alias cd wait");
  }
};

TEST_F(CdAudioTest, TracksAndTmsfPositions) {
  EXPECT_EQ(Ok("status cd number of tracks"), "3");
  EXPECT_EQ(Ok("status cd media present"), "true");
  EXPECT_EQ(Ok("status cd time format"), "msf");
  EXPECT_EQ(Ok("status cd length"), "00:01:52");  // 1.7 s = 127.5 CD frames
  Ok("set cd time format tmsf");
  EXPECT_EQ(Ok("status cd length track 2"), "00:00:37");  // 0.5 s = 37.5 CD frames
  EXPECT_EQ(Ok("status cd position track 3"), "03:00:00:00");
  Ok("play cd from 2 to 3 wait");
  EXPECT_EQ(FramesOf(2000), 22050u);
  EXPECT_EQ(FramesOf(1000) + FramesOf(3000), 0u);
  EXPECT_EQ(Ok("status cd position"), "03:00:00:00");
  EXPECT_EQ(Ok("status cd current track"), "3");
  // 30 CD frames into track 1 is 0.4 s: 17640 frames; the rest of it plays.
  Ok("play cd from 01:00:00:30 to 2 wait");
  EXPECT_EQ(FramesOf(1000), 44100u - 17640u);
  Ok("set cd time format milliseconds");
  Ok("play cd from 1400 wait");  // across the end of track 2 into track 3
  EXPECT_EQ(FramesOf(2000), 22050u + 4410u);
  EXPECT_EQ(FramesOf(3000), 8820u);
  EXPECT_EQ(Err("play cd from 1800"), mci_err::kOutOfRange);
  Ok("set cd time format tmsf");
  EXPECT_EQ(Err("play cd from 4"), mci_err::kOutOfRange);
  EXPECT_EQ(Ok("capability cd can eject"), "true");
  Ok("set cd door open");
}

TEST_F(CdAudioTest, SecondShareableOpenAndEmptyDrive) {
  EXPECT_EQ(Ok("open cdaudio shareable"), "2");
  EXPECT_EQ(Ok("open cdaudio shareable"), "2");  // the same device again
  EXPECT_EQ(Err("open cdaudio"), mci_err::kDeviceOpen);
  MciConfig empty;
  empty.cdFolder = dir / "nowhere";
  Reset(empty);
  Ok("open cdaudio alias cd");
  EXPECT_EQ(Ok("status cd mode"), "not ready");
  EXPECT_EQ(Ok("status cd media present"), "false");
  EXPECT_EQ(Err("play cd"), mci_err::kDeviceNotReady);
}

// Format 0, one track, 480 ticks a quarter at the default 120 beats a minute:
// middle C held 960 ticks, one second.
const std::vector<uint8_t> kOneSecondMidi = {
    'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0,  // header of 6 bytes, format 0
    0, 1, 0x01, 0xE0,                      // one track, 480 = 0x1E0 ticks a quarter
    'M', 'T', 'r', 'k', 0, 0, 0, 13,       // 13 bytes of events:
    0x00, 0x90, 0x3C, 0x64,                // delta 0, note on C4 velocity 100
    0x87, 0x40, 0x80, 0x3C, 0x40,          // delta 960 = 0x87 0x40 (7-bit groups 7, 0x40), note off
    0x00, 0xFF, 0x2F, 0x00};               // end of track

double Rms(const std::vector<int16_t>& s, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / static_cast<double>(to - from)) / 32768.0;
}

TEST_F(MciFixture, SequencerRendersMidiThroughFluidSynth) {
  test::WriteFile(dir / "c.mid", kOneSecondMidi);
  Ok("open " + (dir / "c.mid").string() + " alias tune");
  EXPECT_EQ(Ok("capability tune device type"), "sequencer");
  const int length = std::stoi(Ok("status tune length"));
  EXPECT_GE(length, 995);
  EXPECT_LE(length, 1050);
  Ok("play tune wait");
  ASSERT_GE(sink.samples.size(), 2u * 44100);
  const double held = Rms(sink.samples, 2 * 4410, 2 * 39690);  // 0.1 s to 0.9 s
  EXPECT_GT(held, 0.005) << "the note sounds";
  EXPECT_LT(held, 0.7);
  EXPECT_EQ(Rms(sink.samples, sink.samples.size() - 200, sink.samples.size()), 0.0) << "and ends";

  // Rendering is timed by samples, not the wall clock: a second run is identical.
  const std::vector<int16_t> first = sink.samples;
  sink.samples.clear();
  Ok("play tune from 0 wait");
  EXPECT_EQ(sink.samples.size(), first.size());
  EXPECT_EQ(sink.samples, first);

  MciConfig noFont;
  noFont.soundFont = dir / "missing.sf2";
  Reset(noFont);
  EXPECT_EQ(Err("open " + (dir / "c.mid").string()), mci_err::kSeqNoMidiPresent);
  test::WriteFile(dir / "junk.mid", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0});
  Reset();
  EXPECT_EQ(Err("open " + (dir / "junk.mid").string()), mci_err::kInvalidFile);
}

// The preview button of a file-choosing control.
class SamplePlayerTest : public MciFixture {
 protected:
  SamplePlayerTest() : cwd(fs::current_path()) { fs::current_path(dir.path()); }
  ~SamplePlayerTest() override { fs::current_path(cwd); }
  SamplePlayer Player() {
    return SamplePlayer(*mci, ".wav", [this](bool playing) { labels.push_back(playing); });
  }
  std::string Status(const std::string& item) { return Ok(std::string("status __sample_player ") + item); }

  fs::path cwd;
  std::vector<bool> labels;  // the button's relabellings: true "&Stop", false restored
};

TEST_F(SamplePlayerTest, PlaysAWaveTakenRelativeWithTheDefaultExtension) {
  WriteConstant(dir / "tone.wav", 4410, 3000);  // 100 ms
  {
    SamplePlayer player = Player();
    ASSERT_EQ(player.PlaySample("tone"), 0u);
    EXPECT_EQ(Status("mode"), "playing");
    EXPECT_EQ(Ok("capability __sample_player device type"), "waveaudio");
    EXPECT_EQ(labels, std::vector<bool>({true}));
    Render(150);
    EXPECT_EQ(FramesOf(3000), 4410u);
    EXPECT_EQ(labels, std::vector<bool>({true, false})) << "the end restores the button";
    EXPECT_TRUE(player.Open()) << "until the control closes it";
    player.StopSample();
    EXPECT_EQ(Err("status __sample_player mode"), mci_err::kInvalidDeviceName);
    EXPECT_EQ(labels, std::vector<bool>({true, false, false}));
  }
  EXPECT_EQ(mci->OpenCount(), 0u);
}

TEST_F(SamplePlayerTest, ANewPreviewStopsTheLastAndMidiGoesToTheSequencer) {
  WriteConstant(dir / "tone.wav", 44100, 3000);
  test::WriteFile(dir / "c.mid", kOneSecondMidi);
  SamplePlayer player = Player();
  ASSERT_EQ(player.PlaySample((dir / "tone.wav").string()), 0u);
  ASSERT_EQ(player.PlaySample("c.mid"), 0u);
  EXPECT_EQ(mci->OpenCount(), 1u);
  EXPECT_EQ(Ok("capability __sample_player device type"), "sequencer");
  EXPECT_EQ(labels, std::vector<bool>({true, false, true}));
  player.StopSample();
  EXPECT_EQ(mci->OpenCount(), 0u);
}

TEST_F(SamplePlayerTest, WhatCannotBePreviewedOpensNothing) {
  test::WriteFile(dir / "notes.txt", std::vector<uint8_t>{'h', 'i'});
  SamplePlayer player = Player();
  EXPECT_EQ(player.PlaySample("notes.txt"), mci_err::kExtensionNotFound);
  EXPECT_EQ(player.PlaySample("missing.wav"), mci_err::kFileNotFound);
  EXPECT_FALSE(player.Open());
  EXPECT_EQ(mci->OpenCount(), 0u);
  EXPECT_TRUE(labels.empty());
}

}  // namespace
}  // namespace kv
