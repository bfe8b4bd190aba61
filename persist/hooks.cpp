#include "persist/hooks.h"

#include "platform/paths.h"

namespace kv {
namespace {
ResourceResolver* g_resolver = nullptr;
PlayState* g_play = nullptr;
}  // namespace

// Without a locator every name is a local file name, taken as it is.
std::optional<std::string> ResourceResolver::RetrieveResource(const std::string& name) { return name; }
std::optional<std::string> ResourceResolver::FindCachedName(const std::string&) { return std::nullopt; }
std::string ResourceResolver::GetBasePath() { return {}; }
void ResourceResolver::SetBasePath(const std::string&) {}
bool ResourceResolver::IsArchiveOpen(const std::string&) { return false; }
bool ResourceResolver::OpenArchive(const std::string&, int) { return false; }
void ResourceResolver::CloseAllArchives() {}
void ResourceResolver::RegisterProjectPath(const std::string&, const std::string&) {}
void ResourceResolver::ProjectOpened(bool, uint8_t, const std::string&, const std::string&) {}
void ResourceResolver::Reset() {}

bool PlayState::IsPlaying() { return false; }
void PlayState::SetLastError(int) {}
void PlayState::AbortProject() {}
bool PlayState::IsRestarting() { return false; }
void PlayState::ResetNavigation() {}

ResourceResolver& Resolver() {
  static ResourceResolver fallback;
  return g_resolver ? *g_resolver : fallback;
}
void SetResolver(ResourceResolver* resolver) { g_resolver = resolver; }

PlayState& Engine() {
  static PlayState fallback;
  return g_play ? *g_play : fallback;
}
void SetPlayState(PlayState* state) { g_play = state; }

}  // namespace kv
