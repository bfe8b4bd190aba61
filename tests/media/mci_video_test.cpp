// Digital video through MCI command strings, on a virtual clock that the
// test moves: positions, pauses, ends, notifications, window placement and
// the sound of the counting movie (tests/data/movies).
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "media/engine_movie_clock.h"
#include "media/mci_devices.h"
#include "media/mci_errors.h"
#include "tests/media/media_test_util.h"

namespace kv {
namespace {

const std::string kMovies = std::string(KV_SOURCE_DIR) + "/tests/data/movies/";

class MciVideo : public testing::Test {
 protected:
  MciVideo() {
    clock.Join(me);
    MciConfig config;
    config.movieClock = [this] { return std::make_unique<EngineMovieClock>(clock); };
    config.wait = [this](int64_t ms, const std::function<bool()>&) { Advance(ms); };
    mci = std::make_unique<MciSystem>(&mixer, config);
  }
  ~MciVideo() override {
    mci.reset();
    clock.Leave(me);
  }

  // Lets `ms` of virtual time pass; the movies' threads run meanwhile.
  void Advance(int64_t ms) {
    const int64_t to = clock.NowMs() + ms;
    while (clock.NowMs() < to) clock.Wait(me, to);
    clock.WaitQuiet(me);  // what was due at that time has run
    mixer.RenderTo(Mixer::FrameAtMs(clock.NowMs()), sink);
  }

  struct Step {
    int64_t advanceMs;  // before the command
    std::string command;
    uint32_t error;
    const char* ret;  // nullptr: not compared
  };

  void Play(const std::vector<Step>& steps) {
    for (const Step& s : steps) {
      if (s.advanceMs) Advance(s.advanceMs);
      std::string command = s.command;
      if (auto at = command.find('$'); at != std::string::npos) command.replace(at, 1, kMovies);
      std::string ret;
      EXPECT_EQ(mci->SendString(command, &ret), s.error) << s.command << " at " << clock.NowMs();
      if (s.ret) {
        EXPECT_EQ(ret, s.ret) << s.command << " at " << clock.NowMs();
      }
    }
  }

  Clock clock{true};
  Waiter me;
  Mixer mixer;
  test::MemorySink sink;
  std::unique_ptr<MciSystem> mci;
};

TEST_F(MciVideo, PlaysPausesAndEndsOnTheClock) {
  Play({
      {0, "open $count.avi alias v", 0, "1"},
      {0, "status v length", 0, "2000"},
      {0, "set v time format frames", 0, ""},
      {0, "status v time format", 0, "frames"},
      {0, "status v length", 0, "60"},
      {0, "status v mode", 0, "stopped"},
      {0, "play v from 30 to 45", 0, ""},
      {0, "status v mode", 0, "playing"},
      {100, "status v position", 0, "33"},
      {0, "pause v", 0, ""},
      {200, "status v position", 0, "33"},
      {0, "status v mode", 0, "paused"},
      {0, "play v", 0, ""},  // a paused device resumes
      {367, "status v position", 0, "44"},
      {100, "status v mode", 0, "stopped"},
      {0, "status v position", 0, "45"},
      {0, "seek v to 10", 0, ""},
      {0, "status v position", 0, "10"},
      {0, "seek v to end", 0, ""},
      {0, "status v position", 0, "60"},
      {0, "set v time format ms", 0, ""},
      {0, "play v from 1900 wait", 0, ""},
      {0, "status v mode", 0, "stopped"},
      {0, "status v position", 0, "2000"},
      {0, "close v", 0, ""},
  });
}

TEST_F(MciVideo, QueriesAndWindowPlacement) {
  Play({
      {0, "open $count.mp4 alias m", 0, nullptr},
      {0, "capability m device type", 0, "digitalvideo"},
      {0, "capability m has video", 0, "true"},
      {0, "capability m has audio", 0, "false"},
      {0, "capability m can record", 0, "false"},
      {0, "status m frame rate", 0, "30000"},
      {0, "where m source", 0, "0 0 128 32"},
      {0, "where m destination", 0, "0 0 128 32"},
      {0, "put m destination at 10 20 64 16", 0, ""},
      {0, "where m destination", 0, "10 20 64 16"},
      {0, "put m destination at 10 20", mci_err::kMissingStringArgument, nullptr},
      {0, "put m destination at 1 2 x 4", mci_err::kBadInteger, nullptr},
      {0, "put m", mci_err::kMissingParameter, nullptr},
      {0, "window m state hide", 0, ""},
      {0, "status m window visible", 0, "false"},
      {0, "window m state sideways", mci_err::kBadConstant, nullptr},
      {0, "set m time format tmsf", mci_err::kBadTimeFormat, nullptr},
      {0, "play m from 2001", mci_err::kOutOfRange, nullptr},
      {0, "play m from 1500 to 1000", mci_err::kOutOfRange, nullptr},
      {0, "status m position track 1", mci_err::kUnrecognizedKeyword, nullptr},
      {0, "open avivideo!$count.mkv alias k", 0, nullptr},
      {0, "capability k device type", 0, "digitalvideo"},
      {0, "close all", 0, ""},
  });
}

TEST_F(MciVideo, FilesThatDoNotPlay) {
  const std::string junk = ::testing::TempDir() + "junk.avi";
  std::ofstream(junk) << "RIFF....AVI LIST this is not a movie";
  Play({
      {0, "open $missing.avi", mci_err::kFileNotFound, nullptr},
      {0, "open $tone_only.avi type digitalvideo", mci_err::kInvalidFile, nullptr},
      {0, "open $empty.avi", mci_err::kInvalidFile, nullptr},
      {0, "open " + junk, mci_err::kInvalidFile, nullptr},
      {0, "open digitalvideo", mci_err::kFilenameRequired, nullptr},
  });
}

TEST_F(MciVideo, NotifiesTheEndAndTheSoundPlaysOnTheClock) {
  std::vector<uint32_t> heard;
  ASSERT_EQ(mci->SendString("open " + kMovies + "count.avi alias v"), 0u);
  ASSERT_EQ(mci->SendString("play v from 0 to 300 notify", nullptr,
                            [&](uint32_t, uint32_t code) { heard.push_back(code); }),
            0u);
  Advance(299);
  EXPECT_TRUE(heard.empty());
  Advance(1);
  EXPECT_EQ(heard, std::vector<uint32_t>{mci_notify::kSuccessful});
  // The tone: 441 Hz at an eighth of full scale from sample 0, the same on both sides.
  ASSERT_GE(sink.Frames(), 13230u);
  for (size_t n : {0, 25, 75, 1234, 13229}) {
    const double want = 4096 * std::sin(2 * M_PI * double(n) / 100.0);
    EXPECT_NEAR(sink.L(n), want, 1.5) << n;
    EXPECT_EQ(sink.L(n), sink.R(n)) << n;
  }
  // A second play supersedes the first; a stop aborts.
  ASSERT_EQ(mci->SendString("play v from 0 notify", nullptr, [&](uint32_t, uint32_t code) { heard.push_back(code); }),
            0u);
  ASSERT_EQ(mci->SendString("play v from 500 notify", nullptr, [&](uint32_t, uint32_t code) { heard.push_back(code); }),
            0u);
  ASSERT_EQ(mci->SendString("stop v"), 0u);
  EXPECT_EQ(heard, (std::vector<uint32_t>{mci_notify::kSuccessful, mci_notify::kSuperseded, mci_notify::kAborted}));
  // Muted, the movie plays on in silence.
  const size_t before = sink.Frames();
  ASSERT_EQ(mci->SendString("set v audio all off"), 0u);
  ASSERT_EQ(mci->SendString("play v from 0"), 0u);
  Advance(100);
  for (size_t f = before + 10; f < sink.Frames(); ++f) ASSERT_EQ(sink.L(f), 0) << f;
}

}  // namespace
}  // namespace kv
