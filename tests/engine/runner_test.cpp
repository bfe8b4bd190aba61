#include "engine/runner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "engine/bottom.h"
#include "engine/flow.h"
#include "engine/insert.h"
#include "engine/wait.h"
#include "persist/document.h"
#include "platform/message_box.h"

namespace kv {
namespace {

// A runner on the virtual clock and a project thread's context.
struct RunnerParts {
  RunnerParts() {
    RunnerServices s;
    s.clock = &clock;
    s.messages = &boxes;
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
    context = ScriptThreadContext::Create(*runner, "project", 1);
  }
  Clock clock{true};
  ScriptedMessageBox boxes;
  std::unique_ptr<Runner> runner;
  std::shared_ptr<ScriptThreadContext> context;
};

class CallStack : public ::testing::Test, protected RunnerParts {};

// Fifty nested calls fit; the fifty-first is refused and changes nothing.
TEST_F(CallStack, FiftyFramesAndNoMore) {
  std::vector<DocPtr> scripts;
  for (int i = 0; i < kMaxCallFrames; ++i) {
    scripts.push_back(std::make_shared<CStgDoc>());
    context->currentScript = scripts.back();
    context->nextPosition = i;
    context->endPosition = 100 + i;
    ASSERT_TRUE(context->PushFrame()) << "frame " << i + 1;
  }
  EXPECT_EQ(context->callDepth, kMaxCallFrames - 1);
  EXPECT_FALSE(context->PushFrame());
  EXPECT_EQ(context->callDepth, kMaxCallFrames - 1);
  // Popping with restore gives back each caller's script and positions.
  for (int i = kMaxCallFrames - 1; i >= 0; --i) {
    ASSERT_TRUE(context->PopFrame(true));
    EXPECT_EQ(context->currentScript, scripts[i]);
    EXPECT_EQ(context->nextPosition, i);
    EXPECT_EQ(context->endPosition, 100 + i);
  }
  EXPECT_FALSE(context->PopFrame(true));
  EXPECT_EQ(context->callDepth, -1);
}

TEST_F(CallStack, PopWithoutRestoreOnlyHandsTheScriptBack) {
  auto caller = std::make_shared<CStgDoc>();
  auto callee = std::make_shared<CStgDoc>();
  context->currentScript = caller;
  context->nextPosition = 3;
  ASSERT_TRUE(context->PushFrame());
  context->currentScript = callee;
  context->nextPosition = 0;
  DocPtr saved;
  ASSERT_TRUE(context->PopFrame(false, &saved));
  EXPECT_EQ(saved, caller);
  EXPECT_EQ(context->currentScript, callee);
  EXPECT_EQ(context->nextPosition, 0);
}

// An insert that always plays in a thread of its own; its copy shows (or
// fails to) as the plan says.
enum class ShowPlan { kShowsAfter50Ms, kAbortsUnshown, kNeverShows };

class CShowProbe : public CInsert {
  KV_DECLARE_CLASS(CShowProbe)
 public:
  ShowPlan plan = ShowPlan::kShowsAfter50Ms;
  std::atomic<int32_t> signal{1};
  // Shared by the insert and its copies: how often a copy showed.
  std::shared_ptr<std::atomic<int>> shows = std::make_shared<std::atomic<int>>(0);

  bool WantsOwnThread(PlayContext&) const override { return true; }
  int32_t GetShownSignal() const override { return signal; }
  void SetShownSignal(int32_t v) override { signal = v; }
  void CopyFrom(const CInsert& other) override {
    CInsert::CopyFrom(other);
    plan = static_cast<const CShowProbe&>(other).plan;
    shows = static_cast<const CShowProbe&>(other).shows;
  }
  int Run(Runner& runner, int32_t) override {
    ScriptThreadContext* own = ScriptThreadContext::Current();
    switch (plan) {
      case ShowPlan::kShowsAfter50Ms:
        runner.WaitPeriod(50, false);
        ++*shows;
        signal = 1;
        runner.clock().WakeAll();
        break;
      case ShowPlan::kAbortsUnshown:
        // As a copy that cannot play stops its own thread.
        own->abortFlag = true;
        own->port.PostKey(runner.stopKey);
        break;
      case ShowPlan::kNeverShows:
        while (!runner.IsStopRequested()) runner.clock().Wait(own->port.waiter(), kForever, [&] {
          return runner.shuttingDown.load();
        });
        break;
    }
    return 1;
  }
};

KV_IMPLEMENT_CLASS(CShowProbe, CInsert, 0)

struct ThreadStartCase {
  const char* name;
  ShowPlan plan;
  bool shutDownWhenIdle;  // a helper ends the run once nothing else can happen
  int64_t returnsAtMs;
  int copyShows;  // when the caller goes on
};

// The test's own thread is the project thread of a running player.
class OnProjectThread : protected RunnerParts {
 protected:
  OnProjectThread() {
    runner->playerRunning = true;
    ScriptThreadContext::SetCurrent(context.get());
    // Like every engine thread, the caller holds time still while it runs.
    clock.Join(context->port.waiter());
  }
  ~OnProjectThread() {
    runner->Shutdown();
    clock.Leave(context->port.waiter());
    ScriptThreadContext::SetCurrent(nullptr);
  }
};

// The project thread launches the object.
class ThreadStart : public ::testing::TestWithParam<ThreadStartCase>, protected OnProjectThread {};

// The launching thread goes on only once the copy is on the stage, and never
// waits for ever for a copy that cannot show.
TEST_P(ThreadStart, CallerWaitsForTheCopyToShowOrToEnd) {
  const ThreadStartCase& c = GetParam();
  auto insert = std::make_shared<CShowProbe>();
  insert->name = "probe";
  insert->active = 1;
  insert->plan = c.plan;
  std::thread stopper;
  if (c.shutDownWhenIdle) {
    stopper = std::thread([this] {
      for (int i = 0; i < 5000 && !clock.IsIdle(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      runner->shuttingDown = true;
      clock.WakeAll();
    });
  }
  runner->PlayInsert(insert, run_mode::kScript, play_option::kNewThread);
  if (stopper.joinable()) stopper.join();
  EXPECT_EQ(insert->shows->load(), c.copyShows);
  EXPECT_EQ(clock.NowMs(), c.returnsAtMs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ThreadStart,
    ::testing::Values(ThreadStartCase{"ShowsLater", ShowPlan::kShowsAfter50Ms, false, 50, 1},
                      ThreadStartCase{"AbortsItsOwnThread", ShowPlan::kAbortsUnshown, false, 0, 0},
                      ThreadStartCase{"RunShutsDown", ShowPlan::kNeverShows, true, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The end of a run holds whenever it comes, even before the project thread
// has begun: its start must not undo the end and play on, waiting for ever.
TEST(RunEnd, ShutdownRightAfterStartEndsTheRun) {
  std::promise<void> finished;
  std::future<void> ended = finished.get_future();
  std::thread runs([&] {
    for (int i = 0; i < 20; ++i) {
      RunnerParts parts;
      auto wait = std::make_shared<CWait>();
      wait->active = 1;
      wait->conditions = wait_condition::kStopOnly;
      auto bottom = std::make_shared<CBottom>();
      bottom->active = 1;
      auto doc = std::make_shared<CStgDoc>();
      doc->items = {wait, bottom};
      parts.runner->Start(doc, nullptr);
      parts.runner->Shutdown();
      EXPECT_TRUE(parts.runner->Ended()) << "run " << i;
    }
    finished.set_value();
  });
  if (ended.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    // The runs cannot be ended from here; report and leave.
    std::fputs("a run shut down right after its start never ended\n", stderr);
    std::_Exit(1);
  }
  runs.join();
}

// "Pause all objects." pauses what every thread plays, its copy or, when it
// has none, the insert itself; "Resume all paused objects." resumes exactly
// those, and a second pause works again.
struct PauseAllCase {
  const char* name;
  bool keepCopy;
};

class PauseAll : public ::testing::TestWithParam<PauseAllCase>, protected OnProjectThread {
 protected:
  void Command(uint16_t code) {
    auto flow = std::make_shared<CFlow>();
    flow->command = code;
    EXPECT_EQ(runner->RunGuarded(flow, run_mode::kHandler), 1) << code;
  }
};

TEST_P(PauseAll, ResumesWhatItPaused) {
  auto insert = std::make_shared<CShowProbe>();
  insert->name = "probe";
  insert->active = 1;
  insert->runState = run_state::kStarted;
  ASSERT_TRUE(runner->PlayInsert(insert, run_mode::kScript, play_option::kNewThread));
  InsertPtr copy = insert->clone.lock();
  ASSERT_TRUE(copy);
  if (!GetParam().keepCopy) insert->clone.reset();
  CInsert& played = GetParam().keepCopy ? *copy : *insert;
  for (int round = 0; round < 2; ++round) {
    Command(command::kPauseAllObjects);
    EXPECT_TRUE(played.IsPaused()) << round;
    Command(command::kResumeAllPaused);
    EXPECT_FALSE(played.IsPaused()) << round;
    EXPECT_EQ(played.runState, run_state::kStarted) << round;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, PauseAll,
                         ::testing::Values(PauseAllCase{"ThroughItsCopy", true}, PauseAllCase{"WithoutACopy", false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv
