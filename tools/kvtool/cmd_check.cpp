#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "net/temp_folder.h"
#include "persist/locator_resolver.h"
#include "persist/open_project.h"
#include "persist/project_session.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "tools/kvtool/classes.h"
#include "tools/kvtool/commands.h"
#include "tools/kvtool/kvg_common.h"
#include "tools/kvtool/project_check.h"

namespace kv::tool {

namespace {

constexpr OptionSpec kOptions[] = {
    {"--json", nullptr, "print the problems as JSON"},
    kReadKeyOption,
};

// Status 1 is "problems found" here, so a project that cannot be read at all
// answers 2 whether it is missing or corrupt.
constexpr int kExitProblems = 1;
constexpr int kExitUnreadable = 2;

std::string Describe(const CheckProblem& p) {
  std::string at = p.document;
  if (p.line) at += "(" + std::to_string(p.line) + ")";
  if (p.insert) {
    at += ": insert " + std::to_string(p.insert);
    if (!p.insertName.empty()) at += " \"" + p.insertName + "\"";
  }
  if (!p.field.empty()) at += (p.insert ? " " : ": ") + std::string("(") + p.field + ")";
  return at + ": " + p.message;
}

}  // namespace

const CommandSpec kCheckSpec{"check", "PROJECT.kvp | FILE.kvg [PROJECT.kvp]",
                             "report what would go wrong when the project plays, without playing it", kOptions};

int RunCheck(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kCheckSpec, argc, argv);
  RequireOperands(kCheckSpec, args, 1, 2);
  const std::string& path = args.operands[0];
  const bool compilation = EqualsNoCase(ExtensionOf(path), ".kvg");
  if (args.operands.size() == 2 && !compilation)
    UsageError(kCheckSpec, "a project name goes with a compilation (.kvg) only");
  if (args.Has("--key") && !compilation) UsageError(kCheckSpec, "--key goes with a compilation (.kvg) only");
  try {
    CheckInputFile(path);
  } catch (const ToolError& e) {
    return Fail(kExitUnreadable, "%s: %s", path.c_str(), e.what());
  }

  RegisterAllClasses();
  UseConsoleMessages();
  CResourceLocator locator;
  LocatorResolver resolver(locator);
  ProjectSession session(resolver);
  struct ResetOnExit {
    CResourceLocator& locator;
    ~ResetOnExit() { locator.Reset(); }
  } reset{locator};
  // A compilation is opened as the player opens it, extracting into the
  // players' temporary folder as one of them.
  std::unique_ptr<InstanceUnit> instance;
  const std::string stored = Utf8ToCp1252(path);
  if (compilation) {
    int code = kExitOk;
    auto reader = OpenKvgForTool(path, KeyOption(kCheckSpec, args), code);
    if (!reader) return kExitUnreadable;
    const uint32_t key = reader->key();
    reader.reset();
    std::string error;
    const std::string temp = locator.GetTemporaryDirectory();
    instance = temp.empty() ? nullptr : InstanceUnit::Join(DefaultRuntimeFolder(), TempFolder(temp), nullptr, &error);
    if (!instance) return Fail(kExitFailed, "%s%s%s", kSemaphoreFailureText, error.empty() ? "" : ": ", error.c_str());
    if (key != 0 && !locator.OpenArchive(stored, key, true))
      return Fail(kExitUnreadable, "%s: the compilation cannot be opened", path.c_str());
  }
  bool opened = false;
  try {
    opened = OpenProject(session, stored, args.operands.size() == 2 ? Utf8ToCp1252(args.operands[1]) : "");
  } catch (const FatalProjectError&) {
    return kExitUnreadable;  // the message went to standard error
  }
  if (!opened || !session.project) return kExitUnreadable;

  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  const std::vector<CheckProblem> problems =
      CheckProject(session, ec ? std::string() : self.parent_path().string() + "/", locator.GetTemporaryDirectory());

  if (args.Has("--json")) {
    nlohmann::ordered_json out;
    out["project"] = path;
    out["problems"] = nlohmann::ordered_json::array();
    for (const CheckProblem& p : problems) {
      nlohmann::ordered_json j;
      j["kind"] = p.kind;
      j["document"] = Cp1252ToUtf8(p.document);
      if (p.line) j["line"] = p.line;
      if (p.insert) j["insert"] = p.insert;
      if (!p.insertName.empty()) j["name"] = Cp1252ToUtf8(p.insertName);
      if (!p.field.empty()) j["field"] = p.field;
      j["message"] = Cp1252ToUtf8(p.message);
      out["problems"].push_back(std::move(j));
    }
    WriteStdout(out.dump(2) + "\n");
  } else {
    std::string text;
    for (const CheckProblem& p : problems) text += Cp1252ToUtf8(Describe(p)) + "\n";
    text += problems.empty() ? path + ": no problems found\n"
                             : path + ": " + std::to_string(problems.size()) +
                                   (problems.size() == 1 ? " problem\n" : " problems\n");
    WriteStdout(text);
  }
  return problems.empty() ? kExitOk : kExitProblems;
}

}  // namespace kv::tool
