#include <cstdio>
#include <cstring>

#include "persist/document.h"
#include "persist/json_fields.h"
#include "net/resolver.h"
#include "net/temp_folder.h"
#include "persist/open_project.h"
#include "persist/project_tree.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/string_table.h"
#include "tools/kvtool/classes.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {

namespace {

// A compilation opens the way the player opens it, through the locator.
int DumpCompilation(const std::string& path, const std::string& projectName) {
  RegisterAllClasses();
  UseConsoleMessages();
  InstallProcessResolver();
  // kvtool extracts into the players' temporary folder, so it joins the
  // running instances like a player: no other instance purges its files.
  const std::string temp = CResourceLocator::Process().GetTemporaryDirectory();
  std::string error;
  auto instance = temp.empty() ? nullptr : InstanceUnit::Join(DefaultRuntimeFolder(), TempFolder(temp), nullptr, &error);
  if (!instance) return Fail("dump", kExitFailed, "%s%s%s", kSemaphoreFailureText, error.empty() ? "" : ": ", error.c_str());
  // Whatever happens, the files extracted for the dump are removed.
  struct ResetOnExit {
    ~ResetOnExit() { CResourceLocator::Process().Reset(); }
  } reset;
  bool opened = false;
  try {
    opened = OpenProject(Utf8ToCp1252(path), Utf8ToCp1252(projectName));
  } catch (const FatalProjectError&) {
    return kExitBadData;  // the message went to standard error
  }
  if (!opened) return kExitNotFound;
  std::string text = ObjectToJson(*CurrentProject()).dump(2);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  return kExitOk;
}

}  // namespace

int RunDump(int argc, char** argv) {
  if (argc < 1 || argc > 2 || argv[0][0] == '-') {
    std::fprintf(stderr, "usage: kvtool dump FILE | kvtool dump FILE.kvg [PROJECT.kvp]\n");
    return kExitUsage;
  }
  const std::string path = argv[0];
  const std::string ext = ExtensionOf(path);
  if (EqualsNoCase(ext, ".kvg") || EqualsNoCase(ext, ".htm")) return DumpCompilation(path, argc == 2 ? argv[1] : "");
  if (argc == 2) {
    std::fprintf(stderr, "usage: a project name goes with a compilation (.kvg) only\n");
    return kExitUsage;
  }
  std::string bytes;
  if (!ReadHostFile(path, bytes))
    return Fail("dump", kExitNotFound, "%s: %s", LoadString(sid::kUnableToLocateScript), path.c_str());
  RegisterAllClasses();
  std::shared_ptr<CStgDoc> doc;
  try {
    doc = LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), path);
  } catch (const CArchiveException& e) {
    return Fail("dump", kExitBadData, "%s%s%s", e.Message().c_str(), e.m_detail.empty() ? "" : " - ",
                e.m_detail.c_str());
  }
  std::string text = ObjectToJson(*doc).dump(2);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  return kExitOk;
}

}  // namespace kv::tool
