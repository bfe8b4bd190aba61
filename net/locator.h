// The resource locator: a run's mapping from a stored resource name to a
// local file (each player owns one). It expands name macros, completes
// relative names against a base path, keeps a cache of name -> local file,
// extracts entries of compilation archives and downloads URLs when the
// player runs stand-alone. Every subsystem that opens a stored name calls it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "net/kvg_archive.h"
#include "net/temp_folder.h"
#include "net/url_fetch.h"

namespace kv {

// The hosted fetch's answers that are not file names.
inline constexpr const char* kAbortAnswer = "!*Abort";
inline constexpr const char* kFailAnswer = "!*Fail";
bool IsSentinelAnswer(std::string_view text);
// A ".kvg" name is asked for without the blanks of its file-name part.
std::string RemoveBlanksFromFileName(std::string name);

// The name-substitution macros; the shell installs the real expander.
class NameExpander {
 public:
  virtual ~NameExpander() = default;
  virtual std::string ExpandNames(std::string_view text, int maxPasses) = 0;
};

// The hosted player's requestor (the hosting server protocol).
class RemoteRequestor {
 public:
  virtual ~RemoteRequestor() = default;
  // A local path, kAbortAnswer, kFailAnswer or empty; may clear `found`.
  virtual std::string PluginGetRemoteResource(const std::string& name, int* found) = 0;
};

// What the locator needs to know of the open project.
struct LocatorProject {
  bool open = false;
  bool isCompilation = false;
  uint8_t fetchFlags = 0;         // the third header flag: bit 0 Orlan code, bit 1 standbys
  std::string projectFileName;    // the project file's path or name
  std::string compilationDir;     // drive and directory of the compilation, "" when none
};

struct LocatorOptions {
  std::string temporaryFolder;           // empty: DefaultTemporaryFolder()
  size_t maxEntryBytes = size_t(1) << 30;  // largest decoded archive entry
  FetchOptions fetch;
};

class CResourceLocator {
 public:
  explicit CResourceLocator(LocatorOptions options = {});
  ~CResourceLocator();
  CResourceLocator(const CResourceLocator&) = delete;
  CResourceLocator& operator=(const CResourceLocator&) = delete;

  std::string RetrieveResource(const std::string& name, bool allowFetch = true, int* found = nullptr);
  void AddCachedResource(const std::string& name, const std::string& localPath);
  std::string LookupCached(const std::string& name);
  std::string FindCachedName(const std::string& localPath);
  void SetBasePath(const std::string& path, bool stripFileName);
  std::string BasePath() const;
  // Closes the archives, deletes cached files that lie in the temporary
  // folder (and no others), empties the cache and clears the base path.
  void Reset();
  // The temporary folder (no trailing separator); empty when it cannot be
  // prepared.
  std::string GetTemporaryDirectory();
  void SetStandAlone(bool standAlone);
  void SetProgress(FetchProgress callback, void* data);

  bool OpenArchive(const std::string& path, uint32_t key, bool keepOpen);
  void CloseArchive(const std::string& path);
  void CloseAllArchives();
  std::string FindInArchives(const std::string& name);
  bool IsArchiveOpen(const std::string& path);

  // Collaborators, all optional.
  void SetNameExpander(NameExpander* expander);
  void SetRequestor(RemoteRequestor* requestor);
  void SetProject(LocatorProject project);
  void SetProjectChangeQuery(std::function<bool()> inProgress);
  void SetLocalBase(bool local);  // the hosted base URL is a "file://" one
  void SetWaitCursor(std::function<void(bool)> show);
  // How a local name becomes a host file: the run's drive map and folder.
  // Unset: the process's (HostPathOf).
  void SetHostPaths(std::function<std::optional<std::string>(const std::string&)> hostPath);

  size_t CacheSize();

 private:
  struct OpenedArchive {
    std::string name;  // as the caller gave it
    std::unique_ptr<KvgReader> reader;
    std::unordered_map<std::string, size_t> byName;  // lower-cased -> first entry
  };

  const TempFolder* Temp();  // under the lock
  std::string MakeAbsolute(std::string_view name) const;
  bool ProjectAllowsFetch(const std::string& name) const;
  std::string FetchStandAlone(std::string name);
  std::string ExtractEntry(const KvgReader& reader, const KvgEntry& entry);
  void RemoveCachedFile(const std::string& path);
  std::string LocalHostPath(const std::string& name) const;

  mutable std::recursive_mutex lock_;
  LocatorOptions options_;
  std::optional<TempFolder> temp_;
  bool tempTried_ = false;
  std::unordered_map<std::string, std::string> cache_;
  std::string basePath_;
  bool standAlone_ = true;
  FetchProgress progress_ = nullptr;
  void* progressData_ = nullptr;
  std::vector<OpenedArchive> archives_;
  NameExpander* expander_ = nullptr;
  RemoteRequestor* requestor_ = nullptr;
  LocatorProject project_;
  std::function<bool()> projectChanging_;
  std::function<void(bool)> waitCursor_;
  bool localBase_ = false;
  std::function<std::optional<std::string>(const std::string&)> hostPath_;
};


}  // namespace kv
