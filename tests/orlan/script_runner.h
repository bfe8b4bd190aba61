// Test helper: compiles a program, runs one of its subroutines with a host
// library whose Print appends to the captured output, and reports the
// outcome (output, error number and line, compile errors).
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "orlan/compiler.h"
#include "orlan/engine.h"

namespace kv::orlan::testing {

struct RunOutcome {
  std::string output;  // each Print is one line ending in "\n"
  int error = 0;
  uint32_t line = 0;
  std::string errorText;
  std::vector<CompileError> compileErrors;
};

// Registers the "Test" library with Print(String) on `engine`; prints go to `out`.
void RegisterPrint(Engine& engine, std::string& out);

// `clock`, when set, is the engine's clock (a local date serial).
RunOutcome RunProgram(const std::string& source, const std::string& sub = "Main", const CompileOptions& options = {},
                      std::function<double()> clock = {});

// Waits (bounded) until `pred` holds; false when the time ran out.
template <class Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace kv::orlan::testing
