// orlanc: compiles Orlan BASIC source to .ebc code files, and runs a
// subroutine of a source or code file with a small host library (Print to
// standard output) for tests and for authors.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "orlan/codefile.h"
#include "orlan/compiler.h"
#include "orlan/engine.h"
#include "platform/files.h"
#include "platform/text.h"

namespace {

using namespace kv::orlan;

enum Exit { kOk = 0, kCompileError = 1, kUsage = 2, kRunError = 3, kIoError = 4 };

void Usage(FILE* to) {
  std::fprintf(to,
               "Usage: orlanc FILE.ebs [-o FILE.ebc] [--listing]\n"
               "       orlanc run FILE.ebs|FILE.ebc [--sub NAME] [ARGS...]\n"
               "\n"
               "Compiles Orlan BASIC source to a code file, reporting errors as\n"
               "FILE(LINE): message; or runs a subroutine (default \"main\") with\n"
               "the arguments given as strings. Scripts print with Print and\n"
               "Debug.Print.\n"
               "\n"
               "Exit status: 0 success, 1 compile errors, 2 usage, 3 run-time\n"
               "error, 4 file error.\n");
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool EndsWithNoCase(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && kv::EqualsNoCase(std::string_view(s).substr(s.size() - n), suffix);
}

// Source text is Windows-1252; UTF-8 files are converted so authors can use an ordinary editor.
std::string SourceText(const std::vector<uint8_t>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  if (text.size() >= 3 && static_cast<uint8_t>(text[0]) == 0xEF && static_cast<uint8_t>(text[1]) == 0xBB &&
      static_cast<uint8_t>(text[2]) == 0xBF)
    return kv::Utf8ToCp1252(text.substr(3));
  return text;
}

bool CompileFile(const std::string& path, Program& program) {
  std::vector<uint8_t> bytes;
  if (!ReadFile(path, bytes)) {
    std::fprintf(stderr, "%s: cannot read the file\n", path.c_str());
    return false;
  }
  CompileResult r = Compile(SourceText(bytes));
  for (const auto& e : r.errors) std::fprintf(stderr, "%s(%u): %s\n", path.c_str(), e.line, e.message.c_str());
  if (!r.ok()) return false;
  program = std::move(r.program);
  return true;
}

int CompileCommand(int argc, char** argv) {
  std::string input, output;
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-o" && i + 1 < argc) output = argv[++i];
    else if (a == "--listing") listing = true;
    else if (!a.empty() && a[0] == '-') {
      std::fprintf(stderr, "orlanc: unknown option %s\n", a.c_str());
      return kUsage;
    } else if (input.empty()) input = a;
    else {
      std::fprintf(stderr, "orlanc: more than one input file\n");
      return kUsage;
    }
  }
  if (input.empty()) {
    Usage(stderr);
    return kUsage;
  }
  if (output.empty()) {
    size_t dot = input.find_last_of('.');
    size_t slash = input.find_last_of('/');
    output = (dot != std::string::npos && (slash == std::string::npos || dot > slash) ? input.substr(0, dot) : input) + ".ebc";
  }
  Program program;
  std::vector<uint8_t> bytes;
  if (!ReadFile(input, bytes)) {
    std::fprintf(stderr, "%s: cannot read the file\n", input.c_str());
    return kIoError;
  }
  if (!CompileFile(input, program)) return kCompileError;
  if (listing) std::fputs(Disassemble(program).c_str(), stdout);
  std::vector<uint8_t> ebc = WriteEbc(program);
  if (!kv::WriteFileAtomically(output, std::string_view(reinterpret_cast<const char*>(ebc.data()), ebc.size()))) {
    std::fprintf(stderr, "%s: cannot write the file\n", output.c_str());
    return kIoError;
  }
  return kOk;
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
  engine.debugPrint = [](const std::string& text) {
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
  std::string file, sub = "main";
  std::vector<Value> args;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--sub" && i + 1 < argc && file.size()) sub = argv[++i];
    else if (file.empty()) file = a;
    else args.push_back(Value::Str(kv::Utf8ToCp1252(a)));
  }
  if (file.empty()) {
    Usage(stderr);
    return kUsage;
  }
  Engine engine;
  RegisterHost(engine);
  std::string error;
  std::shared_ptr<ScriptObject> script;
  if (EndsWithNoCase(file, ".ebc")) {
    std::vector<uint8_t> bytes;
    if (!ReadFile(file, bytes)) {
      std::fprintf(stderr, "%s: cannot read the file\n", file.c_str());
      return kIoError;
    }
    std::span<const uint8_t> block;
    EbcStatus s = EbcCodeBlock(bytes, block);
    if (s == EbcStatus::OlderVersion) {
      std::fprintf(stderr, "%s: This script is an older version. Please re-compile in the Orlan Editor.\n", file.c_str());
      return kIoError;
    }
    if (s != EbcStatus::Ok) {
      std::fprintf(stderr, "%s: Unknown file type\n", file.c_str());
      return kIoError;
    }
    script = engine.LoadScript(block, error);
    if (!script) {
      std::fprintf(stderr, "%s: Unknown file type (%s)\n", file.c_str(), error.c_str());
      return kIoError;
    }
  } else {
    Program program;
    if (!CompileFile(file, program)) return kCompileError;
    script = engine.LoadProgram(std::move(program), error);
    if (!script) {
      std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
      return kCompileError;
    }
  }
  std::unique_ptr<Thread> thread = engine.CreateThread(script, sub, error);
  if (!thread) {
    std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
    return kUsage;
  }
  thread->SetErrorCallback(
      [&file](Thread&, int number, uint32_t line, const std::string& text, void*) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s(%u): %s\n", file.c_str(), line, kv::Cp1252ToUtf8(FormatScriptError(number, line, text)).c_str());
      },
      nullptr);
  int result = thread->Run(args);
  std::fflush(stdout);
  return result == 0 ? kOk : kRunError;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage(stderr);
    return kUsage;
  }
  std::string cmd = argv[1];
  if (cmd == "--help" || cmd == "-h") {
    Usage(stdout);
    return kOk;
  }
  if (cmd == "--version") {
    std::printf("orlanc %s (code block version %u, .ebc version %u)\n", KV_VERSION, kCodeBlockVersion, kEbcVersion);
    return kOk;
  }
  if (cmd == "run") return RunCommand(argc, argv);
  return CompileCommand(argc, argv);
}
