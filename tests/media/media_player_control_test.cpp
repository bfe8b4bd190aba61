// The media player control on a virtual clock, driven only through dispatch
// ids: opening, the play states, the selection, pause and resume, volume on
// the sound voice, the sound-only mode, and the failures its host reports.
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "media/engine_movie_clock.h"
#include "media/media_player_control.h"
#include "media/mixer.h"

namespace kv {
namespace {

namespace id = mplayer_dispid;

const std::string kData = std::string(KV_SOURCE_DIR) + "/tests/data/movies/";

class MediaPlayerControlTest : public testing::Test {
 protected:
  MediaPlayerControlTest() { clock.Join(me); }
  ~MediaPlayerControlTest() override {
    control.reset();
    clock.Leave(me);
  }

  void Make(bool showPicture = true, Mixer* mixer = nullptr) {
    MediaPlayerSite site;
    site.makeClock = [this] { return std::make_unique<EngineMovieClock>(clock); };
    site.audio.mixer = mixer;
    site.resolve = [](const std::string& name) -> std::optional<std::filesystem::path> {
      return std::filesystem::path(kData + name);
    };
    site.width = 128;
    site.height = 32;
    site.showPicture = showPicture;
    site.present = [this](const MoviePicture& p, int64_t frame, const std::function<bool()>&) {
      std::lock_guard lock(mutex);
      shown.push_back(frame);
      lastWidth = p.width;
      return true;
    };
    site.notify = [this](const char* op, int64_t frame) {
      std::lock_guard lock(mutex);
      told.push_back(std::to_string(clock.NowMs()) + " " + op + " " + std::to_string(frame));
    };
    control = std::make_unique<MediaPlayerControl>(std::move(site));
  }

  void AdvanceTo(int64_t t) {
    while (clock.NowMs() < t) clock.Wait(me, t);
    clock.WaitQuiet(me);
  }

  int32_t State() {
    DispatchValue v;
    EXPECT_EQ(control->Get(id::kPlayState, v), DispatchStatus::kOk);
    return std::get<int32_t>(v);
  }

  double Number(int32_t dispid) {
    DispatchValue v;
    EXPECT_EQ(control->Get(dispid, v), DispatchStatus::kOk);
    return DispatchNumber(v).value_or(-1);
  }

  std::vector<std::string> Told() {
    std::lock_guard lock(mutex);
    return told;
  }

  DispatchStatus Open(const std::string& name) {
    const DispatchValue v = name;
    return control->Call(id::kOpen, {&v, 1});
  }

  Clock clock{true};
  Waiter me;
  std::unique_ptr<MediaPlayerControl> control;
  std::mutex mutex;
  std::vector<int64_t> shown;
  std::vector<std::string> told;
  int lastWidth = -1;
};

TEST_F(MediaPlayerControlTest, OpeningReadsTheDurationAndShowsTheFirstFrame) {
  Make();
  EXPECT_EQ(State(), int32_t(MediaPlayState::kClosed));
  EXPECT_EQ(Number(id::kHasMedia), 0);
  ASSERT_EQ(Open("count.avi"), DispatchStatus::kOk);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kReady));
  EXPECT_DOUBLE_EQ(Number(id::kDuration), 2.0);
  EXPECT_EQ(Number(id::kHasMedia), 1);
  EXPECT_EQ(shown, std::vector<int64_t>{0});
  EXPECT_EQ(lastWidth, 128);
  EXPECT_TRUE(Told().empty());
}

TEST_F(MediaPlayerControlTest, PlaysTheSelectionThroughPauseAndResume) {
  Make();
  ASSERT_EQ(control->Put(id::kSelectionStart, 0.5), DispatchStatus::kOk);
  ASSERT_EQ(control->Put(id::kSelectionEnd, 1.0), DispatchStatus::kOk);
  ASSERT_EQ(Open("count.avi"), DispatchStatus::kOk);
  EXPECT_EQ(shown.back(), 15);  // cued on the selection's start
  ASSERT_EQ(control->Call(id::kPlay), DispatchStatus::kOk);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kPlaying));
  AdvanceTo(200);
  ASSERT_EQ(control->Call(id::kPause), DispatchStatus::kOk);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kPaused));
  EXPECT_DOUBLE_EQ(Number(id::kPosition), 0.7);
  AdvanceTo(400);
  ASSERT_EQ(control->Call(id::kResume), DispatchStatus::kOk);
  AdvanceTo(699);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kPlaying));
  AdvanceTo(700);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kStopped));
  const std::vector<std::string> want = {"0 play 15", "200 pause 21", "400 resume 21", "700 stop 29"};
  EXPECT_EQ(Told(), want);
}

TEST_F(MediaPlayerControlTest, APlayValueStartsOpenMediaOnce) {
  Make();
  EXPECT_EQ(control->Put(id::kAutoStart, int32_t(1)), DispatchStatus::kOk);  // nothing open: nothing plays
  ASSERT_EQ(Open("count.avi"), DispatchStatus::kOk);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kReady));
  ASSERT_EQ(control->Put(id::kAutoStart, int32_t(1)), DispatchStatus::kOk);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kPlaying));
  // Cleared, it lets the play under way go on; put again, it does not restart it.
  ASSERT_EQ(control->Put(id::kAutoStart, int32_t(0)), DispatchStatus::kOk);
  ASSERT_EQ(control->Put(id::kAutoStart, true), DispatchStatus::kOk);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kPlaying));
  AdvanceTo(100);
  // A new file by name stops the old one and waits to be played.
  ASSERT_EQ(control->Put(id::kFileName, std::string("count.mkv")), DispatchStatus::kOk);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kReady));
  DispatchValue name;
  ASSERT_EQ(control->Get(id::kFileName, name), DispatchStatus::kOk);
  EXPECT_EQ(std::get<std::string>(name), "count.mkv");
  const std::vector<std::string> want = {"0 play 0", "100 stop 3"};
  EXPECT_EQ(Told(), want);
}

TEST_F(MediaPlayerControlTest, StopIsToldOnceAndLeavesTheStateStopped) {
  Make();
  ASSERT_EQ(Open("count.avi"), DispatchStatus::kOk);
  ASSERT_EQ(control->Call(id::kPlay), DispatchStatus::kOk);
  AdvanceTo(300);
  ASSERT_EQ(control->Call(id::kStop), DispatchStatus::kOk);
  ASSERT_EQ(control->Call(id::kStop), DispatchStatus::kOk);
  AdvanceTo(2500);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kStopped));
  const std::vector<std::string> want = {"0 play 0", "300 stop 9"};
  EXPECT_EQ(Told(), want);
}

struct FailureCase {
  const char* file;
  const char* reason;
};

TEST_F(MediaPlayerControlTest, FilesThatCannotPlayGiveTheirReason) {
  const FailureCase cases[] = {
      {"nothing-here.avi", "nothing-here.avi: not found"},
      {"empty.avi", "empty.avi: it holds no frames"},
      {"http://127.0.0.1:9/a.avi", "http://127.0.0.1:9/a.avi: an address, not a file"},
      {"", "no file is named"},
  };
  for (const FailureCase& c : cases) {
    Make();
    EXPECT_EQ(Open(c.file), DispatchStatus::kFailed) << c.file;
    EXPECT_EQ(control->ErrorText(), c.reason);
    EXPECT_EQ(State(), int32_t(MediaPlayState::kClosed));
    EXPECT_EQ(Number(id::kHasMedia), 0);
    EXPECT_EQ(control->Call(id::kPlay), DispatchStatus::kFailed);
    EXPECT_TRUE(Told().empty());
  }
}

TEST_F(MediaPlayerControlTest, DispatchRefusesUnknownIdsAndWrongTypes) {
  Make();
  EXPECT_EQ(control->Put(4242, int32_t(1)), DispatchStatus::kUnknownMember);
  DispatchValue v;
  EXPECT_EQ(control->Get(4242, v), DispatchStatus::kUnknownMember);
  EXPECT_EQ(control->Call(4242), DispatchStatus::kUnknownMember);
  EXPECT_EQ(control->Put(id::kFileName, int32_t(3)), DispatchStatus::kTypeMismatch);
  EXPECT_EQ(control->Put(id::kVolume, std::string("loud")), DispatchStatus::kTypeMismatch);
  EXPECT_EQ(control->Call(id::kOpen), DispatchStatus::kTypeMismatch);
  // A number that is none cannot become a level or a time.
  for (int32_t dispid : {id::kVolume, id::kSelectionStart, id::kAutoStart, int32_t(1032)})
    for (double bad : {std::nan(""), HUGE_VAL, -HUGE_VAL})
      EXPECT_EQ(control->Put(dispid, bad), DispatchStatus::kTypeMismatch) << dispid << " " << bad;
  EXPECT_EQ(Number(id::kVolume), kVolumeFull);
  // Display settings are kept and read back.
  EXPECT_EQ(control->Put(1032, int32_t(3)), DispatchStatus::kOk);
  EXPECT_EQ(Number(1032), 3);
  EXPECT_EQ(Number(1107), 0);
}

TEST_F(MediaPlayerControlTest, SoundOnlyDecodesNoPictureAndPlaysAtTheVolume) {
  Mixer mixer;
  Make(/*showPicture=*/false, &mixer);
  ASSERT_EQ(control->Put(id::kVolume, int32_t(-600)), DispatchStatus::kOk);
  ASSERT_EQ(Open("count.avi"), DispatchStatus::kOk);
  EXPECT_TRUE(shown.empty());
  ASSERT_EQ(control->Call(id::kPlay), DispatchStatus::kOk);
  // The sine's peak (an eighth of full scale) at -6 dB.
  struct Peak : AudioSink {
    float peak = 0;
    void Write(const float* s, size_t frames) override {
      for (size_t i = 0; i < frames * 2; ++i) peak = std::max(peak, std::abs(s[i]));
    }
  } sink;
  mixer.RenderTo(4410, sink);
  EXPECT_NEAR(sink.peak, 0.125 * std::pow(10.0, -600 / 2000.0), 1e-3);
  AdvanceTo(2000);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kStopped));
  // The length is the sound track's (one second), not the picture's.
  const std::vector<std::string> want = {"0 play 0", "1000 stop 0"};
  EXPECT_EQ(Told(), want);
  control.reset();  // its voice goes before the mixer
}

TEST_F(MediaPlayerControlTest, ASoundFileWithoutPicturePlaysForItsLength) {
  Make();
  ASSERT_EQ(Open("tone_only.avi"), DispatchStatus::kOk);
  EXPECT_DOUBLE_EQ(Number(id::kDuration), 0.2);
  EXPECT_TRUE(shown.empty());
  ASSERT_EQ(control->Call(id::kPlay), DispatchStatus::kOk);
  AdvanceTo(199);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kPlaying));
  AdvanceTo(200);
  EXPECT_EQ(State(), int32_t(MediaPlayState::kStopped));
}

}  // namespace
}  // namespace kv
