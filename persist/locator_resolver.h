// Connects the document layer to the resource locator: OpenProject, the
// project tree and the engine reach a run's CResourceLocator through the
// ResourceResolver its ProjectSession holds.
#pragma once

#include "net/locator.h"
#include "persist/hooks.h"

namespace kv {

class LocatorResolver : public ResourceResolver {
 public:
  explicit LocatorResolver(CResourceLocator& locator) : locator_(locator) {}

  std::optional<std::string> RetrieveResource(const std::string& name) override;
  std::optional<std::string> LookupLocal(const std::string& name) override;
  std::optional<std::string> FindCachedName(const std::string& localFile) override;
  std::string GetBasePath() override;
  void SetBasePath(const std::string& projectUrl) override;
  bool IsArchiveOpen(const std::string& path) override;
  bool OpenArchive(const std::string& path, int key) override;
  bool UnpackArchive(const std::string& path, int key) override;
  bool CloseArchive(const std::string& path) override;
  void CloseAllArchives() override;
  void RegisterProjectPath(const std::string& path, const std::string& projectName) override;
  void ProjectOpened(bool compilation, uint8_t fetchFlags, const std::string& projectFile,
                     const std::string& compilationDir) override;
  void Reset() override;

 private:
  CResourceLocator& locator_;
};

}  // namespace kv
