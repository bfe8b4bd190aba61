// What one run has open: the current project with its paths, the folder and
// drive map its stored names resolve against, and the resource locator and
// engine the document layer asks about it. The player owns one and hands it
// down; OpenProject, the project-tree queries and the document loader
// receive it, so runs in one process never share a project or a folder.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "persist/document.h"
#include "persist/hooks.h"
#include "platform/message_box.h"
#include "platform/paths.h"

namespace kv {

class CStgDoc;

// What OpenProject kept for the locator and the engine.
struct OpenedProject {
  bool compilation = false;
  std::string compilationName;
  std::string compilationDir;
  std::string resolvedPath;  // the file that was read (stored form)
};

class ProjectSession {
 public:
  // Without a locator every name is a local file; without an engine nothing plays.
  ProjectSession() = default;
  explicit ProjectSession(ResourceResolver& locator) : locator_(&locator) {}
  ProjectSession(ResourceResolver& locator, PlayState& play) : locator_(&locator), play_(&play) {}
  ProjectSession(const ProjectSession&) = delete;
  ProjectSession& operator=(const ProjectSession&) = delete;

  ResourceResolver& locator() const { return *locator_; }
  PlayState& play() const { return *play_; }
  // The message box of the run's questions and reports; the process's when
  // none is set.
  MessageBoxService& messages() const { return messages_ ? *messages_ : MessageBoxes(); }
  void SetMessages(MessageBoxService* messages) { messages_ = messages; }

  // The host file a stored name stands for: an existing absolute host path
  // is itself; anything else resolves through `drives` from `baseDir` (the
  // process's current directory while no project is open).
  std::optional<std::string> HostPath(const std::string& name) const {
    return HostPathOf(name, drives, baseDir.empty() ? CurrentHostDir() : baseDir);
  }
  // The host folder relative names resolve from: the project's, once open.
  std::string BaseDir() const { return baseDir.empty() ? CurrentHostDir() : baseDir; }

  // C: is the open project's folder; the process's directory never moves.
  DriveMap drives;
  std::string baseDir;  // host folder; empty: the process's current directory

  // The stage settings of the project this session loaded last; a restart
  // that keeps its caption reads it. Written by the loader of this session's
  // documents, which holds the session as const.
  mutable ProjectSettings loadedSettings = ProjectSettings::Defaults();

  std::shared_ptr<CStgDoc> project;  // the current project
  std::string projectPath;           // its path, stored form
  std::string projectDir;            // its drive and directory, with a trailing separator
  std::string standbysPath;
  OpenedProject opened;

 private:
  ResourceResolver ownLocator_;
  PlayState ownPlay_;
  ResourceResolver* locator_ = &ownLocator_;
  PlayState* play_ = &ownPlay_;
  MessageBoxService* messages_ = nullptr;
};

// The session a walker loads for: the archive's; none for the JSON walkers.
template <class W>
const ProjectSession* SessionOf(W& w) {
  if constexpr (W::kArchive)
    return w.ar.session();
  else
    return nullptr;
}

}  // namespace kv
