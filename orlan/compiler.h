// Compiles Orlan BASIC source into a Program. Called by orlanc and by the
// player when it is handed .ebs source instead of compiled code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orlan/bytecode.h"

namespace kv::orlan {

struct CompileError {
  uint32_t line;
  std::string message;
};

struct CompileResult {
  Program program;
  std::vector<CompileError> errors;  // every error found, in source order
  bool ok() const { return errors.empty(); }
};

struct CompileOptions {
  // Off: no temporary register reuse, no constant folding, no fused
  // compare-and-jump. The plain code is the reference the optimised code is
  // checked against.
  bool optimize = true;
};

CompileResult Compile(std::string_view source, const CompileOptions& options = {});

}  // namespace kv::orlan
