#include "persist/locator_resolver.h"

namespace kv {

namespace {

// A refusal from the host is not a file name.
std::optional<std::string> LocalFile(std::string local) {
  if (local.empty() || IsSentinelAnswer(local)) return std::nullopt;
  return local;
}

}  // namespace

std::optional<std::string> LocatorResolver::RetrieveResource(const std::string& name) {
  int found = 1;
  return LocalFile(locator_.RetrieveResource(name, true, &found));
}

std::optional<std::string> LocatorResolver::LookupLocal(const std::string& name) {
  return LocalFile(locator_.RetrieveResource(name, false));
}

std::optional<std::string> LocatorResolver::FindCachedName(const std::string& localFile) {
  std::string name = locator_.FindCachedName(localFile);
  if (name.empty()) return std::nullopt;
  return name;
}

std::string LocatorResolver::GetBasePath() { return locator_.BasePath(); }
void LocatorResolver::SetBasePath(const std::string& projectUrl) { locator_.SetBasePath(projectUrl, true); }
bool LocatorResolver::IsArchiveOpen(const std::string& path) { return locator_.IsArchiveOpen(path); }
bool LocatorResolver::OpenArchive(const std::string& path, int key) {
  return locator_.OpenArchive(path, static_cast<uint32_t>(key), true);
}
bool LocatorResolver::UnpackArchive(const std::string& path, int key) {
  return locator_.OpenArchive(path, static_cast<uint32_t>(key), false);
}
bool LocatorResolver::CloseArchive(const std::string& path) {
  if (!locator_.IsArchiveOpen(path)) return false;
  locator_.CloseArchive(path);
  return true;
}
void LocatorResolver::CloseAllArchives() { locator_.CloseAllArchives(); }
void LocatorResolver::RegisterProjectPath(const std::string& path, const std::string& projectName) {
  locator_.AddCachedResource(projectName, path);
}
void LocatorResolver::ProjectOpened(bool compilation, uint8_t fetchFlags, const std::string& projectFile,
                                    const std::string& compilationDir) {
  locator_.SetProject({true, compilation, fetchFlags, projectFile, compilationDir});
}
void LocatorResolver::Reset() { locator_.Reset(); }

}  // namespace kv
