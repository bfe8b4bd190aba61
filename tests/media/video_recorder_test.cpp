// The recorder's files read back by Debian's ffmpeg and ffprobe commands (an
// independent reader): the lossless container's pictures and sound exactly,
// frames only where the stage changed, the end, and files that cannot be
// written.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "media/capture_sink.h"
#include "media/video_recorder.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

std::string Command(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

fs::path TempFile(const std::string& name) { return fs::temp_directory_path() / ("kv_record_" + name); }

// A picture of w x h, 32 bits, whose pixels depend on `seed`.
std::vector<uint8_t> Picture(int w, int h, int seed) {
  std::vector<uint8_t> p(size_t(w) * size_t(h) * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* px = &p[(size_t(y) * size_t(w) + size_t(x)) * 4];
      px[0] = uint8_t(x * 7 + seed * 31);
      px[1] = uint8_t(y * 13 + seed);
      px[2] = uint8_t((x ^ y) * 5 + seed * 3);
      px[3] = 0xFF;
    }
  return p;
}

struct EncoderCase {
  const char* file;
  const char* encoder;  // empty: refused
};

TEST(VideoRecorder, TheExtensionChoosesTheEncoder) {
  const std::string h264 = Command("ffmpeg -hide_banner -encoders 2>/dev/null").find("libx264") != std::string::npos
                               ? "libx264"
                               : "mpeg4";
  const EncoderCase cases[] = {
      {"a.mkv", "ffv1"}, {"B.MKV", "ffv1"}, {"a.mp4", nullptr}, {"a.avi", nullptr}, {"a.mov", ""}, {"noext", ""},
  };
  for (const EncoderCase& c : cases) {
    if (c.encoder && *c.encoder == 0) {
      EXPECT_THROW(VideoRecorder::VideoEncoderFor(c.file), RecordError) << c.file;
      continue;
    }
    EXPECT_EQ(VideoRecorder::VideoEncoderFor(c.file), c.encoder ? c.encoder : h264) << c.file;
  }
}

TEST(VideoRecorder, TicksAreSixtyASecondRoundedUp) {
  EXPECT_EQ(VideoRecorder::TickMs(0), 0);
  EXPECT_EQ(VideoRecorder::TickMs(1), 17);
  EXPECT_EQ(VideoRecorder::TickMs(3), 50);
  EXPECT_EQ(VideoRecorder::TickMs(60), 1000);
  EXPECT_EQ(VideoRecorder::TickAt(16), 0);
  EXPECT_EQ(VideoRecorder::TickAt(17), 1);
  EXPECT_EQ(VideoRecorder::TickAt(1000), 60);
}

TEST(VideoRecorder, MatroskaHoldsTheChangedFramesAndTheSoundExactly) {
  const int w = 33, h = 17;  // odd sizes stay the stage's own
  const fs::path file = TempFile("exact.mkv");
  std::vector<float> sound(2 * 5000);
  for (size_t i = 0; i < sound.size(); ++i) sound[i] = float((int(i) % 200) - 100) / 150.0f;
  {
    VideoRecorder rec(file, w, h);
    const auto a = Picture(w, h, 1), b = Picture(w, h, 2), c = Picture(w, h, 3);
    rec.AddFrame(0, a.data(), w * 4);
    rec.Write(sound.data(), 3000);
    rec.AddFrame(3, b.data(), w * 4);
    rec.AddFrame(5, b.data(), w * 4);  // unchanged: no frame
    rec.AddFrame(2, c.data(), w * 4);  // a tick gone by: no frame
    rec.Write(sound.data() + 6000, 2000);
    rec.AddFrame(10, c.data(), w * 4);
    rec.Finish(500);
    EXPECT_EQ(rec.FramesWritten(), 4);  // three changes and the end
  }
  const std::string q = "'" + file.string() + "'";
  const std::string times =
      Command("ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 " + q);
  EXPECT_EQ(times, "0.000000\n0.050000\n0.167000\n0.500000\n");
  const std::string raw = Command("ffmpeg -v error -i " + q + " -map 0:v -f rawvideo -pix_fmt bgr0 -fps_mode passthrough -");
  ASSERT_EQ(raw.size(), size_t(w) * h * 4 * 4);
  const int seeds[] = {1, 2, 3, 3};
  for (int f = 0; f < 4; ++f) {
    const auto want = Picture(w, h, seeds[f]);
    for (size_t i = 0; i < want.size(); i += 4) {
      const size_t at = size_t(f) * want.size() + i;
      ASSERT_EQ(uint8_t(raw[at]), want[i]) << "frame " << f << " byte " << i;
      ASSERT_EQ(uint8_t(raw[at + 1]), want[i + 1]) << "frame " << f << " byte " << i;
      ASSERT_EQ(uint8_t(raw[at + 2]), want[i + 2]) << "frame " << f << " byte " << i;
    }
  }
  const std::string pcm = Command("ffmpeg -v error -i " + q + " -map 0:a -f s16le -");
  // Whole blocks: the sound given, then silence to the block's end.
  ASSERT_GE(pcm.size(), size_t(5000) * 4);
  for (size_t i = 0; i < 10000; ++i) {
    const int16_t got = int16_t(uint16_t(uint8_t(pcm[i * 2])) | uint16_t(uint8_t(pcm[i * 2 + 1])) << 8);
    ASSERT_EQ(got, SampleToPcm16(sound[i])) << i;
  }
  for (size_t i = 10000; i < pcm.size() / 2; ++i) ASSERT_EQ(pcm[i * 2] | pcm[i * 2 + 1], 0) << i;
  fs::remove(file);
}

TEST(VideoRecorder, LossyFilesStayWithinTheCodecsLoss) {
  const int w = 64, h = 48;
  for (const char* name : {"lossy.mp4", "lossy.avi"}) {
    const fs::path file = TempFile(name);
    // Flat blocks of colour, as stages mostly are.
    std::vector<uint8_t> p(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        uint8_t* px = &p[(size_t(y) * w + size_t(x)) * 4];
        px[0] = x < 32 ? 200 : 20, px[1] = y < 24 ? 180 : 40, px[2] = 90, px[3] = 0xFF;
      }
    {
      VideoRecorder rec(file, w, h);
      rec.AddFrame(0, p.data(), w * 4);
      rec.Finish(100);
    }
    const std::string raw =
        Command("ffmpeg -v error -i '" + file.string() + "' -map 0:v -frames:v 1 -f rawvideo -pix_fmt bgr0 -");
    ASSERT_EQ(raw.size(), p.size()) << name;
    // Away from the colour edges the codec's loss is at most 8 levels.
    for (int y : {4, 12, 36, 44})
      for (int x : {4, 20, 44, 60})
        for (int ch = 0; ch < 3; ++ch) {
          const size_t at = (size_t(y) * w + size_t(x)) * 4 + size_t(ch);
          EXPECT_NEAR(uint8_t(raw[at]), p[at], 8) << name << " " << x << "," << y;
        }
    fs::remove(file);
  }
}

TEST(VideoRecorder, AFileThatCannotBeWrittenIsRefusedAndLeavesNothing) {
  const fs::path nowhere = TempFile("no-such-folder") / "out.mkv";
  EXPECT_THROW(VideoRecorder(nowhere, 16, 16), RecordError);
  EXPECT_FALSE(fs::exists(nowhere));
  EXPECT_THROW(VideoRecorder(TempFile("bad.mov"), 16, 16), RecordError);
  EXPECT_THROW(VideoRecorder(TempFile("zero.mkv"), 0, 16), RecordError);
  // A recording never finished is no recording.
  const fs::path file = TempFile("unfinished.mkv");
  {
    VideoRecorder rec(file, 16, 16);
    const auto a = Picture(16, 16, 1);
    rec.AddFrame(0, a.data(), 64);
    EXPECT_TRUE(fs::exists(file));
  }
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace kv
