// The cost of calling an extension: a plain call with four 32-bit integer
// entries from variables and its result written back, against calling the
// same procedure directly; and a callback reading a variable (kv_GetInt4).
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

#include "engine/clock.h"
#include "engine/runner.h"
#include "engine/var.h"
#include "ext/dll_insert.h"
#include "ext/extension_call.h"
#include "ext/extension_callbacks.h"
#include "ext/extension_library.h"
#include "persist/document.h"
#include "platform/message_box.h"

namespace kv {
namespace {

std::shared_ptr<CVarsItem> Int4(const std::string& name, int32_t value) {
  auto item = std::make_shared<CVarsItem>();
  item->type = var_type::kInt4;
  item->name = name;
  std::memcpy(item->initialValue.data(), &value, 4);
  item->SetCurrent(value);
  return item;
}

// A run with five Int4 variables that never starts playing.
struct Run {
  Run() {
    s.clock = &clock;
    s.messages = &boxes;
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
    auto doc = std::make_shared<CStgDoc>();
    doc->defaultGroup = "G";
    auto g = std::make_shared<CVar>();
    g->groupName = "G";
    g->items = {Int4("a", 1), Int4("b", 2), Int4("c", 3), Int4("d", 4), Int4("sum", 0)};
    doc->items = {g};
    runner->Start(doc, nullptr);
    runner->Shutdown();
    runner->shuttingDown = false;
    scope = std::make_unique<ExtensionRunScope>(*runner);
    std::string error;
    library = ExtensionLibrary::Load(KV_TYPED_EXTENSION, error);
    if (!library) throw std::runtime_error(error);
  }
  Clock clock{true};
  ScriptedMessageBox boxes;
  RunnerServices s;
  std::unique_ptr<Runner> runner;
  std::unique_ptr<ExtensionRunScope> scope;
  std::shared_ptr<ExtensionLibrary> library;
};

using AddFourFn = int32_t (*)(int32_t, int32_t, int32_t, int32_t);

// The baseline: the procedure alone, called directly.
void BM_ProcedureAlone(benchmark::State& state) {
  Run run;
  auto fn = reinterpret_cast<AddFourFn>(run.library->Symbol("AddFour"));
  int32_t a = 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(fn(a, 2, 3, 4));
  }
}
BENCHMARK(BM_ProcedureAlone);

void BM_PlainCallFourIntegers(benchmark::State& state) {
  Run run;
  DllFields f;
  f.entryCount = 5;
  const char* names[] = {"sum", "a", "b", "c", "d"};
  for (int i = 0; i < 5; ++i) {
    f.typeCodes[i] = 14;
    f.texts[i] = names[i];
    f.sources[i] = 0;
  }
  auto fn = reinterpret_cast<ExtensionProcedure>(run.library->Symbol("AddFour"));
  for (auto _ : state) CallExtensionProcedure(run.runner->variables(), f, fn);
  if (run.runner->variables().GetInt32("sum") != 10) state.SkipWithError("wrong sum");
}
BENCHMARK(BM_PlainCallFourIntegers);

void BM_CallbackGetInt4(benchmark::State& state) {
  Run run;
  using GetFn = int32_t (*)(const char*);
  // Through the exported symbol, as an extension binds to it.
  auto get = reinterpret_cast<GetFn>(dlsym(RTLD_DEFAULT, "kv_GetInt4"));
  if (!get || get("c") != 3) {
    state.SkipWithError("kv_GetInt4 is not exported");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(get("c"));
}
BENCHMARK(BM_CallbackGetInt4);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
