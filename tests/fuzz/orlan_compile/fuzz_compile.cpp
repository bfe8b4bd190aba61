// Compiles arbitrary source: the compiler must report errors, never crash,
// and whatever it accepts must pass the code-block verifier and survive a
// write and read of its code block.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "orlan/codefile.h"
#include "orlan/compiler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view source(reinterpret_cast<const char*>(data), size);
  kv::orlan::CompileResult r = kv::orlan::Compile(source);
  if (!r.ok()) return 0;
  std::string error;
  if (!kv::orlan::VerifyProgram(r.program, error)) std::abort();
  kv::orlan::Program back;
  if (!kv::orlan::ReadCodeBlock(kv::orlan::WriteCodeBlock(r.program), back, error)) std::abort();
  return 0;
}
