// The movie decoder against the tests' counting movies (tests/data/movies,
// made by make_movies.sh): the frame number written into the pixels must be
// the one due at each time, in every container, and hostile files must be
// refused with the reason, never crash or allocate without bound.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "media/movie_decoder.h"

namespace kv {
namespace {

const std::string kMovies = std::string(KV_SOURCE_DIR) + "/tests/data/movies/";

uint32_t PixelAt(const MoviePicture& p, int x, int y) {
  const uint8_t* q = p.bits.data() + size_t(y) * size_t(p.Stride()) + size_t(x) * 4;
  return uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24;
}

// The frame number the pattern carries: eight 16-pixel columns, most
// significant bit first, read at the middle of each column of the top half.
int ReadCount(const MoviePicture& p) {
  int n = 0;
  for (int b = 0; b < 8; ++b) {
    const int x = (16 * b + 8) * p.width / 128, y = 8 * p.height / 32;
    const uint32_t px = PixelAt(p, x, y);
    n = n * 2 + (((px >> 8) & 0xFF) > 128 ? 1 : 0);
  }
  return n;
}

struct ContainerCase {
  const char* file;
  const char* format;  // FFmpeg's name of the container, as it starts
  bool wholeMs;        // the container keeps times in whole milliseconds
};

// The frame due at `t`: the last whose stored time is not after it.
int64_t DueFrame(int64_t t, bool wholeMs) {
  int64_t k = 0;
  while (k + 1 < 60 && (wholeMs ? std::llround((k + 1) * 1000.0 / 30) : MovieMsOfFrame(k + 1, 30)) <= t) ++k;
  return k;
}

class CountingMovie : public ::testing::TestWithParam<ContainerCase> {};

TEST_P(CountingMovie, ShowsTheFrameDueAtEachTime) {
  auto d = MovieDecoder::OpenFile(kMovies + GetParam().file);
  const MovieInfo& info = d->Info();
  EXPECT_EQ(info.width, 128);
  EXPECT_EQ(info.height, 32);
  EXPECT_DOUBLE_EQ(info.frameRate, 30.0);
  EXPECT_EQ(info.lengthMs, 2000);
  EXPECT_EQ(info.frameCount, 60);
  EXPECT_EQ(info.format.rfind(GetParam().format, 0), 0u) << info.format;
  // Frame k starts at k x 33.3 ms: frame 1 at 34, frame 3 at exactly 100.
  for (int64_t t : {0, 33, 34, 99, 100, 101, 500, 1001, 1966, 1967, 1999, 5000}) {
    d->AdvanceTo(t);
    const int64_t due = DueFrame(t, GetParam().wholeMs);
    EXPECT_EQ(d->CurrentFrame(), due) << "t=" << t;
    EXPECT_EQ(ReadCount(d->Current()), due) << "t=" << t;
    EXPECT_LE(d->CurrentMs(), t);
    if (d->NextMs() != MovieDecoder::kNoNext) {
      EXPECT_GT(d->NextMs(), t);
    }
  }
  EXPECT_EQ(d->NextMs(), MovieDecoder::kNoNext);
  // Back to an earlier time, and a red bottom half in the stage's format.
  d->SeekTo(250);
  EXPECT_EQ(d->CurrentFrame(), 7);
  EXPECT_EQ(ReadCount(d->Current()), 7);
  const uint32_t red = PixelAt(d->Current(), 64, 24);
  EXPECT_EQ(red >> 24, 0xFFu);
  EXPECT_GE((red >> 16) & 0xFF, 240u);
  EXPECT_LE((red >> 8) & 0xFF, 12u);
  EXPECT_LE(red & 0xFF, 12u);
}

INSTANTIATE_TEST_SUITE_P(Containers, CountingMovie,
                         ::testing::Values(ContainerCase{"count.avi", "avi", false}, ContainerCase{"count.mp4", "mov", false},
                                           ContainerCase{"count.mov", "mov", false},
                                           ContainerCase{"count.mkv", "matroska", true}),
                         [](const auto& info) {
                           std::string n = info.param.file;
                           for (char& c : n)
                             if (c == '.') c = '_';
                           return n;
                         });

TEST(MovieDecoderTest, ConvertsOnceAtTheSpriteSizeAndFormat) {
  auto d = MovieDecoder::OpenFile(kMovies + "count.avi");
  d->SetOutput(256, 64, MoviePixels::kXrgb32);
  d->AdvanceTo(1000);
  EXPECT_EQ(d->Current().width, 256);
  EXPECT_EQ(ReadCount(d->Current()), 30);
  d->SetOutput(64, 16, MoviePixels::kRgb565);
  const MoviePicture& p = d->Current();
  ASSERT_EQ(p.bits.size(), size_t(64 * 16 * 2));
  const uint16_t red = uint16_t(p.bits[(12 * 64 + 32) * 2] | p.bits[(12 * 64 + 32) * 2 + 1] << 8);
  EXPECT_GE(red >> 11, 29);
  EXPECT_LE((red >> 5) & 0x3F, 3);
  // Column 3 of 8 (bit 16) is white in frame 30 = 0b00011110.
  const uint16_t white = uint16_t(p.bits[(4 * 64 + 28) * 2] | p.bits[(4 * 64 + 28) * 2 + 1] << 8);
  EXPECT_GE((white >> 5) & 0x3F, 60);
}

TEST(MovieDecoderTest, SoundIsTheToneAtItsOwnTime) {
  auto d = MovieDecoder::OpenFile(kMovies + "count.avi");
  ASSERT_TRUE(d->Info().hasAudio);
  auto sound = d->Sound();
  ASSERT_NE(sound, nullptr);
  EXPECT_EQ(sound->channels, 1);
  EXPECT_EQ(sound->sampleRate, 44100u);
  EXPECT_EQ(sound->Frames(), 44100u);
  // 441 Hz at an eighth of full scale, 16-bit: each sample within one step of the sine.
  for (size_t n : {0, 1, 25, 50, 75, 1234, 44099}) {
    const double want = 0.125 * std::sin(2 * M_PI * double(n) / 100.0);
    EXPECT_NEAR(sound->samples[n], want, 1.5 / 32768) << n;
  }
  EXPECT_EQ(MovieDecoder::OpenFile(kMovies + "count.mkv")->Sound(), nullptr);
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

struct BadCase {
  const char* name;
  std::vector<uint8_t> bytes;
  MovieError::Kind kind;
  const char* reason;  // a part of the message
};

TEST(MovieDecoderTest, RefusesBadInputWithItsReason) {
  std::vector<uint8_t> huge = Text("YUV4MPEG2 W100000 H100000 F30:1 Ip A1:1 C420jpeg\nFRAME\n");
  huge.resize(huge.size() + 4096, 0x80);
  std::vector<uint8_t> wide = Text("YUV4MPEG2 W9000 H16 F30:1 Ip A1:1 C420jpeg\nFRAME\n");
  wide.resize(wide.size() + 4096, 0x80);
  std::vector<uint8_t> noise(20000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t(i * 2654435761u >> 13);
  const std::vector<BadCase> cases = {
      {"empty", {}, MovieError::Kind::kUnreadable, "not a movie"},
      {"noise", noise, MovieError::Kind::kUnreadable, "not a movie"},
      // The demuxer itself refuses this one before any frame exists.
      {"100000 a side", huge, MovieError::Kind::kUnreadable, "not a movie"},
      {"9000 wide", wide, MovieError::Kind::kTooLarge, "9000 x 16"},
      {"sound only", FileBytes(kMovies + "tone_only.avi"), MovieError::Kind::kNoVideo, "no video"},
      {"no frames", FileBytes(kMovies + "empty.avi"), MovieError::Kind::kNoFrames, "no frames"},
      // A playlist names other files, which are never opened.
      {"playlist", Text("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\ncount.avi\n#EXT-X-ENDLIST\n"),
       MovieError::Kind::kUnreadable, ""},
  };
  for (const BadCase& c : cases) {
    try {
      MovieDecoder::OpenBytes(c.bytes);
      ADD_FAILURE() << c.name << " opened";
    } catch (const MovieError& e) {
      EXPECT_EQ(int(e.kind()), int(c.kind)) << c.name << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << c.name << ": " << e.what();
    }
  }
}

TEST(MovieDecoderTest, FileNamesThatAreNoFiles) {
  for (const std::string& name : {kMovies + "missing.avi", std::string("http://example.com/count.avi"), kMovies}) {
    try {
      MovieDecoder::OpenFile(name);
      ADD_FAILURE() << name << " opened";
    } catch (const MovieError& e) {
      EXPECT_EQ(int(e.kind()), int(MovieError::Kind::kNotFound)) << name;
    }
  }
}

TEST(MovieDecoderTest, TruncatedFilePlaysWhatItHolds) {
  // 20,000 bytes of the AVI hold its headers and the first frames only.
  auto d = MovieDecoder::OpenFile(kMovies + "truncated.avi");
  EXPECT_EQ(d->Info().frameCount, 60);  // as the header claims
  d->AdvanceTo(2000);
  EXPECT_LT(d->CurrentFrame(), 60);
  EXPECT_EQ(ReadCount(d->Current()), d->CurrentFrame());
  EXPECT_EQ(d->NextMs(), MovieDecoder::kNoNext);
}

struct TimeCase {
  int64_t ms;
  double rate;
  int64_t frame;
};

TEST(MovieDecoderTest, FramesAndTimes) {
  const TimeCase cases[] = {{0, 30, 0},     {33, 30, 0},       {34, 30, 1},     {100, 30, 3},
                            {999, 30, 29},  {1000, 30, 30},    {40, 25, 1},     {39, 25, 0},
                            {1002, 29.97, 30}, {1001, 29.97, 29}, {-5, 30, 0}};
  for (const TimeCase& c : cases) {
    EXPECT_EQ(MovieFrameAt(c.ms, c.rate), c.frame) << c.ms << " at " << c.rate;
    if (c.ms >= 0) {
      EXPECT_LE(MovieMsOfFrame(c.frame, c.rate), c.ms) << c.ms;
    }
    EXPECT_GT(MovieMsOfFrame(c.frame + 1, c.rate), std::max<int64_t>(0, c.ms)) << c.ms;
  }
}

}  // namespace
}  // namespace kv
