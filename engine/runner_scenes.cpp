// Scene changes: going to a scene or freestyle script, entering the
// ancestors of the target, and loading it on the project thread.
#include "engine/runner.h"

#include <algorithm>
#include <optional>

#include "engine/flow.h"
#include "engine/strings.h"
#include "persist/document.h"
#include "persist/project_tree.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

int Runner::ChangeScene(CFlow& flow, uint16_t code) {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (!ctx) return 0;
  DocPtr current = ctx->currentScript;
  const std::string currentPath = current ? current->pathName : std::string();
  std::optional<std::string> target;
  if (code == command::kGoToFreestyleScript || code == command::kGoToScene) {
    std::string name = ExpandNames(flow.argument);
    if (name.empty()) throw KVRunException(sid::kScriptNameBlank, {});
    target = name;
  } else if (code == 34) {
    target = GetNextScene(Session(), currentPath);
  } else if (code == 35) {
    target = GetPriorScene(Session(), currentPath, false);
  } else {
    target = GetParentNode(Session(), currentPath);
  }
  if (!target) {
    variables_.SetLastError(2);
    return 1;
  }
  std::string path = *target;
  int kind = ResolveScriptPath(Session(), *target, path);
  flow.resolvedPath = path;
  if (current && (EqualsNoCase(path, currentPath) || EqualsNoCase(*target, currentPath))) {
    sceneChanging = false;
    variables_.SetLastError(1);
    return 1;
  }
  const bool fromProject = current == project_;
  if (code == command::kGoToFreestyleScript) {
    bool fromFreestyle = current && GetNodeKind(Session(), currentPath) == kNodeFreestyle;
    if (!(fromProject || fromFreestyle) || kind != kNodeFreestyle) {
      variables_.SetLastError(4);
      return 1;
    }
  } else {
    bool fromScene = current && current->isScene;
    if (!(fromProject || fromScene)) {
      variables_.SetLastError(4);
      return 1;
    }
    if (kind != kNodeScene) {
      if (code == command::kGoToScene) {
        // Looked up once more; a target of another kind is still entered.
        WaitPeriod(100, false);
        kind = ResolveScriptPath(Session(), *target, path);
        if (kind != kNodeScene) {
          variables_.SetLastError(4);
          if (shuttingDown) return 1;
        }
      } else {
        variables_.SetLastError(4);
        return 1;
      }
    }
  }
  // Leave the old branch: stop the old scene, enter the ancestors of the
  // target the old scene did not share, in order from the top.
  auto oldBranch = current ? GetSceneBranch(Session(), currentPath) : decltype(GetSceneBranch(Session(), path)){};
  auto newBranch = GetSceneBranch(Session(), *target);
  if (current && current->isScene) StopScriptInserts(current);
  for (auto it = newBranch.rbegin(); it != newBranch.rend(); ++it) {
    const auto& node = *it;
    bool shared = std::any_of(oldBranch.begin(), oldBranch.end(), [&](const auto& n) { return n == node; });
    if (shared || (current && EqualsNoCase(node->path, currentPath))) continue;
    auto enter = std::make_shared<CFlow>();
    enter->command = command::kCallFreestyleScript;
    enter->argument = node->path;
    enter->active = 1;
    enter->thread = ctx->shared_from_this();
    RunGuarded(enter, run_mode::kHandler);
    if (shuttingDown) return 1;
  }
  bool inUse = false, failed = false;
  DocPtr doc = LoadScript(path, code, inUse, failed);
  if (inUse) {
    variables_.SetLastError(5);
    return 1;
  }
  if (failed || !doc) throw KVRunException(sid::kUnableToLocateScript, *target);
  if (code != command::kGoToFreestyleScript) sceneLoading = true;
  sceneChanging = false;
  if (current && current != project_) ReleaseScript(current);
  ctx->port.FlushRequests();
  ctx->SetScript(doc);
  ctx->nextPosition = doc->items.empty() ? kNoPosition : 0;
  ctx->endPosition = static_cast<int64_t>(doc->items.size()) - 1;
  return 1;
}

}  // namespace kv
