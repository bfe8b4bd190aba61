// The project tree: one CProjNode per script of a project, in list order with
// depths, and the queries the engine, the BASIC builtins and the locator ask
// of the tree of a run's current project.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "persist/archive.h"

namespace kv {

class CStgDoc;
class ProjectSession;

enum NodeKind : int {
  kNodeProject = 0,
  kNodeNotInProject = 1,
  kNodeBackground = 2,
  kNodeFreestyle = 3,
  kNodeScene = 4,
  kNodeStandbys = 5,
};

class CProjNode : public CObject {
  KV_DECLARE_CLASS(CProjNode)
 public:
  uint16_t nodeVersion = 0;
  std::string path;
  std::string orlanFile;
  std::string note;
  uint32_t loadedVersion = 0;
  uintptr_t treeItem = 0;
  uint8_t kind = 0;
  uint16_t level = 1;
  std::string description;
  uint16_t extraWord = 0;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

struct TreeNeighbours {
  bool found = false;
  std::shared_ptr<CProjNode> node, parent, next, prior, firstChild;
};

// The queries about the tree of the session's current project.
std::shared_ptr<CProjNode> FindTreeNode(const ProjectSession& session, const std::string& name);
int GetNodeKind(const ProjectSession& session, const std::string& name);
// Answers the kind and sets `path` to the path to use.
int ResolveScriptPath(const ProjectSession& session, const std::string& name, std::string& path);
TreeNeighbours GetTreeNeighbours(const ProjectSession& session, const std::string& name, bool scenesOnly,
                                 bool report);
std::optional<std::string> GetNextSibling(const ProjectSession& session, const std::string& name);
std::optional<std::string> GetNextScene(const ProjectSession& session, const std::string& name);
std::optional<std::string> GetPriorScene(const ProjectSession& session, const std::string& name, bool siblingsOnly);
std::optional<std::string> GetParentNode(const ProjectSession& session, const std::string& name);
std::optional<std::string> GetFirstChild(const ProjectSession& session, const std::string& name,
                                         std::shared_ptr<CProjNode>* node = nullptr);
std::optional<std::string> GetNodeDescription(const ProjectSession& session, const std::string& name);
std::optional<std::string> GetOrlanFile(const ProjectSession& session, const std::string& name);
// The Orlan code file the project's own node names, wherever it stands in the
// tree; empty when no project node names one.
std::string ProjectOrlanFile(const std::vector<std::shared_ptr<CProjNode>>& tree);
std::vector<std::shared_ptr<CProjNode>> GetSceneBranch(const ProjectSession& session, const std::string& name);

// The Yes/No "Project Message" question for a name missing from the tree;
// "No" aborts the session's project.
void AskNotInProject(const ProjectSession& session, const std::string& name);

// Whether a file (not a directory) of this stored name exists in the session's
// base folder; case is ignored as the original's file system did.
bool FileExistsInBaseDir(const ProjectSession& session, const std::string& fileNameAndExt);

}  // namespace kv
