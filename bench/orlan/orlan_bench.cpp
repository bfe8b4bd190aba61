// Orlan BASIC against Lua 5.4 and Python 3 on the same four programs
// (bench/orlan/programs): each baseline runs as a subprocess in the same
// benchmark run and reports the CPU time of its work alone, so start-up and
// other load on the machine are not counted; the counters give Orlan's CPU
// time as a ratio to each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "orlan/engine.h"

namespace {

using namespace kv::orlan;

std::string ProgramPath(const std::string& name, const char* ext) {
  return std::string(KV_SOURCE_DIR) + "/bench/orlan/programs/" + name + ext;
}

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Runs an interpreter three times; the program prints "<seconds> <result>".
double BestExternal(const char* interpreter, const std::string& path) {
  double best = -1;
  for (int run = 0; run < 3; ++run) {
    std::string cmd = std::string(interpreter) + " '" + path + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    double secs = -1;
    if (std::fscanf(p, "%lf", &secs) != 1) secs = -1;
    pclose(p);
    if (secs < 0) return -1;
    best = best < 0 ? secs : std::min(best, secs);
  }
  return best;
}

void Workload(benchmark::State& state, const std::string& name) {
  std::ifstream in(ProgramPath(name, ".bas"));
  std::stringstream source;
  source << in.rdbuf();
  Engine engine;
  std::string printed;
  LibraryBuilder b;
  b.AddSub(0, "Print", 1, 0, 1, {HostType{HostType::kString, {}}});
  std::string error;
  engine.RegisterLibrary("Bench", b.Finish(error), [&](Thread&, uint32_t, ArgBlock& a, void*) { printed = a.GetString(1); });
  auto script = engine.LoadSource(source.str(), error);
  if (!script) {
    state.SkipWithError(error.c_str());
    return;
  }
  auto thread = engine.CreateThread(script, "Main", error);
  // Orlan's figure is the mean of its iterations (the first one included);
  // each baseline's is its best of three fresh processes.
  double total = 0;
  int runs = 0;
  for (auto _ : state) {
    double t0 = CpuSeconds();
    int rc = thread->Run();
    double secs = CpuSeconds() - t0;
    if (rc != 0) state.SkipWithError("the Orlan program failed");
    state.SetIterationTime(secs);
    total += secs;
    ++runs;
  }
  double best = runs ? total / runs : 0;
  double lua = BestExternal("lua5.4", ProgramPath(name, ".lua"));
  double py = BestExternal("python3", ProgramPath(name, ".py"));
  state.counters["orlan_ms"] = best * 1000;
  if (lua > 0) {
    state.counters["lua_ms"] = lua * 1000;
    state.counters["vs_lua"] = best / lua;
  }
  if (py > 0) {
    state.counters["python_ms"] = py * 1000;
    state.counters["vs_python"] = best / py;
  }
  state.SetLabel(printed);
}

// A host call against a call of an empty Sub of the script: what the
// dispatch costs (argument copies, the script's lock let go and taken again).
void HostCall(benchmark::State& state) {
  Engine engine;
  LibraryBuilder b;
  const HostType kLong{HostType::kLong, {}};
  b.AddFunction(0, "Echo", 1, kLong, 1, 1, {kLong});
  std::string error;
  engine.RegisterLibrary("Bench", b.Finish(error), [](Thread&, uint32_t, ArgBlock& a, void*) { a.SetLong(0, a.GetLong(1)); });
  auto script = engine.LoadSource(
      "Function Same(x As Long) As Long\nSame = x\nEnd Function\n"
      "Sub Host()\nDim i As Long, s As Long\nFor i = 1 To 1000000\ns = Echo(i)\nNext\nEnd Sub\n"
      "Sub Own()\nDim i As Long, s As Long\nFor i = 1 To 1000000\ns = Same(i)\nNext\nEnd Sub\n",
      error);
  if (!script) {
    state.SkipWithError(error.c_str());
    return;
  }
  auto host = engine.CreateThread(script, "Host", error);
  auto own = engine.CreateThread(script, "Own", error);
  double hostSecs = 0, ownSecs = 0;
  for (auto _ : state) {
    double t0 = CpuSeconds();
    host->Run();
    double t1 = CpuSeconds();
    own->Run();
    double t2 = CpuSeconds();
    hostSecs += t1 - t0;
    ownSecs += t2 - t1;
    state.SetIterationTime(t1 - t0);
  }
  state.counters["host_call_ns"] = hostSecs / static_cast<double>(state.iterations()) * 1000;
  state.counters["vs_own_call"] = ownSecs > 0 ? hostSecs / ownSecs : 0;
}

}  // namespace

BENCHMARK(HostCall)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Workload, fib27, std::string("fib"))->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Workload, long_loop_10M, std::string("loop"))->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Workload, concat_1MB, std::string("concat"))->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Workload, bubble_5000, std::string("bubble"))->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
