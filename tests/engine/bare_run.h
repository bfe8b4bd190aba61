// A run of no player for tests that call an insert's behaviour directly: a
// runner on a virtual clock with scripted message boxes, whose context has
// no stage, sound or Orlan binding.
#pragma once

#include <memory>

#include "engine/clock.h"
#include "engine/runner.h"
#include "platform/message_box.h"

namespace kv::test {

struct BareRun {
  BareRun() {
    RunnerServices s;
    s.clock = &clock;
    s.messages = &boxes;
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
  }
  PlayContext& ctx() { return runner->Context(); }

  Clock clock{true};
  ScriptedMessageBox boxes;
  std::unique_ptr<Runner> runner;
};

}  // namespace kv::test
