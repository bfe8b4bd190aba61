#include "persist/project_tree.h"

#include <sys/stat.h>
#include <unistd.h>

#include "net/url.h"
#include "persist/document.h"
#include "persist/field_walk.h"
#include "persist/hooks.h"
#include "persist/project_session.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

KV_IMPLEMENT_CLASS(CProjNode, CObject, 0)

template <class W>
void CProjNode::Walk(W& w) {
  const uint16_t v = w.Version("nodeVersion", nodeVersion, 4, 1, "project tree node");
  if (W::kArchive && w.Filling()) extraWord = 0;
  if (w.Filling()) loadedVersion = nodeVersion;
  if (v >= 3) {
    w("description", description);
    w("note", note);
    w("orlanFile", orlanFile);
    w("extraWord", extraWord);
  }
  w("kind", kind);
  w("level", level);
  w("path", path);
  if (!W::kArchive || !w.Filling()) return;
  // A loaded path is made absolute against the project's base.
  std::string trimmed(Trim(path));
  const ProjectSession* session = SessionOf(w);
  std::string base = IsPluginMode() || !session ? std::string() : session->locator().GetBasePath();
  if (!base.empty() && !trimmed.empty() && !IsAbsoluteName(trimmed)) {
    if (IsSeparator(trimmed.front())) trimmed.erase(0, 1);
    path = base + trimmed;
  } else {
    path = trimmed;
  }
  if (v == 1) path += ".kvs";
}

KV_FIELD_WALK_IO(CProjNode)

namespace {

const std::vector<std::shared_ptr<CProjNode>>* Tree(const ProjectSession& session) {
  const auto& doc = session.project;
  if (!doc || doc->projectTree.empty()) return nullptr;
  return &doc->projectTree;
}

bool NodeMatches(const ProjectSession& session, const CProjNode& node, const std::string& name, bool useCache) {
  std::string nodeFile = FileNameAndExt(node.path);
  if (EqualsNoCase(nodeFile, FileNameAndExt(name))) return true;
  if (!useCache) return false;
  auto original = session.locator().FindCachedName(name);
  return original && EqualsNoCase(nodeFile, FileNameAndExt(*original));
}

bool Absolute(const std::string& path) { return IsAbsoluteName(path) || (!path.empty() && path[0] == '.'); }

bool IsCompilationOpen(const ProjectSession& session) {
  const auto& doc = session.project;
  return doc && doc->fromCompilation;
}

}  // namespace

bool FileExistsInBaseDir(const ProjectSession& session, const std::string& fileNameAndExt) {
  auto host = ResolveHostPath(fileNameAndExt, session.drives, session.BaseDir());
  if (!host) return false;
  struct stat st {};
  return ::stat(host->c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::shared_ptr<CProjNode> FindTreeNode(const ProjectSession& session, const std::string& name) {
  const auto* tree = Tree(session);
  if (!tree) return nullptr;
  for (const auto& node : *tree)
    if (node && NodeMatches(session, *node, name, true)) return node;
  return nullptr;
}

int GetNodeKind(const ProjectSession& session, const std::string& name) {
  auto node = FindTreeNode(session, name);
  return node ? static_cast<int>(node->kind) : static_cast<int>(kNodeNotInProject);
}

int ResolveScriptPath(const ProjectSession& session, const std::string& name, std::string& path) {
  if (EqualsNoCase(ExtensionOf(name), ".kvb")) return kNodeStandbys;
  auto node = FindTreeNode(session, name);
  if (!node) return kNodeNotInProject;
  path = node->path;
  std::string local = FileNameAndExt(name);
  if (Absolute(path) && !IsCompilationOpen(session) && FileExistsInBaseDir(session, local)) path = local;
  return node->kind;
}

void AskNotInProject(const ProjectSession& session, const std::string& name) {
  std::string text = name + LoadString(sid::kNotInProject) + LoadString(sid::kContinueYesNo);
  const MsgAnswer answer =
      session.messages().Show(text, LoadString(sid::kProjectMessage), MsgButtons::YesNo, MsgIcon::Question);
  if (answer == MsgAnswer::No) session.play().AbortProject();
}

TreeNeighbours GetTreeNeighbours(const ProjectSession& session, const std::string& name, bool scenesOnly,
                                 bool report) {
  TreeNeighbours r;
  const auto* tree = Tree(session);
  if (tree) {
    const auto& nodes = *tree;
    size_t i = 0;
    bool ended = false;
    while (i < nodes.size() && !ended) {
      if (!nodes[i] || !NodeMatches(session, *nodes[i], name, true)) {
        ++i;
        continue;
      }
      // A later match repeats the walk and replaces what the earlier one found.
      r = TreeNeighbours{};
      r.found = true;
      r.node = nodes[i];
      const uint16_t level = nodes[i]->level;
      size_t j = i + 1;
      for (; j < nodes.size(); ++j) {
        const auto& n = nodes[j];
        if (!n) continue;
        if (scenesOnly) {
          if (n->kind == kNodeScene) {
            r.next = n;
            break;
          }
        } else {
          if (n->level < level) break;
          if (n->level == level) {
            r.next = n;
            break;
          }
          if (!r.firstChild) r.firstChild = n;
        }
      }
      const size_t lastLooked = j;
      if (!scenesOnly && level == 0) break;
      for (size_t k = i; k-- > 0;) {
        const auto& n = nodes[k];
        if (!n) continue;
        if (scenesOnly) {
          if (n->kind == kNodeScene) {
            r.prior = n;
            break;
          }
        } else {
          if (n->level < level) {
            if (n->level != 0) r.parent = n;
            ended = true;
            break;
          }
          if (n->level == level && !r.prior) r.prior = n;
        }
      }
      i = lastLooked + 1;
    }
  }
  if (r.found) return r;
  const std::string& standbys = session.standbysPath;
  if (!standbys.empty() && EqualsNoCase(FileNameAndExt(name), FileNameAndExt(standbys))) {
    r.found = true;
    return r;
  }
  if (report && !name.empty() && session.play().IsPlaying()) {
    session.play().SetLastError(4);
    AskNotInProject(session, name);
  }
  return r;
}

std::optional<std::string> GetNextSibling(const ProjectSession& session, const std::string& name) {
  auto r = GetTreeNeighbours(session, name, false, false);
  if (!r.next) return std::nullopt;
  return r.next->path;
}

std::optional<std::string> GetNextScene(const ProjectSession& session, const std::string& name) {
  auto r = GetTreeNeighbours(session, name, true, false);
  if (!r.next) return std::nullopt;
  return r.next->path;
}

std::optional<std::string> GetPriorScene(const ProjectSession& session, const std::string& name, bool siblingsOnly) {
  auto r = GetTreeNeighbours(session, name, !siblingsOnly, false);
  if (!r.prior) return std::nullopt;
  if (!siblingsOnly) return r.prior->path;
  if (r.prior->kind != kNodeScene) return std::nullopt;
  auto other = GetTreeNeighbours(session, r.prior->path, false, true);
  if (other.parent != r.parent) return std::nullopt;
  return r.prior->path;
}

std::optional<std::string> GetParentNode(const ProjectSession& session, const std::string& name) {
  auto r = GetTreeNeighbours(session, name, false, false);
  if (!r.parent) return std::nullopt;
  return r.parent->path;
}

std::optional<std::string> GetFirstChild(const ProjectSession& session, const std::string& name,
                                         std::shared_ptr<CProjNode>* node) {
  auto r = GetTreeNeighbours(session, name, false, true);
  if (node) *node = r.node;
  if (!r.firstChild) return std::nullopt;
  return r.firstChild->path;
}

std::optional<std::string> GetNodeDescription(const ProjectSession& session, const std::string& name) {
  auto r = GetTreeNeighbours(session, name, false, true);
  if (!r.node) return std::nullopt;
  return r.node->description;
}

std::optional<std::string> GetOrlanFile(const ProjectSession& session, const std::string& name) {
  auto r = GetTreeNeighbours(session, name, false, true);
  if (!r.node) return std::nullopt;
  std::string path = r.node->orlanFile;
  if (path.empty()) return std::nullopt;
  if (!Absolute(path)) return path;
  {
    auto host = ResolveHostPath(path, session.drives, session.BaseDir());
    struct stat st {};
    if (host && ::stat(host->c_str(), &st) == 0 && S_ISREG(st.st_mode)) return path;
  }
  std::string local = FileNameOnly(name) + ".ebc";
  if (FileExistsInBaseDir(session, local)) return local;
  return path;
}

std::vector<std::shared_ptr<CProjNode>> GetSceneBranch(const ProjectSession& session, const std::string& name) {
  std::vector<std::shared_ptr<CProjNode>> branch;
  const auto* tree = Tree(session);
  if (!tree) return branch;
  const auto& nodes = *tree;
  bool matched = false;
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (!nodes[i] || !NodeMatches(session, *nodes[i], name, false)) continue;
    matched = true;
    if (nodes[i]->kind != kNodeScene && nodes[i]->kind != kNodeBackground) return branch;
    uint16_t lowest = nodes[i]->level;
    for (size_t k = i; k-- > 0;) {
      const auto& n = nodes[k];
      if (n && n->level != 0 && n->level < lowest) {
        branch.push_back(n);
        lowest = n->level;
      }
    }
  }
  if (!matched && session.play().IsPlaying()) AskNotInProject(session, name);
  return branch;
}

std::string ProjectOrlanFile(const std::vector<std::shared_ptr<CProjNode>>& tree) {
  for (const auto& node : tree)
    if (node && node->kind == kNodeProject && !node->orlanFile.empty()) return node->orlanFile;
  return {};
}

}  // namespace kv
