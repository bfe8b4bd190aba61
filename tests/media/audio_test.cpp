#include "media/audio.h"

#include <gtest/gtest.h>

#include "inserts/display.h"
#include "tests/inserts/kind_bytes.h"

namespace kv {
namespace {

using test::Bytes;

// The sound's version word, then the common record.
Bytes SoundHead(const std::string& cls, uint16_t version) {
  Bytes b;
  b.newClass(cls, 0).u16(version).add(test::CommonRecordV5());
  return b;
}

// Version 2's fields with no display block.
Bytes Version2Part(uint8_t displayKind = 0) {
  Bytes b;
  b.u32(22050).i32(-5000).i32(2000).u8(2).u32(7).u8(4).u8(displayKind);
  return b;
}

Bytes SoundTail() {
  Bytes b;
  b.u8(0).u8(3).u8(1).u32(500).u32(2500).str("DING.WAV").u8(9);
  return b;
}

TEST(AudioTest, Version2RoundTrips) {
  Bytes b = SoundHead("CFileAudio", 2).add(Version2Part()).add(SoundTail());
  auto sound = std::dynamic_pointer_cast<CFileAudio>(test::ExpectLoadsAsNewest(b.data, b.data));
  ASSERT_TRUE(sound);
  EXPECT_EQ(sound->audioVersion, 2);
  EXPECT_EQ(sound->frequency, 22050u);
  EXPECT_EQ(sound->volume, -5000);
  EXPECT_EQ(sound->pan, 2000);
  EXPECT_EQ(sound->channelMode, channel_mode::kStopChannel);
  EXPECT_EQ(sound->channel, 7u);
  EXPECT_EQ(sound->displayFlags, kAudioIgnoreFrequency);
  EXPECT_EQ(sound->playCount, 3);
  EXPECT_EQ(sound->endMs, 2500u);
  EXPECT_EQ(sound->fileName, "DING.WAV");
  EXPECT_EQ(sound->audioByte, 9);
  EXPECT_EQ(sound->name, "obj");
}

TEST(AudioTest, Version1TakesTheResetDefaultsAndWritesVersion2) {
  Bytes v1 = SoundHead("CFileAudio", 1).add(SoundTail());
  Bytes v2 = SoundHead("CFileAudio", 2);
  v2.u32(0).i32(0).i32(0).u8(1).u32(1).u8(0).u8(0);  // frequency .. displayKind at their defaults
  v2.add(SoundTail());
  auto sound = std::dynamic_pointer_cast<CAudio>(test::ExpectLoadsAsNewest(v1.data, v2.data));
  ASSERT_TRUE(sound);
  EXPECT_EQ(sound->audioVersion, 1);
  EXPECT_EQ(sound->channelMode, channel_mode::kMix);
  EXPECT_EQ(sound->showMode, 1);  // stored in the common record

  Bytes disc = SoundHead("CDiscAudio", 2).add(Version2Part()).add(SoundTail());
  EXPECT_TRUE(std::dynamic_pointer_cast<CDiscAudio>(test::ExpectLoadsAsNewest(disc.data, disc.data)));
}

TEST(AudioTest, BadVersionsAndDisplayBlocksFailTheLoad) {
  for (uint16_t version : {0, 3}) {
    Bytes b = SoundHead("CFileAudio", version).add(Version2Part()).add(SoundTail());
    EXPECT_EQ(test::LoadFailure(b.data), CArchiveException::badSchema) << version;
  }
  // The display block's size is not stored: the load stops there instead of
  // reading the block as the fields that follow it.
  Bytes b = SoundHead("CFileAudio", 2).add(Version2Part(kAudioHasDisplayBlock)).add(SoundTail());
  std::string detail;
  EXPECT_EQ(test::LoadFailure(b.data, &detail), CArchiveException::badSchema);
  EXPECT_NE(detail.find("displayData"), std::string::npos) << detail;

  CFileAudio sound;
  sound.displayKind = kAudioHasDisplayBlock;
  EXPECT_THROW(test::StoreObject(sound), CArchiveException);
}

TEST(AudioTest, ResetDefaults) {
  CFileAudio sound;
  sound.playCount = 9;
  sound.channel = 4;
  sound.Reset();
  EXPECT_EQ(sound.showMode, 3);
  EXPECT_EQ(sound.ownThread, 1);
  EXPECT_EQ(sound.playCount, 1);
  EXPECT_EQ(sound.audioByte, 1);
  EXPECT_EQ(sound.channelMode, channel_mode::kMix);
  EXPECT_EQ(sound.channel, 1u);
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

TEST(AudioTest, AVisibleInsertsAttachedSoundIsCopiedWithIt) {
  Bytes visible = test::VisiblePartV4();
  const size_t soundAt = 9;  // version, auxOption3 and three words come first
  Bytes b;
  b.newClass("CDisplay", 1).add(test::CommonRecordV5());
  b.data.insert(b.data.end(), visible.data.begin(), visible.data.begin() + soundAt);
  b.add(SoundHead("CFileAudio", 2)).add(Version2Part()).add(SoundTail());
  b.data.insert(b.data.end(), visible.data.begin() + soundAt + 2, visible.data.end());  // past the null object
  b.u16(1).u16(0).str("A.BMP").u32(0);  // the image part
  auto display = std::dynamic_pointer_cast<CDisplay>(test::ExpectLoadsAsNewest(b.data, b.data));
  ASSERT_TRUE(display);
  auto sound = std::dynamic_pointer_cast<CFileAudio>(display->attachedSound);
  ASSERT_TRUE(sound);
  EXPECT_EQ(sound->fileName, "DING.WAV");
  auto copy = std::dynamic_pointer_cast<CDisplay>(display->Clone(false));
  ASSERT_TRUE(copy && copy->attachedSound);
  EXPECT_NE(copy->attachedSound, display->attachedSound);
  EXPECT_EQ(std::dynamic_pointer_cast<CFileAudio>(copy->attachedSound)->channel, 7u);
}

}  // namespace
}  // namespace kv
