// Compiles arbitrary source: the compiler must report errors, never crash,
// and whatever it accepts must pass the code-block verifier and survive a
// write and read of its code block.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "orlan/codefile.h"
#include "orlan/compiler.h"

// libFuzzer's default input limit (4 KiB) stops short of the nesting depths
// that once overflowed the compiler's stack; 64 KiB reaches well past them.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<char*> args;
  static std::string maxLen = "-max_len=65536";
  for (int k = 0; k < *argc; ++k)
    if (std::string_view((*argv)[k]).starts_with("-max_len=")) return 0;
  args.assign(*argv, *argv + *argc);
  args.push_back(maxLen.data());
  args.push_back(nullptr);
  *argc += 1;
  *argv = args.data();
  return 0;
}

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
