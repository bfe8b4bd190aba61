// The cost of a builtin call from Orlan: a loop calling kvGetInt4 on a
// project variable against the same loop calling an empty Orlan Sub, both
// run through the player's binding in one benchmark run. The counter
// "ratio" is the builtin call's time as a multiple of the empty call's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <thread>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

#include "engine/clock.h"
#include "engine/runner.h"
#include "engine/var.h"
#include "ext/basic_insert.h"
#include "ext/orlan_binding.h"
#include "ext/register.h"
#include "orlan/engine.h"
#include "persist/document.h"
#include "platform/message_box.h"

namespace {

using namespace kv;

constexpr const char* kSource =
    "Sub nothing\nEnd Sub\n"
    "Sub emptyCalls(n As Long)\n  Dim i As Long\n  For i = 1 To n\n    nothing\n  Next\nEnd Sub\n"
    "Sub builtinCalls(n As Long)\n  Dim i As Long, x As Long\n  For i = 1 To n\n    x = kvGetInt4(\"v\")\n  Next\nEnd Sub\n"
    "Sub noopCalls(n As Long)\n  Dim i As Long\n  For i = 1 To n\n    kvSaveProjectScript\n  Next\nEnd Sub\n";

// CPU time of this thread, so other load on the machine is not counted.
double CpuNs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e9 + static_cast<double>(ts.tv_nsec);
}

// A runner with a scripted message box, on the virtual or the real clock.
struct BenchRun {
  explicit BenchRun(bool virtualClock) : clock(virtualClock) {
    RegisterInsertClasses();
    RunnerServices s;
    s.clock = &clock;
    s.messages = &boxes;
    s.resolveFile = [](const std::string& name) { return name; };
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
  }
  Clock clock;
  ScriptedMessageBox boxes;
  std::unique_ptr<Runner> runner;
};

// An Orlan insert holding `source`, loaded through the binding; null when it
// does not load.
std::shared_ptr<CBasic> LoadSource(OrlanBinding& binding, const std::string& source, const std::string& stem) {
  const std::string path =
      std::filesystem::temp_directory_path() / (stem + std::to_string(::getpid()) + ".ebs");
  std::ofstream(path) << source;
  auto basic = std::make_shared<CBasic>();
  basic->Reset();
  basic->scriptPath = path;
  const bool loaded = binding.LoadCode(*basic);
  std::filesystem::remove(path);
  return loaded ? basic : nullptr;
}

void BuiltinCallRatio(benchmark::State& state) {
  BenchRun run(true);
  Runner& runner = *run.runner;
  ScriptedMessageBox& boxes = run.boxes;
  // A project with one Long variable; the run is started and stopped only
  // to compute the variable range, then the store answers as in a run.
  auto doc = std::make_shared<CStgDoc>();
  auto group = std::make_shared<CVar>();
  group->groupName = "G";
  auto item = std::make_shared<CVarsItem>();
  item->type = var_type::kInt4;
  item->name = "v";
  group->items.push_back(item);
  doc->items = {group};
  doc->defaultGroup = "G";
  runner.Start(doc, nullptr);
  runner.Shutdown();
  runner.shuttingDown = false;
  OrlanBinding binding(runner);
  runner.SetOrlan(&binding);
  runner.Context().orlan = &binding;
  if (!binding.Initialize()) {
    state.SkipWithError("the binding did not initialise");
    return;
  }
  auto basic = LoadSource(binding, kSource, "kv_orlan_bench_");
  if (!basic) {
    state.SkipWithError("the script did not load");
    return;
  }
  const int32_t n = static_cast<int32_t>(state.range(0));
  const orlan::Value args[] = {orlan::Value::Lng(n)};
  double emptyNs = 0, builtinNs = 0, noopNs = 0;
  for (auto _ : state) {
    const double t0 = CpuNs();
    binding.RunSubroutine(*basic, "emptyCalls", args);
    const double t1 = CpuNs();
    binding.RunSubroutine(*basic, "builtinCalls", args);
    const double t2 = CpuNs();
    binding.RunSubroutine(*basic, "noopCalls", args);
    const double t3 = CpuNs();
    emptyNs += t1 - t0;
    builtinNs += t2 - t1;
    noopNs += t3 - t2;
  }
  const double calls = static_cast<double>(n) * static_cast<double>(state.iterations());
  state.counters["empty_ns_per_call"] = emptyNs / calls;
  state.counters["builtin_ns_per_call"] = builtinNs / calls;
  // A builtin that does nothing: the cost of the call itself.
  state.counters["noop_builtin_ns_per_call"] = noopNs / calls;
  state.counters["ratio"] = builtinNs / emptyNs;
  if (!boxes.shown().empty()) state.SkipWithError(boxes.shown().front().text.c_str());
}

BENCHMARK(BuiltinCallRatio)->Arg(200000)->Unit(benchmark::kMillisecond);

// How long a script looping without end takes to stop after the stop key
// reaches its thread, on the real clock (the target is under 250 ms).
void StopKeyLatency(benchmark::State& state) {
  BenchRun run(false);
  Runner& runner = *run.runner;
  OrlanBinding binding(runner);
  runner.SetOrlan(&binding);
  runner.Context().orlan = &binding;
  if (!binding.Initialize()) {
    state.SkipWithError("the binding did not initialise");
    return;
  }
  auto basic = LoadSource(binding, "Sub main\n  Dim n As Long\n  Do\n    n = n + 1\n  Loop\nEnd Sub\n", "kv_orlan_stop_");
  if (!basic) {
    state.SkipWithError("the script did not load");
    return;
  }
  auto ctx = ScriptThreadContext::Create(runner, "bench", 1);
  ScriptThreadContext::SetCurrent(ctx.get());
  double worstMs = 0, totalMs = 0;
  for (auto _ : state) {
    std::chrono::steady_clock::time_point posted;
    std::thread key([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      posted = std::chrono::steady_clock::now();
      ctx->port.PostKey(runner.stopKey);
    });
    binding.RunSubroutine(*basic, "main");
    const auto ended = std::chrono::steady_clock::now();
    key.join();
    const double ms = std::chrono::duration<double, std::milli>(ended - posted).count();
    worstMs = std::max(worstMs, ms);
    totalMs += ms;
  }
  ScriptThreadContext::SetCurrent(nullptr);
  state.counters["stop_ms_mean"] = totalMs / static_cast<double>(state.iterations());
  state.counters["stop_ms_worst"] = worstMs;
}

BENCHMARK(StopKeyLatency)->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
