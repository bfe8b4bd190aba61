// Loading a 10,000-insert document of the common kinds, against reading the
// same file into memory: the loader's cost beyond the read itself.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "ext/register.h"
#include "persist/document.h"
#include "persist/open_project.h"

namespace kv {
namespace {

std::string MakeFile() {
  RegisterPersistClasses();
  RegisterInsertClasses();
  // A mix of the kinds a scene is made of, each with its default fields.
  const char* kinds[] = {"CDisplay", "CText", "CSDButton", "CHotSpot", "CWait", "CCalc", "CFlow", "CRectangle"};
  CStgDoc doc;
  for (int i = 0; i < 10000; ++i) doc.items.push_back(ClassRegistry::Find(kinds[i % 8])->factory());
  std::string path = std::filesystem::temp_directory_path() / ("kvbench" + std::to_string(::getpid()) + ".kvs");
  auto bytes = doc.Store();
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return path;
}

const std::string& File() {
  static std::string path = MakeFile();
  return path;
}

void BM_ReadFileIntoMemory(benchmark::State& state) {
  std::string bytes;
  for (auto _ : state) {
    ReadHostFile(File(), bytes);
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_ReadFileIntoMemory);

void BM_LoadDocument10000Inserts(benchmark::State& state) {
  std::string bytes;
  for (auto _ : state) {
    ReadHostFile(File(), bytes);
    auto doc = LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "bench.kvs");
    benchmark::DoNotOptimize(doc.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_LoadDocument10000Inserts);

}  // namespace
}  // namespace kv

BENCHMARK_MAIN();
