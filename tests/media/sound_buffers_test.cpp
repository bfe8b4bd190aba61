#include "media/sound_buffers.h"

#include <gtest/gtest.h>

#include "tests/media/media_test_util.h"

namespace kv {
namespace {

struct MapCase {
  const char* what;
  int64_t got, want;
};

class SoundMappingTest : public testing::TestWithParam<MapCase> {};

TEST_P(SoundMappingTest, Maps) { EXPECT_EQ(GetParam().got, GetParam().want) << GetParam().what; }

INSTANTIATE_TEST_SUITE_P(
    Table, SoundMappingTest,
    testing::Values(MapCase{"volume 50%", VolumeFromPercent(50), -5000},
                    MapCase{"back to 50%", PercentFromVolume(-5000), 50},
                    MapCase{"volume 150% clamps", VolumeFromPercent(150), 0},
                    MapCase{"volume -5% clamps", VolumeFromPercent(-5), -10000},
                    MapCase{"pan step 3", PanFromStep(3), 3000},
                    MapCase{"pan step 15 clamps", PanFromStep(15), 10000},
                    MapCase{"pan -7000 as a step", StepFromPan(-7000), -7},
                    // f x 99900 / 100000 + 100, by hand: 22050 -> 22027 + 100
                    MapCase{"22050 Hz", FrequencyFromHz(22050), 22127},
                    MapCase{"44100 Hz", FrequencyFromHz(44100), 44155},
                    MapCase{"100000 Hz", FrequencyFromHz(100000), 100000},
                    MapCase{"50 Hz clamps to 100", FrequencyFromHz(50), 199},
                    MapCase{"5 GHz clamps", FrequencyFromHz(5'000'000'000), 100000},
                    MapCase{"+50% of 22050", ShiftedFrequency(22050, 50), 33075},
                    MapCase{"-100% floors", ShiftedFrequency(22050, -100), 100},
                    MapCase{"+50% of 80000 caps", ShiftedFrequency(80000, 50), 100000},
                    MapCase{"+300% counts as +100%", ShiftedFrequency(30000, 300), 60000},
                    MapCase{"mode 0", ChannelValueOf(0, 7), 0},
                    MapCase{"mode 1", ChannelValueOf(1, 7), kChannelMixAll},
                    MapCase{"mode 2", ChannelValueOf(2, 7), 7}));

std::shared_ptr<SoundBuffer> Tone(size_t frames = 1000) {
  return std::make_shared<SoundBuffer>(SoundBuffer{1, 44100, std::vector<float>(frames, 0.25f)});
}

class Owner : public SoundBufferOwner {
 public:
  void RequestStop(bool unRun) override {
    ++requests;
    unRunSeen = unRun;
  }
  int requests = 0;
  bool unRunSeen = false;
};

TEST(SoundBufferManagerTest, NoDeviceAnswersFailure) {
  SoundBufferManager manager(nullptr);
  EXPECT_FALSE(manager.Available());
  EXPECT_EQ(manager.CreateSoundBuffer(Tone(), {0, 1000}, kChannelMixAll, {}), nullptr);
}

TEST(SoundBufferManagerTest, RecordLimit) {
  Mixer mixer;
  SoundBufferManager manager(&mixer);
  auto tone = Tone(10);
  std::vector<std::shared_ptr<SoundBufferRecord>> held;
  for (size_t i = 0; i < kMaxSoundBuffers; ++i) {
    held.push_back(manager.CreateSoundBuffer(tone, {0, 10}, kChannelMixAll, {}));
    ASSERT_NE(held.back(), nullptr) << i;
  }
  EXPECT_EQ(manager.LiveCount(), 5001u);
  EXPECT_EQ(manager.CreateSoundBuffer(tone, {0, 10}, kChannelMixAll, {}), nullptr);
  manager.DestroySoundBuffer(*held.front());
  EXPECT_NE(manager.CreateSoundBuffer(tone, {0, 10}, kChannelMixAll, {}), nullptr);
}

// However a playing record goes away, its sound ends with the end callback
// and the holder's weak link expires.
class ReleaseWhilePlayingTest : public testing::TestWithParam<int> {};

TEST_P(ReleaseWhilePlayingTest, EndsTheSoundCleanly) {
  Mixer mixer;
  NullSink sink;
  std::vector<VoiceEnd> ends;
  std::weak_ptr<SoundBufferRecord> link;
  {
    SoundBufferManager manager(&mixer);
    link = manager.CreateSoundBuffer(Tone(100000), {0, 100000}, kChannelMixAll, {});
    auto record = link.lock();
    ASSERT_TRUE(record);
    manager.SetEndCallback(*record, [&](VoiceId, VoiceEnd why) { ends.push_back(why); });
    manager.PlaySoundBuffer(*record, 1, true);
    mixer.RenderTo(100, sink);
    switch (GetParam()) {
      case 0: manager.DestroySoundBuffer(*record); break;
      case 1: manager.ReleaseAllSoundBuffers(); break;
      case 2: manager.ChangeOwnerWindow(42); break;
      default: break;  // manager shutdown below
    }
    record.reset();
  }
  EXPECT_TRUE(link.expired());
  EXPECT_EQ(ends, std::vector<VoiceEnd>{VoiceEnd::kDestroyed});
  EXPECT_EQ(mixer.VoiceCount(), 0u);
  mixer.RenderTo(200, sink);  // nothing left to touch freed data
}

INSTANTIATE_TEST_SUITE_P(Causes, ReleaseWhilePlayingTest, testing::Values(0, 1, 2, 3));

struct ChannelCase {
  uint32_t stopValue;
  std::vector<int> asked;  // stop requests per owner: channel 5, channel 5 (the starter), channel 6, mix-all
};

class StopChannelTest : public testing::TestWithParam<ChannelCase> {};

TEST_P(StopChannelTest, AsksTheRightOwners) {
  Mixer mixer;
  SoundBufferManager manager(&mixer);
  const uint32_t channels[] = {5, 5, 6, kChannelMixAll};
  std::vector<std::shared_ptr<Owner>> owners;
  std::vector<std::shared_ptr<SoundBufferRecord>> records;
  for (uint32_t c : channels) {
    owners.push_back(std::make_shared<Owner>());
    records.push_back(manager.CreateSoundBuffer(Tone(), {0, 1000}, c, owners.back()));
    manager.PlaySoundBuffer(*records.back(), 1, false);
  }
  manager.StopChannel(GetParam().stopValue, records[1].get(), true);
  for (size_t i = 0; i < owners.size(); ++i) EXPECT_EQ(owners[i]->requests, GetParam().asked[i]) << i;
  EXPECT_TRUE(owners[0]->unRunSeen || GetParam().asked[0] == 0);
}

INSTANTIATE_TEST_SUITE_P(Table, StopChannelTest,
                         testing::Values(ChannelCase{5, {1, 0, 0, 0}},    // the same channel only
                                         ChannelCase{6, {0, 0, 1, 0}},
                                         ChannelCase{0, {1, 0, 1, 1}}));  // mode 0: every other sound

TEST(SoundBufferManagerTest, StopChannelStopsSoundsWhoseOwnerIsGone) {
  Mixer mixer;
  SoundBufferManager manager(&mixer);
  auto owner = std::make_shared<Owner>();
  auto record = manager.CreateSoundBuffer(Tone(), {0, 1000}, 3, owner);
  manager.PlaySoundBuffer(*record, 1, false);
  owner.reset();
  manager.StopChannel(3, nullptr, false);
  EXPECT_FALSE(manager.IsSoundBufferPlaying(*record));
}

TEST(SoundBufferManagerTest, PausedRecordResumesWhereItStopped) {
  Mixer mixer;
  NullSink sink;
  SoundBufferManager manager(&mixer);
  auto record = manager.CreateSoundBuffer(Tone(), {0, 1000}, kChannelMixAll, {});
  manager.PlaySoundBuffer(*record, 1, false);
  mixer.RenderTo(300, sink);
  ASSERT_TRUE(manager.PauseSoundBuffer(*record));
  mixer.RenderTo(400, sink);
  EXPECT_TRUE(manager.PlaySoundBuffer(*record, 1, false, 0));
  EXPECT_EQ(manager.GetSoundBufferPosition(*record), 300u);
  EXPECT_TRUE(manager.IsSoundBufferPlaying(*record));
}

TEST(SoundBufferManagerTest, PrepareSound) {
  test::ScratchDir dir;
  test::WriteFile(dir / "ok.wav", test::MakeWav(1, 22050, 8, std::vector<uint8_t>(22050, 0x90)));
  test::WriteFile(dir / "bad.wav", {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0, 0, 'W', 'A', 'V', 'E'});
  Mixer mixer;
  SoundBufferManager manager(&mixer);
  auto good = manager.PrepareSound(dir / "ok.wav", 100, 600, kChannelMixAll, {});
  ASSERT_FALSE(good.record.expired()) << good.detail;
  EXPECT_EQ(good.record.lock()->byteSize, 11025u * 2);  // 500 ms of mono as 16-bit
  EXPECT_EQ(manager.LastFrequency(), 22050u);
  EXPECT_EQ(ReadSoundInfo(dir / "ok.wav")->sampleRate, 22050u);  // the rate a shift starts from without a record
  for (const char* name : {"bad.wav", "missing.wav"}) {
    EXPECT_EQ(manager.PrepareSound(dir / name, 0, 10, kChannelMixAll, {}).error, sound_error::kPrepareFailed) << name;
  }
  EXPECT_EQ(manager.PrepareSound(dir / "ok.wav", 0, 1200, kChannelMixAll, {}).error, sound_error::kPrepareFailed);
  SoundBufferManager none(nullptr);
  const auto noDevice = none.PrepareSound(dir / "ok.wav", 0, 10, kChannelMixAll, {});
  EXPECT_TRUE(noDevice.record.expired());
  EXPECT_EQ(noDevice.error, 0);
}

// Nothing to play is not a fault of the file: no record, and the play
// reports that no buffer could be had.
TEST(SoundBufferManagerTest, EmptyRangeGetsNoBuffer) {
  test::ScratchDir dir;
  test::WriteFile(dir / "empty.wav", test::MakeWav(1, 22050, 8, {}));
  test::WriteFile(dir / "ok.wav", test::MakeWav(1, 22050, 8, std::vector<uint8_t>(22050, 0x90)));
  Mixer mixer;
  SoundBufferManager manager(&mixer);
  const struct {
    const char* file;
    uint32_t startMs, endMs;
  } cases[] = {{"empty.wav", 0, 0}, {"ok.wav", 300, 300}, {"ok.wav", 1000, 1000}, {"ok.wav", 0, 0}};
  for (const auto& c : cases) {
    const auto p = manager.PrepareSound(dir / c.file, c.startMs, c.endMs, kChannelMixAll, {});
    EXPECT_TRUE(p.record.expired()) << c.file << " " << c.startMs;
    EXPECT_EQ(p.error, 0) << c.file << " " << c.startMs;
    EXPECT_EQ(p.detail, "no sound buffer available") << c.file << " " << c.startMs;
  }
  EXPECT_EQ(manager.LiveCount(), 0u);
  // A millisecond is enough for a record.
  EXPECT_FALSE(manager.PrepareSound(dir / "ok.wav", 300, 301, kChannelMixAll, {}).record.expired());
}

}  // namespace
}  // namespace kv
