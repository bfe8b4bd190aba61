#include "persist/hooks.h"

#include "platform/paths.h"

namespace kv {

// Without a locator every name is a local file name, taken as it is.
std::optional<std::string> ResourceResolver::RetrieveResource(const std::string& name) { return name; }
std::optional<std::string> ResourceResolver::LookupLocal(const std::string& name) { return name; }
std::optional<std::string> ResourceResolver::FindCachedName(const std::string&) { return std::nullopt; }
std::string ResourceResolver::GetBasePath() { return {}; }
void ResourceResolver::SetBasePath(const std::string&) {}
bool ResourceResolver::IsArchiveOpen(const std::string&) { return false; }
bool ResourceResolver::OpenArchive(const std::string&, int) { return false; }
bool ResourceResolver::UnpackArchive(const std::string&, int) { return false; }
bool ResourceResolver::CloseArchive(const std::string&) { return false; }
void ResourceResolver::CloseAllArchives() {}
void ResourceResolver::RegisterProjectPath(const std::string&, const std::string&) {}
void ResourceResolver::ProjectOpened(bool, uint8_t, const std::string&, const std::string&) {}
void ResourceResolver::Reset() {}

bool PlayState::IsPlaying() { return false; }
void PlayState::SetLastError(int) {}
void PlayState::AbortProject() {}
bool PlayState::IsRestarting() { return false; }
void PlayState::ResetNavigation() {}

}  // namespace kv
