// What one run has open: the current project with its paths, and the
// resource locator and engine the document layer asks about it. The player
// owns one and hands it down; OpenProject, the project-tree queries and the
// document loader receive it, so runs in one process never share a project.
#pragma once

#include <memory>
#include <string>

#include "persist/hooks.h"
#include "platform/message_box.h"

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
