#include "tests/orlan/script_runner.h"

namespace kv::orlan::testing {

void RegisterPrint(Engine& engine, std::string& out) {
  LibraryBuilder b;
  b.AddSub(0, "Print", 1, 0, 1, {HostType{HostType::kString, {}}});
  std::string error;
  engine.RegisterLibrary("Test", b.Finish(error), [&out](Thread&, uint32_t, ArgBlock& args, void*) {
    out += args.Count() ? args.GetString(1) : std::string();
    out += "\n";
  });
  engine.debugPrint = [&out](Thread&, const std::string& text) { out += text + "\n"; };
}

RunOutcome RunProgram(const std::string& source, const std::string& sub, const CompileOptions& options,
                      std::function<double()> clock) {
  RunOutcome r;
  CompileResult c = Compile(source, options);
  r.compileErrors = c.errors;
  if (!c.ok()) return r;
  Engine engine;
  engine.clock = std::move(clock);
  RegisterPrint(engine, r.output);
  std::string error;
  auto script = engine.LoadProgram(std::move(c.program), error);
  if (!script) {
    r.errorText = error;
    r.error = -1;
    return r;
  }
  auto thread = engine.CreateThread(script, sub, error);
  if (!thread) {
    r.errorText = error;
    r.error = -1;
    return r;
  }
  thread->SetErrorCallback(
      [&r](Thread&, int number, uint32_t line, const std::string& text, void*) {
        r.line = line;
        r.errorText = text;
        (void)number;
      },
      nullptr);
  r.error = thread->Run();
  return r;
}

}  // namespace kv::orlan::testing
