// `kvtool check`: what would go wrong when a project plays, found without
// playing it and without writing anything. Stored names go through the same
// name macros and resource locator the player uses.
#pragma once

#include <string>
#include <vector>

#include "persist/project_session.h"

namespace kv::tool {

// One problem and where it is: the document as the project names it, the
// insert's position in it (1-based; 0 for the document itself), the insert's
// name, and the field inside the insert ("handlers/0/argument").
struct CheckProblem {
  std::string kind;  // "missing-file", "unreadable-file", "macro", "script", ...
  std::string document;
  int insert = 0;
  std::string insertName;
  std::string field;
  int line = 0;  // Orlan source line, when the problem is in one
  std::string message;
};

// Checks the project `session` has open: its own document, every script of
// its tree, the standbys file, and every file, name and Orlan source they
// refer to. Each problem is reported once.
std::vector<CheckProblem> CheckProject(ProjectSession& session, const std::string& programDir,
                                       const std::string& cacheDir);

}  // namespace kv::tool
