// Loading a 10,000-insert document, against reading the same file into
// memory: the loader's cost beyond the read itself.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "persist/document.h"
#include "persist/open_project.h"

namespace kv {
namespace {

// An insert-sized record: a version word, a name, a comment, a rectangle and
// a few numbers, about what the common insert record stores.
class BenchInsert : public CObject {
  KV_DECLARE_CLASS(BenchInsert)
 public:
  std::string name = "Picture 0001", comment = "shown on entry";
  int32_t rect[4] = {10, 20, 330, 260};
  uint32_t layer = 5, delay = 250, flags = 3;
  void Serialize(Archive& ar) override {
    ar.Version(5, 1, "bench insert");
    ar.Io(name);
    ar.Io(comment);
    for (int32_t& v : rect) ar.Io(v);
    ar.Io(layer);
    ar.Io(delay);
    ar.Io(flags);
  }
};
KV_IMPLEMENT_CLASS(BenchInsert, CObject, 0)

std::string MakeFile() {
  RegisterPersistClasses();
  BenchInsert::StaticClass();
  CStgDoc doc;
  for (int i = 0; i < 10000; ++i) {
    auto insert = std::make_shared<BenchInsert>();
    insert->name = "Insert " + std::to_string(i);
    doc.items.push_back(insert);
  }
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
