#include "persist/open_project.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "net/url.h"
#include "persist/document.h"
#include "persist/hooks.h"
#include "persist/project_session.h"
#include "persist/project_tree.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {
namespace {

std::string CurrentDir() {
  char cwd[4096];
  return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
}

std::string HostDirOf(const ProjectSession& session, const std::string& hostPath) {
  size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos) return session.BaseDir();
  return slash == 0 ? "/" : hostPath.substr(0, slash);
}

[[noreturn]] void FatalPrepare(const ProjectSession& session, uint32_t id, const std::string& displayName) {
  std::string text = std::string(LoadString(id)) + " For: " + displayName;
  session.messages().ShowWithId(id, text, LoadString(sid::kAppName), MsgButtons::Ok, MsgIcon::Error);
  throw FatalProjectError(text);
}

}  // namespace

std::optional<std::filesystem::path> LocalFileOf(const ProjectSession& session, const std::string& name) {
  auto resolved = session.locator().RetrieveResource(name);
  auto host = resolved ? session.HostPath(*resolved) : std::nullopt;
  std::error_code ec;
  if (!host || !std::filesystem::is_regular_file(*host, ec)) return std::nullopt;
  return std::filesystem::path(*host);
}

std::string& StartDir() {
  static std::string dir = CurrentDir();
  return dir;
}

bool OpenProject(ProjectSession& session, const std::string& path, const std::string& projectName) {
  if (path.empty()) return false;
  StartDir();  // the process's directory, which names of a closed project resolve from

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
  ResourceResolver& locator = session.locator();
  // The previous project's cache, archives and extracted files go with it.
  if (session.project) locator.Reset();

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
        FatalPrepare(session, sid::kExceptionPreparing, displayName);
      }
      if (!ok) FatalPrepare(session, sid::kUnableToPrepareKvg, displayName);
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
      FatalPrepare(session, sid::kUnableToPrepareKvg, displayName);
    resolved = locator.RetrieveResource(displayName);
  } else {
    resolved = locator.RetrieveResource(displayName);
  }

  std::string bytes;
  std::optional<std::string> host = resolved ? session.HostPath(*resolved) : std::nullopt;
  if (!host || !ReadHostFile(*host, bytes)) {
    std::string text = displayName;
    if (compilation) text += " -> " + resolved.value_or("") + "\r in Consolidated File: " + path;
    session.messages().Show(text, LoadString(sid::kUnableToLocateScript), MsgButtons::Ok, MsgIcon::Error);
    return false;
  }

  std::shared_ptr<CStgDoc> doc;
  try {
    doc = LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                       FileNameAndExt(*resolved), compilation, &session);
  } catch (const CArchiveException&) {
    const uint32_t id = IsPluginMode() ? sid::kNewFileFormatPlugin : sid::kNewFileFormat;
    std::string text = FormatString(id, FileTitle(*resolved));
    session.messages().ShowWithId(id, text, LoadString(sid::kAppName), MsgButtons::Ok, MsgIcon::Exclamation);
    throw FatalProjectError(text);
  } catch (const std::bad_alloc&) {
    session.messages().Show(displayName, LoadString(sid::kInsufficientMemory), MsgButtons::Ok, MsgIcon::Error);
    return false;
  } catch (const std::exception&) {
    session.messages().Show(displayName, LoadString(sid::kRunTimeError), MsgButtons::Ok, MsgIcon::Error);
    return false;
  }

  UrlRecord url;
  const bool isUrl = ParseUrl(*resolved, url);
  if (isUrl) locator.SetBasePath(*resolved);

  locator.ProjectOpened(compilation, doc->headerFlags[2], FileNameAndExt(*resolved), opened.compilationDir);
  session.project = doc;
  session.play().ResetNavigation();
  std::string finalPath = *resolved;
  if (IsPluginMode()) std::erase(finalPath, ' ');
  session.projectPath = finalPath;
  session.projectDir = DriveAndDir(finalPath);
  if (!isUrl) {
    std::string hostDir = HostDirOf(session, *host);
    // Drive C: stands for the project's own folder; for a compilation that is
    // where the .kvg lies, not the folder its entries were extracted to.
    auto compilationHost = compilation ? session.HostPath(path) : std::nullopt;
    session.drives.SetDefault(compilationHost ? HostDirOf(session, *compilationHost) : hostDir);
    // Relative names resolve from the folder the project file was read from.
    if (!compilation || !session.projectDir.empty()) session.baseDir = hostDir;
  }
  session.standbysPath = standbys;
  doc->pathName = finalPath;
  opened.resolvedPath = finalPath;
  session.opened = opened;
  return true;
}

void CloseDocument(ProjectSession& session, const std::shared_ptr<CStgDoc>& doc) {
  if (!doc || doc->pathName != session.projectPath) return;
  session.projectPath.clear();
  session.projectDir = StartDir();
  session.baseDir.clear();
  // The control windows the tables describe belong to the stage, which
  // destroys them with the project; here only the tables go.
  doc->controlTables = {};
  session.standbysPath.clear();
  session.project.reset();
  session.locator().Reset();
}

std::shared_ptr<CStgDoc> LoadProjectForEngine(ProjectSession& session, bool showErrors) {
  if (session.project) return session.project;
  std::string bytes;
  auto host = session.HostPath(session.projectPath);
  if (!host || !ReadHostFile(*host, bytes)) {
    if (showErrors)
      session.messages().Show(session.projectPath, LoadString(sid::kUnableToLocateProject), MsgButtons::Ok,
                              MsgIcon::Error);
    return nullptr;
  }
  try {
    return LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                        FileNameAndExt(session.projectPath), session.opened.compilation, &session);
  } catch (const std::exception&) {
    session.messages().ShowWithId(sid::kCannotReadScript, LoadString(sid::kCannotReadScript), LoadString(sid::kAppName),
                              MsgButtons::Ok, MsgIcon::Exclamation);
    return nullptr;
  }
}

std::string StandbysPreloadName(const ProjectSession& session) { return FileNameAndExt(session.standbysPath); }

bool PreloadStandbys(const ProjectSession& session, const std::function<void(const std::string&)>& preload) {
  if (session.standbysPath.empty()) return false;
  const std::string name = StandbysPreloadName(session);
  auto local = session.locator().RetrieveResource(name);
  auto host = local ? session.HostPath(*local) : std::nullopt;
  struct stat st {};
  if (host && ::stat(host->c_str(), &st) == 0 && S_ISREG(st.st_mode)) preload(name);
  return true;
}

}  // namespace kv
