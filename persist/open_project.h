// Opening a project, script or compilation and making it the current
// project of a session; closing it; loading the project again for the
// engine; preloading the standbys. The player's start-up, kvtool and the
// engine call these.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/files.h"

namespace kv {

class CStgDoc;
class ProjectSession;

// A project or compilation that cannot be prepared ends the process after its
// message; the shell catches this, the message already shown, and exits.
class FatalProjectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Makes the file the session's current project, found through the session's
// locator. `path` and `projectName` are stored names (Windows-1252, either
// separator).
bool OpenProject(ProjectSession& session, const std::string& path, const std::string& projectName);

// The local regular file a stored name (macros already expanded) stands for,
// through the session's resource locator; nothing when there is none.
std::optional<std::filesystem::path> LocalFileOf(const ProjectSession& session, const std::string& name);

// The current directory of the process at start.
std::string& StartDir();

// Closing the document whose path is the session's current project path.
void CloseDocument(ProjectSession& session, const std::shared_ptr<CStgDoc>& doc);

// The session's project document, loading it again from its project path
// when none is current; null (after the message) when it cannot be read.
std::shared_ptr<CStgDoc> LoadProjectForEngine(ProjectSession& session, bool showErrors);

// With a standbys path, hands its file name to `preload` (the engine's
// "Preload script" command) when the locator finds the file, and answers true;
// answers false without one.
bool PreloadStandbys(const ProjectSession& session, const std::function<void(const std::string&)>& preload);
// The name the standbys preload resolves (file name and extension).
std::string StandbysPreloadName(const ProjectSession& session);


}  // namespace kv
