// orlanc: compiles Orlan BASIC source to .ebc code files, and runs a
// subroutine of a source or code file with a small host library (Print to
// standard output) for tests and for authors.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "kv_version.h"
#include "orlan/codefile.h"
#include "orlan/compiler.h"
#include "orlan/engine.h"
#include "platform/text.h"
#include "tools/common/options.h"
#include "tools/common/toolkit.h"

namespace {

using namespace kv::orlan;
using namespace kv::tool;

// Run-time errors raised when a subroutine is entered with the wrong arguments.
constexpr int kArgumentNotOptional = 449;
constexpr int kWrongArgumentCount = 450;

constexpr OptionSpec kCompileOptions[] = {
    {"-o", "FILE.ebc", "the code file to write; by default the source's name with .ebc"},
    {"--listing", nullptr, "print the compiled code's listing"},
};
constexpr OptionSpec kRunOptions[] = {
    {"--sub", "NAME", "the subroutine to run (default \"main\")"},
};

const CommandSpec kCompileSpec{"", "FILE.ebs", "compile Orlan BASIC source; errors as FILE(LINE): message",
                               kCompileOptions};
const CommandSpec kRunSpec{"run", "FILE.ebs|FILE.ebc [ARGS...]",
                           "run a subroutine with the arguments as strings; Print and Debug.Print write to "
                           "standard output",
                           kRunOptions};

void Usage(FILE* to) {
  std::fprintf(to, "usage: orlanc FILE.ebs [OPTIONS] | orlanc run FILE [OPTIONS] [ARGS...]\n\ncommands:\n");
  const CommandSpec* const specs[] = {&kCompileSpec, &kRunSpec};
  PrintCommands(to, specs);
  std::fprintf(to,
               "\noptions:\n  --help      this text\n  --version   the version\n\n"
               "exit status: 0 success, 1 a file is missing or unreadable, 2 a file is corrupt (compile\n"
               "errors, a code file that cannot be loaded), 3 the run failed, 64 usage error\n");
}

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && kv::EqualsNoCase(std::string_view(s).substr(s.size() - n), suffix);
}

// Source text is Windows-1252; UTF-8 files are converted so authors can use an ordinary editor.
std::string SourceText(std::string text) {
  if (text.size() >= 3 && static_cast<uint8_t>(text[0]) == 0xEF && static_cast<uint8_t>(text[1]) == 0xBB &&
      static_cast<uint8_t>(text[2]) == 0xBF)
    return kv::Utf8ToCp1252(text.substr(3));
  return text;
}

bool CompileFile(const std::string& path, Program& program) {
  CompileResult r = Compile(SourceText(ReadInputFile(path)));
  for (const auto& e : r.errors) std::fprintf(stderr, "%s(%u): %s\n", path.c_str(), e.line, e.message.c_str());
  if (!r.ok()) return false;
  program = std::move(r.program);
  return true;
}

int CompileCommand(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kCompileSpec, argc, argv);
  RequireOperands(kCompileSpec, args, 1, 1);
  const std::string& input = args.operands[0];
  std::string output = args.Value("-o") ? args.Value("-o") : "";
  if (output.empty()) {
    size_t dot = input.find_last_of('.');
    size_t slash = input.find_last_of('/');
    output = (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? input.substr(0, dot) : input) + ".ebc";
  }
  Program program;
  if (!CompileFile(input, program)) return kExitBadData;
  if (args.Has("--listing")) std::fputs(Disassemble(program).c_str(), stdout);
  std::vector<uint8_t> ebc = WriteEbc(program);
  WriteOutputFile(output, std::string_view(reinterpret_cast<const char*>(ebc.data()), ebc.size()));
  // On standard error, so that a listing on standard output stays clean.
  std::fprintf(stderr, "orlanc: wrote %s (%zu bytes)\n", output.c_str(), ebc.size());
  return kExitOk;
}

constexpr uint32_t kPrintId = 1;

void RegisterHost(Engine& engine) {
  LibraryBuilder b;
  b.AddSub(0, "Print", kPrintId, 0, 1, {HostType{HostType::kString, {}}});
  std::string error;
  auto lib = b.Finish(error);
  engine.RegisterLibrary("Host", std::move(lib), [](Thread&, uint32_t id, ArgBlock& args, void*) {
    if (id == kPrintId) {
      std::string text = args.Count() >= 1 ? args.GetString(1) : std::string();
      std::fputs(kv::Cp1252ToUtf8(text).c_str(), stdout);
      std::fputc('\n', stdout);
    }
  });
  engine.debugPrint = [](Thread&, const std::string& text) {
    std::fputs(kv::Cp1252ToUtf8(text).c_str(), stdout);
    std::fputc('\n', stdout);
  };
  engine.msgBox = [](const std::string& prompt, int, const std::string&) {
    std::fputs(kv::Cp1252ToUtf8(prompt).c_str(), stdout);
    std::fputc('\n', stdout);
    return 1;
  };
  engine.inputBox = [](const std::string& prompt, const std::string&, const std::string& def) {
    std::fputs(kv::Cp1252ToUtf8(prompt).c_str(), stdout);
    std::fputc('\n', stdout);
    std::string line;
    if (!std::getline(std::cin, line)) return def;
    return kv::Utf8ToCp1252(line);
  };
}

int RunCommand(int argc, char** argv) {
  const ParsedArgs parsed = ParseArgs(kRunSpec, argc, argv);
  RequireOperands(kRunSpec, parsed, 1, size_t(-1));
  const std::string& file = parsed.operands[0];
  const std::string sub = parsed.Value("--sub") ? parsed.Value("--sub") : "main";
  std::vector<Value> args;
  for (size_t i = 1; i < parsed.operands.size(); ++i) args.push_back(Value::Str(kv::Utf8ToCp1252(parsed.operands[i])));
  Engine engine;
  RegisterHost(engine);
  std::string error;
  std::shared_ptr<ScriptObject> script;
  if (EndsWithNoCase(file, ".ebc")) {
    const std::string text = ReadInputFile(file);
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    std::span<const uint8_t> block;
    EbcStatus s = EbcCodeBlock(bytes, block);
    if (s == EbcStatus::OlderVersion)
      return Fail(kExitBadData, "%s: This script is an older version. Please re-compile in the Orlan Editor.",
                  file.c_str());
    if (s != EbcStatus::Ok) return Fail(kExitBadData, "%s: Unknown file type", file.c_str());
    script = engine.LoadScript(block, error);
    if (!script) return Fail(kExitBadData, "%s: Unknown file type (%s)", file.c_str(), error.c_str());
  } else {
    Program program;
    if (!CompileFile(file, program)) return kExitBadData;
    script = engine.LoadProgram(std::move(program), error);
    if (!script) return Fail(kExitBadData, "%s: %s", file.c_str(), error.c_str());
  }
  std::unique_ptr<Thread> thread = engine.CreateThread(script, sub, error);
  // A file without the subroutine asked for (main by default) is not input this command can run.
  if (!thread) return Fail(kExitBadData, "%s: %s", file.c_str(), error.c_str());
  // An argument error before the first line ran is about the arguments given
  // on the command line, not a line of the script.
  bool badArguments = false;
  thread->SetErrorCallback(
      [&](Thread&, int number, uint32_t line, const std::string& text, void*) {
        std::fflush(stdout);
        if (line == 0 && (number == kArgumentNotOptional || number == kWrongArgumentCount)) {
          badArguments = true;
          Warn("%s: %s: %s (%zu given after the file name)", file.c_str(), sub.c_str(),
               kv::Cp1252ToUtf8(text).c_str(), args.size());
          return;
        }
        std::fprintf(stderr, "%s(%u): %s\n", file.c_str(), line, kv::Cp1252ToUtf8(FormatScriptError(number, line, text)).c_str());
      },
      nullptr);
  int result = thread->Run(args);
  std::fflush(stdout);
  if (badArguments) return kExitUsage;
  return result == 0 ? kExitOk : kExitFailed;
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return kExitUsage;
  }
  std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h") {
    Usage(stdout);
    return kExitOk;
  }
  if (cmd == "--version") {
    std::printf("orlanc %s (code block version %u, .ebc version %u)\n", kv::kVersion, kCodeBlockVersion, kEbcVersion);
    return kExitOk;
  }
  if (cmd == "run") {
    SetCommandName("run");
    return RunCommand(argc - 2, argv + 2);
  }
  return CompileCommand(argc - 1, argv + 1);
}

}  // namespace

int main(int argc, char** argv) { return RunMain("orlanc", argc, argv, Main); }
