#include "persist/open_project.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/url.h"
#include "persist/document.h"
#include "persist/hooks.h"
#include "persist/project_tree.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {
namespace {

OpenedProject g_opened;

std::string CurrentDir() {
  char cwd[4096];
  return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
}

void ChangeDir(const std::string& hostDir) {
  if (!hostDir.empty() && ::chdir(hostDir.c_str()) != 0) {
    // The project still opens; relative names then resolve from the old directory.
  }
}

std::string HostDirOf(const std::string& hostPath) {
  size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos) return CurrentDir();
  return slash == 0 ? "/" : hostPath.substr(0, slash);
}

[[noreturn]] void FatalPrepare(uint32_t id, const std::string& displayName) {
  std::string text = std::string(LoadString(id)) + " For: " + displayName;
  MessageBoxes().ShowWithId(id, text, LoadString(sid::kAppName), MsgButtons::Ok, MsgIcon::Error);
  throw FatalProjectError(text);
}

}  // namespace

std::string& StartDir() {
  static std::string dir = CurrentDir();
  return dir;
}

std::string& ProjectDir() {
  static std::string dir;
  return dir;
}

const OpenedProject& LastOpenedProject() { return g_opened; }

bool OpenProject(const std::string& path, const std::string& projectName) {
  if (path.empty()) return false;
  StartDir();  // remember the start directory before the first change

  const std::string ext = ExtensionOf(path);
  const bool compilation = EqualsNoCase(ext, ".kvg") || EqualsNoCase(ext, ".htm");
  OpenedProject opened;
  opened.compilation = compilation;
  if (compilation) {
    opened.compilationName = projectName.empty() ? FileNameAndExt(path) : FileNameOnly(projectName) + ".kvg";
    opened.compilationDir = DriveAndDir(path);
  }

  std::string displayName = projectName.empty() ? path : projectName;
  std::string standbys = ReplaceExtension(displayName, ".kvb");
  ResourceResolver& locator = Resolver();
  // The previous project's cache, archives and extracted files go with it.
  if (CurrentProject()) locator.Reset();

  if (compilation) {
    displayName = FileNameOnly(displayName) + ".kvp";
    if (!locator.IsArchiveOpen(path)) {
      bool ok = false;
      try {
        ok = locator.OpenArchive(path, 0);
      } catch (const FatalProjectError&) {
        throw;
      } catch (...) {
        locator.CloseAllArchives();
        FatalPrepare(sid::kExceptionPreparing, displayName);
      }
      if (!ok) FatalPrepare(sid::kUnableToPrepareKvg, displayName);
    }
    standbys = FileNameAndExt(standbys);
  }

  std::optional<std::string> resolved;
  if (!compilation && !projectName.empty() && IsPluginMode()) {
    locator.RegisterProjectPath(path, projectName);
    resolved = path;
  } else if (!compilation && !projectName.empty()) {
    resolved = locator.RetrieveResource(path);
  } else if (compilation && !IsPluginMode()) {
    auto local = locator.RetrieveResource(path);
    if (!local || (!locator.IsArchiveOpen(*local) && !locator.OpenArchive(*local, 0)))
      FatalPrepare(sid::kUnableToPrepareKvg, displayName);
    resolved = locator.RetrieveResource(displayName);
  } else {
    resolved = locator.RetrieveResource(displayName);
  }

  std::string bytes;
  std::optional<std::string> host = resolved ? HostPathOf(*resolved) : std::nullopt;
  if (!host || !ReadHostFile(*host, bytes)) {
    std::string text = displayName;
    if (compilation) text += " -> " + resolved.value_or("") + "\r in Consolidated File: " + path;
    ShowMessage(text, LoadString(sid::kUnableToLocateScript), MsgButtons::Ok, MsgIcon::Error);
    return false;
  }

  std::shared_ptr<CStgDoc> doc;
  try {
    doc = LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                       FileNameAndExt(*resolved), compilation);
  } catch (const CArchiveException&) {
    const uint32_t id = IsPluginMode() ? sid::kNewFileFormatPlugin : sid::kNewFileFormat;
    std::string text = FormatString(id, FileTitle(*resolved));
    MessageBoxes().ShowWithId(id, text, LoadString(sid::kAppName), MsgButtons::Ok, MsgIcon::Exclamation);
    throw FatalProjectError(text);
  } catch (const std::bad_alloc&) {
    ShowMessage(displayName, LoadString(sid::kInsufficientMemory), MsgButtons::Ok, MsgIcon::Error);
    return false;
  } catch (const std::exception&) {
    ShowMessage(displayName, LoadString(sid::kRunTimeError), MsgButtons::Ok, MsgIcon::Error);
    return false;
  }

  UrlRecord url;
  const bool isUrl = ParseUrl(*resolved, url);
  if (isUrl) {
    locator.SetBasePath(*resolved);
  } else if (!compilation) {
    ChangeDir(HostDirOf(*host));
  }

  locator.ProjectOpened(compilation, doc->headerFlags[2], FileNameAndExt(*resolved), opened.compilationDir);
  CurrentProject() = doc;
  Engine().ResetNavigation();
  std::string finalPath = *resolved;
  if (IsPluginMode()) std::erase(finalPath, ' ');
  CurrentProjectPath() = finalPath;
  ProjectDir() = DriveAndDir(finalPath);
  if (!isUrl) {
    std::string hostDir = HostDirOf(*host);
    // Drive C: stands for the project's own folder; for a compilation that is
    // where the .kvg lies, not the folder its entries were extracted to.
    auto compilationHost = compilation ? HostPathOf(path) : std::nullopt;
    ProcessDriveMap().SetDefault(compilationHost ? HostDirOf(*compilationHost) : hostDir);
    if (!ProjectDir().empty()) ChangeDir(hostDir);
  }
  StandbysPath() = standbys;
  doc->pathName = finalPath;
  opened.resolvedPath = finalPath;
  g_opened = opened;
  return true;
}

void CloseDocument(const std::shared_ptr<CStgDoc>& doc) {
  if (!doc || doc->pathName != CurrentProjectPath()) return;
  CurrentProjectPath().clear();
  ProjectDir() = StartDir();
  ChangeDir(StartDir());
  // The control windows the tables describe belong to the stage, which
  // destroys them with the project; here only the tables go.
  doc->controlTables = {};
  StandbysPath().clear();
  CurrentProject().reset();
  Resolver().Reset();
}

std::shared_ptr<CStgDoc> LoadProjectForEngine(bool showErrors) {
  if (CurrentProject()) return CurrentProject();
  std::string bytes;
  auto host = HostPathOf(CurrentProjectPath());
  if (!host || !ReadHostFile(*host, bytes)) {
    if (showErrors)
      ShowMessage(CurrentProjectPath(), LoadString(sid::kUnableToLocateProject), MsgButtons::Ok, MsgIcon::Error);
    return nullptr;
  }
  try {
    return LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                        FileNameAndExt(CurrentProjectPath()), g_opened.compilation);
  } catch (const std::exception&) {
    MessageBoxes().ShowWithId(sid::kCannotReadScript, LoadString(sid::kCannotReadScript), LoadString(sid::kAppName),
                              MsgButtons::Ok, MsgIcon::Exclamation);
    return nullptr;
  }
}

std::string StandbysPreloadName() { return FileNameAndExt(StandbysPath()); }

bool PreloadStandbys(const std::function<void(const std::string&)>& preload) {
  if (StandbysPath().empty()) return false;
  auto local = Resolver().RetrieveResource(StandbysPreloadName());
  auto host = local ? HostPathOf(*local) : std::nullopt;
  struct stat st {};
  if (host && ::stat(host->c_str(), &st) == 0 && S_ISREG(st.st_mode)) preload(StandbysPreloadName());
  return true;
}

}  // namespace kv
