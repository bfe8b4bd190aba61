#include "net/locator.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "net/url.h"
#include "platform/log.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kv {
namespace {

bool Contains(std::string_view haystack, std::string_view needle) {
  return !needle.empty() && haystack.find(needle) != std::string_view::npos;
}

// A name the stand-alone download may fetch: a URL by the player's rules, or
// an https address (which those rules leave without a default port).
bool IsFetchableUrl(const std::string& name) {
  UrlRecord url;
  if (ParseUrl(name, url)) return true;
  std::string t(Trim(name));
  if (t.size() > 6 && EqualsNoCase(std::string_view(t).substr(0, 6), "https:"))
    return ParseUrl("http:" + t.substr(6), url);
  return false;
}

bool IsRegularFile(const std::string& hostPath) {
  struct stat st;
  return stat(hostPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

std::string RemoveBlanksFromFileName(std::string name) {
  size_t sep = name.find_last_of("/\\");
  size_t start = sep == std::string::npos ? 0 : sep + 1;
  std::string out = name.substr(0, start);
  for (size_t i = start; i < name.size(); ++i)
    if (name[i] != ' ') out += name[i];
  return out;
}

bool IsSentinelAnswer(std::string_view text) { return text == kAbortAnswer || text == kFailAnswer; }

// A local name the locator keeps: its host file, or the name itself.
std::string CResourceLocator::LocalHostPath(const std::string& name) const {
  auto host = hostPath_ ? hostPath_(name) : HostPathOf(name);
  return host.value_or(name);
}

void CResourceLocator::SetHostPaths(std::function<std::optional<std::string>(const std::string&)> hostPath) {
  std::lock_guard guard(lock_);
  hostPath_ = std::move(hostPath);
}

CResourceLocator::CResourceLocator(LocatorOptions options) : options_(std::move(options)) {}

CResourceLocator::~CResourceLocator() = default;

const TempFolder* CResourceLocator::Temp() {
  std::lock_guard guard(lock_);
  if (!tempTried_) {
    tempTried_ = true;
    std::string wanted = options_.temporaryFolder.empty() ? DefaultTemporaryFolder() : options_.temporaryFolder;
    std::string error;
    auto prepared = PrepareUserFolder(wanted, &error);
    if (!prepared && options_.temporaryFolder.empty()) {
      // Our usual folder is taken by someone else: make a fresh private one.
      const char* tmp = std::getenv("TMPDIR");
      std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvel-" + std::to_string(geteuid()) + "-XXXXXX";
      std::vector<char> buf(templ.begin(), templ.end());
      buf.push_back('\0');
      if (mkdtemp(buf.data())) prepared = PrepareUserFolder(buf.data(), &error);
    }
    if (prepared) {
      temp_.emplace(*prepared);
    } else {
      Log("CResourceLocator: no temporary folder: %s", error.c_str());
    }
  }
  return temp_ ? &*temp_ : nullptr;
}

std::string CResourceLocator::GetTemporaryDirectory() {
  std::lock_guard guard(lock_);
  const TempFolder* temp = Temp();
  return temp ? temp->path() : std::string();
}

void CResourceLocator::SetStandAlone(bool standAlone) {
  std::lock_guard guard(lock_);
  standAlone_ = standAlone;
}

void CResourceLocator::SetProgress(FetchProgress callback, void* data) {
  std::lock_guard guard(lock_);
  progress_ = callback;
  progressData_ = data;
}

void CResourceLocator::SetNameExpander(NameExpander* expander) {
  std::lock_guard guard(lock_);
  expander_ = expander;
}

void CResourceLocator::SetRequestor(RemoteRequestor* requestor) {
  std::lock_guard guard(lock_);
  requestor_ = requestor;
}

void CResourceLocator::SetProject(LocatorProject project) {
  std::lock_guard guard(lock_);
  project_ = std::move(project);
}

void CResourceLocator::SetProjectChangeQuery(std::function<bool()> inProgress) {
  std::lock_guard guard(lock_);
  projectChanging_ = std::move(inProgress);
}

void CResourceLocator::SetLocalBase(bool local) {
  std::lock_guard guard(lock_);
  localBase_ = local;
}

void CResourceLocator::SetWaitCursor(std::function<void(bool)> show) {
  std::lock_guard guard(lock_);
  waitCursor_ = std::move(show);
}

size_t CResourceLocator::CacheSize() {
  std::lock_guard guard(lock_);
  return cache_.size();
}

void CResourceLocator::SetBasePath(const std::string& path, bool stripFileName) {
  std::lock_guard guard(lock_);
  std::string base(Trim(path));
  const bool url = base.find("://") != std::string::npos;
  const char sep = url ? '/' : '\\';
  if (!base.empty() && stripFileName) {
    // Stored names may use either separator outside URLs.
    size_t last = url ? base.rfind('/') : base.find_last_of("\\/");
    base = last == std::string::npos ? std::string() : base.substr(0, last + 1);
  }
  if (!base.empty() && !(base.back() == sep || (!url && base.back() == '/'))) base += sep;
  basePath_ = std::move(base);
}

std::string CResourceLocator::BasePath() const {
  std::lock_guard guard(lock_);
  return basePath_;
}

std::string CResourceLocator::MakeAbsolute(std::string_view name) const {
  std::string_view t = Trim(name);
  std::lock_guard guard(lock_);
  if (basePath_.empty() || IsAbsoluteName(t)) return std::string(t);
  if (!t.empty() && (t[0] == '\\' || t[0] == '/')) t.remove_prefix(1);
  return basePath_ + std::string(t);
}

void CResourceLocator::AddCachedResource(const std::string& name, const std::string& localPath) {
  Log("CResourceLocator::AddCachedResource(\"%s\", \"%s\")", name.c_str(), localPath.c_str());
  // A refusal from the server is an answer, not a file.
  if (name.empty() || localPath.empty() || IsSentinelAnswer(localPath)) return;
  std::lock_guard guard(lock_);
  if (!standAlone_) {
    if (!project_.compilationDir.empty() && EqualsNoCase(DriveAndDir(localPath), project_.compilationDir)) return;
    const TempFolder* temp = Temp();
    if (!temp || !temp->Contains(LocalHostPath(localPath))) return;
  }
  cache_[ToLower1252(name)] = localPath;
}

std::string CResourceLocator::LookupCached(const std::string& name) {
  std::lock_guard guard(lock_);
  auto it = cache_.find(ToLower1252(name));
  if (it == cache_.end()) return {};
  if (!IsRegularFile(LocalHostPath(it->second))) {
    cache_.erase(it);
    return {};
  }
  return it->second;
}

std::string CResourceLocator::FindCachedName(const std::string& localPath) {
  std::lock_guard guard(lock_);
  for (const auto& [name, path] : cache_)
    if (EqualsNoCase(path, localPath)) return name;
  return localPath;
}

void CResourceLocator::RemoveCachedFile(const std::string& path) {
  const TempFolder* temp = Temp();
  // Only our own files go; a cached path elsewhere is the user's.
  std::string host = LocalHostPath(path);
  if (temp && temp->Contains(host)) unlink(host.c_str());
}

void CResourceLocator::Reset() {
  {
    std::lock_guard guard(lock_);
    CloseAllArchives();
    for (const auto& entry : cache_) RemoveCachedFile(entry.second);
    cache_.clear();
  }
  SetBasePath(std::string(), false);
}

bool CResourceLocator::ProjectAllowsFetch(const std::string& name) const {
  const std::string lower = ToLower1252(name);
  if (Contains(lower, ".kvb")) {
    if (!project_.open || project_.isCompilation || !(project_.fetchFlags & 2)) return false;
  }
  if (Contains(lower, ".ebc")) {
    if (project_.isCompilation) return false;
    const std::string projectName = ToLower1252(FileNameOnly(project_.projectFileName));
    if (Contains(lower, projectName) && !(project_.fetchFlags & 1)) return false;
  }
  return true;
}

std::string CResourceLocator::FetchStandAlone(std::string name) {
  std::function<void(bool)> waitCursor;
  std::optional<TempFolder> temp;
  FetchProgress progress;
  void* progressData;
  bool changing;
  {
    std::lock_guard guard(lock_);
    waitCursor = waitCursor_;
    if (const TempFolder* t = Temp()) temp = *t;
    progress = progress_;
    progressData = progressData_;
    changing = projectChanging_ && projectChanging_();
  }
  if (!temp) return {};
  if (ExtensionOf(name) == ".kvg" && !changing) name = RemoveBlanksFromFileName(name);
  if (waitCursor) waitCursor(true);
  std::string error;
  // The download runs without the locator lock: other threads keep resolving.
  auto path = FetchUrlToFile(NormalizeUrl(name), *temp, progress, progressData, options_.fetch, &error);
  if (waitCursor) waitCursor(false);
  if (!path) {
    Log("CResourceLocator: download of \"%s\" failed: %s", name.c_str(), error.c_str());
    return {};
  }
  return *path;
}

std::string CResourceLocator::RetrieveResource(const std::string& name, bool allowFetch, int* found) {
  if (found) *found = 1;
  if (name.empty()) return name;
  NameExpander* expander;
  RemoteRequestor* requestor;
  bool standAlone, localBase, allowed;
  {
    std::lock_guard guard(lock_);
    expander = expander_;
    requestor = requestor_;
    standAlone = standAlone_;
    localBase = localBase_;
  }
  const std::string expanded = expander ? expander->ExpandNames(name, 255) : name;
  const std::string absolute = MakeAbsolute(expanded);
  std::string result = LookupCached(absolute);
  if (result.empty()) result = FindInArchives(absolute);
  if (result.empty() && !IsDrivePath(absolute) && !IsNetworkPath(absolute)) {
    {
      std::lock_guard guard(lock_);
      allowed = allowFetch && ProjectAllowsFetch(absolute);
    }
    if (!standAlone) {
      if (allowed && !localBase) result = requestor ? requestor->PluginGetRemoteResource(absolute, found) : absolute;
    } else if (allowed && IsFetchableUrl(absolute)) {
      result = FetchStandAlone(absolute);
    }
    if (!result.empty() && result != kAbortAnswer) AddCachedResource(absolute, result);
  }
  if (result.empty()) result = absolute;
  Log("CResourceLocator::RetrieveResource(\"%s\") = \"%s\"", name.c_str(), result.c_str());
  return result;
}

// --- compilation archives ---

std::string CResourceLocator::ExtractEntry(const KvgReader& reader, const KvgEntry& entry) {
  std::lock_guard guard(lock_);
  const TempFolder* temp = Temp();
  if (!temp) return {};
  auto file = temp->CreateUnique("glm", SafeExtension(entry.name));
  if (!file) {
    Log("CResourceLocator: cannot create a file in \"%s\"", temp->path().c_str());
    return {};
  }
  KvgError error = reader.WriteEntryTo(entry, file->fd, options_.maxEntryBytes);
  bool closed = close(file->fd) == 0;
  if (error == KvgError::None && !closed) error = KvgError::WriteFailed;
  if (error != KvgError::None) {
    // A failed entry leaves no file and nothing in the cache.
    unlink(file->path.c_str());
    Log("CResourceLocator: cannot extract \"%s\" from \"%s\": %s", entry.name.c_str(), reader.path().c_str(),
        KvgErrorText(error));
    return {};
  }
  AddCachedResource(entry.name, file->path);
  return file->path;
}

bool CResourceLocator::OpenArchive(const std::string& path, uint32_t key, bool keepOpen) {
  KvgError error = KvgError::None;
  auto reader = KvgReader::Open(LocalHostPath(path), key, keepOpen, &error);
  if (!reader) {
    Log("CResourceLocator::OpenArchive(\"%s\") failed: %s", path.c_str(), KvgErrorText(error));
    return false;
  }
  std::lock_guard guard(lock_);
  if (keepOpen) {
    OpenedArchive archive{path, std::move(reader), {}};
    const auto& entries = archive.reader->entries();
    for (size_t i = 0; i < entries.size(); ++i) archive.byName.emplace(ToLower1252(entries[i].name), i);
    archives_.push_back(std::move(archive));
    return true;
  }
  std::vector<std::pair<std::string, std::string>> extracted;
  bool failed = false;
  error = reader->ForEachEntry([&](const KvgEntry& entry) {
    std::string local = ExtractEntry(*reader, entry);
    if (local.empty()) {
      failed = true;
      return false;
    }
    extracted.emplace_back(ToLower1252(entry.name), local);
    return true;
  });
  if (!failed && error == KvgError::None) return true;
  // A compilation that cannot be extracted whole leaves nothing behind.
  for (const auto& [name, local] : extracted) {
    auto it = cache_.find(name);
    if (it != cache_.end() && it->second == local) cache_.erase(it);
    unlink(local.c_str());
  }
  Log("CResourceLocator::OpenArchive(\"%s\") failed: %s", path.c_str(),
      error != KvgError::None ? KvgErrorText(error) : "an entry could not be extracted");
  return false;
}

bool CResourceLocator::IsArchiveOpen(const std::string& path) {
  std::lock_guard guard(lock_);
  const std::string host = LocalHostPath(path);
  for (const OpenedArchive& a : archives_)
    if (EqualsNoCase(a.name, path) || a.reader->path() == host) return true;
  return false;
}

void CResourceLocator::CloseArchive(const std::string& path) {
  std::lock_guard guard(lock_);
  const std::string host = LocalHostPath(path);
  std::erase_if(archives_, [&](const OpenedArchive& a) { return EqualsNoCase(a.name, path) || a.reader->path() == host; });
}

void CResourceLocator::CloseAllArchives() {
  std::lock_guard guard(lock_);
  archives_.clear();
}

std::string CResourceLocator::FindInArchives(const std::string& name) {
  if (EqualsNoCase(ExtensionOf(name), ".kvg")) return {};
  std::lock_guard guard(lock_);
  const std::string key = ToLower1252(name);
  for (const OpenedArchive& a : archives_) {
    auto it = a.byName.find(key);
    if (it != a.byName.end()) return ExtractEntry(*a.reader, a.reader->entries()[it->second]);
  }
  return {};
}

}  // namespace kv
