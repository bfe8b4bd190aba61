// What the document layer asks of the layers above it: the resource locator
// (name mapping, base path, compilation archives) and the running engine
// (whether a project plays, rwLastError, aborting). A run hands its own
// implementations down in its ProjectSession; the defaults answer as if
// neither existed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kv {

class ResourceResolver {
 public:
  virtual ~ResourceResolver() = default;
  // The local file for a stored name; nothing when it cannot be had.
  virtual std::optional<std::string> RetrieveResource(const std::string& name);
  // The local file the locator already has for a name, fetching nothing.
  virtual std::optional<std::string> LookupLocal(const std::string& name);
  // The stored name a cached local file was retrieved for, if any.
  virtual std::optional<std::string> FindCachedName(const std::string& localFile);
  // The base that relative tree paths are completed against (empty: none).
  virtual std::string GetBasePath();
  // The URL of a project opened from the net; the base becomes its folder.
  virtual void SetBasePath(const std::string& projectUrl);
  // Compilation archives by path.
  virtual bool IsArchiveOpen(const std::string& path);
  virtual bool OpenArchive(const std::string& path, int key);
  // A resource bundle: every entry extracted now, the archive not kept.
  virtual bool UnpackArchive(const std::string& path, int key);
  // Closes one archive kept open; false when it was not open.
  virtual bool CloseArchive(const std::string& path);
  virtual void CloseAllArchives();
  // Plugin mode: a path registered with its project name is opened as it is.
  virtual void RegisterProjectPath(const std::string& path, const std::string& projectName);
  // What the locator keeps of the project OpenProject made current.
  virtual void ProjectOpened(bool compilation, uint8_t fetchFlags, const std::string& projectFile,
                             const std::string& compilationDir);
  // Drops the cache, the archives and the files extracted for the last project.
  virtual void Reset();
};

class PlayState {
 public:
  virtual ~PlayState() = default;
  virtual bool IsPlaying();
  virtual void SetLastError(int code);
  virtual void AbortProject();
  // A restart of the presentation is in progress (the stage is kept).
  virtual bool IsRestarting();
  // The engine forgets where it was (a new project became current).
  virtual void ResetNavigation();
};

}  // namespace kv
