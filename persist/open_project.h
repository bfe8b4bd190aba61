// Opening a project, script or compilation and making it the current
// project; closing it; loading the project again for the engine; preloading
// the standbys. The shell's start-up and the engine call these.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "platform/files.h"

namespace kv {

class CStgDoc;

// A project or compilation that cannot be prepared ends the process after its
// message; the shell catches this, the message already shown, and exits.
class FatalProjectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// `path` and `projectName` are stored names (Windows-1252, either separator).
bool OpenProject(const std::string& path, const std::string& projectName);

// What OpenProject kept for the locator and the engine.
struct OpenedProject {
  bool compilation = false;
  std::string compilationName;
  std::string compilationDir;
  std::string resolvedPath;  // the file that was read (stored form)
};
const OpenedProject& LastOpenedProject();

// The directories of the process: the current directory at start and the
// open project's drive and directory (with a trailing separator).
std::string& StartDir();
std::string& ProjectDir();

// Closing the document whose path is the current project path.
void CloseDocument(const std::shared_ptr<CStgDoc>& doc);

// The current project document, loading it again from the current project
// path when none is current; null (after the message) when it cannot be read.
std::shared_ptr<CStgDoc> LoadProjectForEngine(bool showErrors);

// With a standbys path, hands its file name to `preload` (the engine's
// "Preload script" command) when the locator finds the file, and answers true;
// answers false without one.
bool PreloadStandbys(const std::function<void(const std::string&)>& preload);
// The name the standbys preload resolves (file name and extension).
std::string StandbysPreloadName();


}  // namespace kv
