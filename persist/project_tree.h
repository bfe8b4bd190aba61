// The project tree: one CProjNode per script of a project, in list order with
// depths, and the queries the engine, the BASIC builtins and the locator ask
// of the current project's tree.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "persist/archive.h"

namespace kv {

class CStgDoc;

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

// The process-wide current project and what belongs to it.
std::shared_ptr<CStgDoc>& CurrentProject();
std::string& CurrentProjectPath();  // stored form
std::string& StandbysPath();

struct TreeNeighbours {
  bool found = false;
  std::shared_ptr<CProjNode> node, parent, next, prior, firstChild;
};

std::shared_ptr<CProjNode> FindTreeNode(const std::string& name);
int GetNodeKind(const std::string& name);
// Answers the kind and sets `path` to the path to use.
int ResolveScriptPath(const std::string& name, std::string& path);
TreeNeighbours GetTreeNeighbours(const std::string& name, bool scenesOnly, bool report);
std::optional<std::string> GetNextSibling(const std::string& name);
std::optional<std::string> GetNextScene(const std::string& name);
std::optional<std::string> GetPriorScene(const std::string& name, bool siblingsOnly);
std::optional<std::string> GetParentNode(const std::string& name);
std::optional<std::string> GetFirstChild(const std::string& name, std::shared_ptr<CProjNode>* node = nullptr);
std::optional<std::string> GetNodeDescription(const std::string& name);
std::optional<std::string> GetOrlanFile(const std::string& name);
std::vector<std::shared_ptr<CProjNode>> GetSceneBranch(const std::string& name);

// The Yes/No "Project Message" question for a name missing from the tree;
// "No" aborts the project.
void AskNotInProject(const std::string& name);

// Whether a file (not a directory) of this stored name exists in the current
// directory; case is ignored as the original's file system did.
bool FileExistsInCurrentDir(const std::string& fileNameAndExt);

}  // namespace kv
