// Builtins that ask about the project tree (names of scenes around a script,
// node descriptions), walk the inserts of a script with a scan cursor kept
// per run, and move scripts in the tree.
#include <algorithm>

#include "engine/bottom.h"
#include "engine/commands.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "ext/basic_insert.h"
#include "ext/orlan_binding.h"
#include "ext/orlan_builtins.h"
#include "persist/document.h"
#include "persist/project_session.h"
#include "persist/project_tree.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

namespace {

void CurrentScript(BuiltinCall& c) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  c.args.SetString(0, ctx && ctx->currentScript ? ctx->currentScript->pathName : std::string());
}

void FirstScene(BuiltinCall& c) {
  std::string first;
  if (const DocPtr& project = c.runner.project())
    for (const auto& node : project->projectTree)
      if (node && node->kind == kNodeScene) {
        first = node->path;
        break;
      }
  c.args.SetString(0, first);
}

template <std::optional<std::string> (*Query)(const ProjectSession&, const std::string&)>
void TreeQuery(BuiltinCall& c) {
  c.args.SetString(0, Query(c.runner.Session(), c.args.GetString(1)).value_or(std::string()));
}

std::optional<std::string> PriorScene(const ProjectSession& session, const std::string& name) {
  return GetPriorScene(session, name, false);
}

void SetDescription(BuiltinCall& c) {
  if (auto node = FindTreeNode(c.runner.Session(), c.args.GetString(1))) node->description = c.args.GetString(2);
}

// Adds a script to the project tree in memory, as the last child of the
// parent node (of the project when there is no such node); a name already
// in the tree stays where it is.
void AddScript(BuiltinCall& c) {
  const DocPtr& project = c.runner.project();
  const std::string name = c.args.GetString(1);
  if (!project || name.empty() || FindTreeNode(c.runner.Session(), name)) return;
  auto& tree = project->projectTree;
  std::shared_ptr<CProjNode> parent = FindTreeNode(c.runner.Session(), c.args.GetString(2));
  size_t at = tree.size();
  uint16_t level = 1;
  uint8_t kind = kNodeFreestyle;
  if (parent) {
    auto it = std::find(tree.begin(), tree.end(), parent);
    at = static_cast<size_t>(it - tree.begin()) + 1;
    while (at < tree.size() && tree[at] && tree[at]->level > parent->level) ++at;
    level = static_cast<uint16_t>(parent->level + 1);
    if (parent->kind == kNodeScene) kind = kNodeScene;
  }
  auto node = std::make_shared<CProjNode>();
  node->path = name;
  node->kind = kind;
  node->level = level;
  node->description = name;
  tree.insert(tree.begin() + static_cast<std::ptrdiff_t>(at), node);
}

void MoveScriptInTree(BuiltinCall& c) {
  CBasic* basic = c.Caller();
  c.Post(c.runner.ProjectThread(), command::kMoveInTree, c.args.GetString(1) + "," + c.args.GetString(2),
         basic ? basic->shared_from_this() : nullptr);
}

// The scan cursor serves the project's main script thread alone.
bool OnTopThread(BuiltinCall& c) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (ctx && ctx->isProjectThread) return true;
  c.runner.ShowError(sid::kMustRunFromTopThread, LoadString(sid::kMustRunFromTopThread), LoadString(sid::kOrlanError));
  return false;
}

void StartScan(BuiltinCall& c) {
  if (!OnTopThread(c)) {
    c.args.SetLong(0, 0);
    return;
  }
  OrlanBinding::ScanCursor& scan = c.binding.scan;
  DocPtr script = c.runner.FindLoadedScript(c.runner.ExpandNames(c.args.GetString(1)));
  scan.script = script;
  scan.index = -1;
  scan.active = script != nullptr;
  c.args.SetLong(0, scan.active ? 1 : 0);
}

void ScanScript(BuiltinCall& c) {
  if (!OnTopThread(c)) return;
  static constexpr const char* kEnd = "Script-End";
  OrlanBinding::ScanCursor& scan = c.binding.scan;
  DocPtr script = scan.active ? scan.script.lock() : nullptr;
  if (!script) {
    scan.active = false;
    c.args.SetString(0, kEnd);
    return;
  }
  const std::string field = c.args.GetString(1);
  const std::string direction = c.args.GetString(2);
  if (EqualsNoCase(direction, "backward"))
    scan.index = std::max<int64_t>(scan.index - 1, 0);
  else if (!EqualsNoCase(direction, "none"))
    ++scan.index;
  const auto& items = script->items;
  const int64_t at = std::max<int64_t>(scan.index, 0);
  const auto* insert = at < static_cast<int64_t>(items.size()) ? dynamic_cast<const CInsert*>(items[at].get()) : nullptr;
  if (!insert || dynamic_cast<const CBottom*>(insert)) {
    scan = {};
    c.args.SetString(0, kEnd);
    return;
  }
  if (EqualsNoCase(field, "name"))
    c.args.SetString(0, insert->name);
  else if (EqualsNoCase(field, "comment"))
    c.args.SetString(0, insert->comment);
  else if (EqualsNoCase(field, "filename"))
    c.args.SetString(0, insert->GetFileName());
  else
    c.args.SetString(0, "Invalid Request");
}

}  // namespace

void InstallTreeBuiltins(BuiltinTable& table) {
  table.Set(108, CurrentScript);
  table.Set(109, FirstScene);
  table.Set(110, TreeQuery<GetNextScene>);
  table.Set(111, TreeQuery<PriorScene>);
  table.Set(112, TreeQuery<GetParentNode>);
  table.Set(113, TreeQuery<GetNodeDescription>);
  table.Set(120, TreeQuery<GetNodeDescription>);
  table.Set(114, SetDescription);
  table.Set(121, SetDescription);
  table.Set(115, ScanScript);
  table.Set(116, StartScan);
  table.Set(106, AddScript);
  table.Set(140, MoveScriptInTree);
}

}  // namespace kv
