#include <cstdio>
#include <cstring>

#include "persist/locator_resolver.h"
#include "net/temp_folder.h"
#include "persist/document.h"
#include "persist/json_fields.h"
#include "persist/open_project.h"
#include "persist/project_session.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"
#include "tools/kvtool/classes.h"
#include "tools/kvtool/commands.h"
#include "tools/kvtool/kvg_common.h"

namespace kv::tool {

namespace {

constexpr OptionSpec kOptions[] = {
    kReadKeyOption,
};

}  // namespace

const CommandSpec kDumpSpec{"dump", "FILE | FILE.kvg [PROJECT.kvp]",
                            "print a project, script, standbys file or compilation as JSON", kOptions};

namespace {

// A compilation opens the way the player opens it, through the locator.
int DumpCompilation(const std::string& path, const std::string& projectName, std::optional<uint32_t> key) {
  // A compilation the user never gave must not pass for a missing project
  // inside it: its own name, status 1.
  CheckInputFile(path);
  int code = kExitOk;
  // Read once here so that a corrupt file or a wrong key is named before the
  // locator, which only reports that the compilation cannot be prepared.
  auto reader = OpenKvgForTool(path, key, code);
  if (!reader) return code;
  const uint32_t archiveKey = reader->key();
  reader.reset();

  RegisterAllClasses();
  UseConsoleMessages();
  CResourceLocator locator;
  LocatorResolver resolver(locator);
  ProjectSession session(resolver);
  // kvtool extracts into the players' temporary folder, so it joins the
  // running instances like a player: no other instance purges its files.
  const std::string temp = locator.GetTemporaryDirectory();
  std::string error;
  auto instance = temp.empty() ? nullptr : InstanceUnit::Join(DefaultRuntimeFolder(), TempFolder(temp), nullptr, &error);
  if (!instance) return Fail(kExitFailed, "%s%s%s", kSemaphoreFailureText, error.empty() ? "" : ": ", error.c_str());
  // Whatever happens, the files extracted for the dump are removed.
  struct ResetOnExit {
    CResourceLocator& locator;
    ~ResetOnExit() { locator.Reset(); }
  } reset{locator};
  // Opened here with its key, the archive is one OpenProject finds open.
  const std::string stored = Utf8ToCp1252(path);
  if (archiveKey != 0 && !locator.OpenArchive(stored, archiveKey, true))
    return Fail(kExitBadData, "%s: the compilation cannot be opened", path.c_str());
  bool opened = false;
  try {
    opened = OpenProject(session, stored, Utf8ToCp1252(projectName));
  } catch (const FatalProjectError&) {
    return kExitBadData;  // the message went to standard error
  }
  if (!opened) return kExitNotFound;
  WriteStdout(ObjectToJson(*session.project).dump(2) + "\n");
  return kExitOk;
}

}  // namespace

int RunDump(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kDumpSpec, argc, argv);
  RequireOperands(kDumpSpec, args, 1, 2);
  const std::string& path = args.operands[0];
  const std::string ext = ExtensionOf(path);
  const bool compilation = EqualsNoCase(ext, ".kvg") || EqualsNoCase(ext, ".htm");
  if (compilation)
    return DumpCompilation(path, args.operands.size() == 2 ? args.operands[1] : "", KeyOption(kDumpSpec, args));
  if (args.operands.size() == 2) UsageError(kDumpSpec, "a project name goes with a compilation (.kvg) only");
  if (args.Has("--key")) UsageError(kDumpSpec, "--key goes with a compilation (.kvg) only");
  std::string bytes;
  try {
    bytes = ReadInputFile(path);
  } catch (const ToolError& e) {
    return Fail(e.code(), "%s: %s (%s)", LoadString(sid::kUnableToLocateScript), path.c_str(), e.what());
  }
  RegisterAllClasses();
  std::shared_ptr<CStgDoc> doc;
  try {
    doc = LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), path);
  } catch (const CArchiveException& e) {
    return Fail(kExitBadData, "%s%s%s", e.Message().c_str(), e.m_detail.empty() ? "" : " - ", e.m_detail.c_str());
  }
  WriteStdout(ObjectToJson(*doc).dump(2) + "\n");
  return kExitOk;
}

}  // namespace kv::tool
