// Loads arbitrary .ebc files: the header and the code block loader must
// refuse what they cannot verify, and verified code must run without
// crashing. Each run is ended by the yield callback after a short while.
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "orlan/codefile.h"
#include "orlan/engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::orlan;
  std::span<const uint8_t> file(data, size);
  std::span<const uint8_t> block;
  if (EbcCodeBlock(file, block) != EbcStatus::Ok) return 0;
  Engine engine;
  std::string error;
  auto script = engine.LoadScript(block, error);
  if (!script) return 0;
  auto start = std::chrono::steady_clock::now();
  engine.SetYieldCallback([start](Thread& t) {
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(20)) t.Stop(true);
    return false;
  });
  for (const auto& fn : script->program().functions) {
    auto thread = engine.CreateThread(script, fn.name, error);
    if (thread) thread->Run();
  }
  return 0;
}
