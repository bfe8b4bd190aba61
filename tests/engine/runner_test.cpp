#include "engine/runner.h"

#include <gtest/gtest.h>

#include "persist/document.h"
#include "platform/message_box.h"

namespace kv {
namespace {

class CallStack : public ::testing::Test {
 protected:
  CallStack() {
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

}  // namespace
}  // namespace kv
