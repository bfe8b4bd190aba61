// The runner's cost per insert on a counted loop of a calculation and a
// jump, beside the same loop in Orlan run by orlanc; and the player's start
// to its first idle on the demo project, beside kvtool dump of the same file.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "engine/calc.h"
#include "engine/clock.h"
#include "engine/jump.h"
#include "engine/label.h"
#include "engine/register.h"
#include "engine/runner.h"
#include "engine/var.h"
#include "persist/document.h"
#include "platform/message_box.h"

namespace {

using namespace kv;

constexpr uint32_t kPasses = 1000000;

DocPtr LoopProject() {
  auto doc = std::make_shared<CStgDoc>();
  doc->isProject = 1;
  doc->defaultGroup = "G";
  auto group = std::make_shared<CVar>();
  group->active = 1;
  group->groupName = "G";
  auto i = std::make_shared<CVarsItem>();
  i->type = var_type::kInt4;
  i->name = "i";
  group->items.push_back(i);
  auto label = std::make_shared<CLabel>();
  label->labelName = "top";
  label->active = 1;
  auto calc = std::make_shared<CCalc>();
  calc->active = 1;
  calc->operatorCode = 1;
  calc->resultName = calc->firstName = "i";
  calc->firstIsConstant = 0;
  calc->secondIsConstant = 1;
  calc->secondSlot = 1.0;
  auto jump = std::make_shared<CJump>();
  jump->active = 1;
  jump->jumpType = jump_type::kToLabel;
  jump->labelName = "top";
  jump->counted = 1;
  jump->passCounter = kPasses;
  doc->items = {group, label, calc, jump};
  return doc;
}

void BM_RunnerCountedLoop(benchmark::State& state) {
  RegisterEngineClasses();
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    DocPtr doc = LoopProject();
    Clock clock(true);
    ScriptedMessageBox boxes;
    RunnerServices services;
    services.clock = &clock;
    services.messages = &boxes;
    Runner runner(services, RuntimeFacts{});
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    runner.Start(doc, nullptr);
    while (!runner.Ended()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    runner.Shutdown();
  }
  // Each pass runs the calculation and the jump.
  const double inserts = 2.0 * kPasses * static_cast<double>(state.iterations());
  state.counters["ns_per_insert"] = seconds * 1e9 / inserts;
}
BENCHMARK(BM_RunnerCountedLoop)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

double BestWall(const std::string& command, int runs) {
  double best = 1e9;
  for (int r = 0; r < runs; ++r) {
    auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

void BM_OrlanSameLoop(benchmark::State& state) {
  const std::string cmd = std::string(KV_BINARY_DIR) + "/tools/orlanc/orlanc run " + KV_SOURCE_DIR +
                          "/bench/engine/loop.bas > /dev/null";
  double best = 0;
  for (auto _ : state) best = BestWall(cmd, 3);
  if (best < 0) state.SkipWithError("orlanc failed");
  // Two statements a pass, as the runner's two inserts.
  state.counters["ns_per_statement"] = best * 1e9 / (2.0 * kPasses);
}
BENCHMARK(BM_OrlanSameLoop)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_DemoStartToIdle(benchmark::State& state) {
  const std::string bin = KV_BINARY_DIR;
  const std::string demo = bin + "/demo/demo.kvp";
  const std::string player = bin + "/shell/korvel --headless --virtual-clock --until-idle " + demo + " > /dev/null 2>&1";
  const std::string dump = bin + "/tools/kvtool/kvtool dump " + demo + " > /dev/null";
  double playerSeconds = 0, dumpSeconds = 0;
  for (auto _ : state) {
    playerSeconds = BestWall(player, 5);
    dumpSeconds = BestWall(dump, 5);
  }
  if (playerSeconds < 0 || dumpSeconds < 0) state.SkipWithError("korvel or kvtool failed");
  state.counters["player_ms"] = playerSeconds * 1e3;
  state.counters["dump_ms"] = dumpSeconds * 1e3;
  state.counters["ratio_to_dump"] = playerSeconds / dumpSeconds;
}
BENCHMARK(BM_DemoStartToIdle)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
