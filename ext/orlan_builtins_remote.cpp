// Builtins about remote resources: the local file the resource locator gives
// for a name, whether a remote resource exists and its size, the parts of
// an address, and whether a scene's file is already at hand.
#include <algorithm>
#include <filesystem>

#include "engine/runner.h"
#include "ext/orlan_builtins.h"
#include "net/hooks.h"
#include "net/http.h"
#include "net/url.h"
#include "persist/project_session.h"
#include "platform/paths.h"

namespace kv {

namespace {

// The run's network hooks: its stop ends the transfer. A run without them
// (engine tests) transfers with none.
const NetHooks& NetOf(BuiltinCall& c) {
  static const NetHooks none;
  const NetHooks* net = c.runner.Context().net.get();
  return net ? *net : none;
}

void GetRemoteResource(BuiltinCall& c) {
  const std::string name = c.args.GetString(1);
  std::optional<std::string> local;
  {
    // A download may take a while; other threads of the script run meanwhile.
    orlan::Thread::Unlock unlock(c.thread);
    local = c.runner.Session().locator().RetrieveResource(name);
  }
  c.args.SetString(0, local.value_or(std::string()));
}

void IsRemoteResourceAvailable(BuiltinCall& c) {
  const std::string name = c.args.GetString(1);
  bool exists;
  {
    orlan::Thread::Unlock unlock(c.thread);
    exists = RemoteResourceExists(NetOf(c), name);
  }
  c.args.SetBoolean(0, exists);
}

void GetRemoteResourceSize(BuiltinCall& c) {
  const std::string name = c.args.GetString(1);
  int32_t size = -1;
  if (!name.empty()) {
    orlan::Thread::Unlock unlock(c.thread);
    size = RemoteResourceSize(NetOf(c), name);
  }
  c.args.SetLong(0, size);
}

void GetRemoteHostName(BuiltinCall& c) {
  UrlRecord url;
  ParseUrl(c.args.GetString(1), url);
  c.args.SetString(0, url.host);
}

void GetRemoteBasePath(BuiltinCall& c) {
  UrlRecord url;
  ParseUrl(c.args.GetString(1), url);
  std::replace(url.path.begin(), url.path.end(), '/', '\\');
  c.args.SetString(0, url.path);
}

// Downloaded: the locator has a local file for the name without fetching.
void IsSceneDownloaded(BuiltinCall& c) {
  auto local = c.runner.Session().locator().LookupLocal(c.args.GetString(1));
  auto host = local ? c.runner.Session().HostPath(*local) : std::nullopt;
  std::error_code ec;
  c.args.SetBoolean(0, host && std::filesystem::is_regular_file(*host, ec));
}

}  // namespace

void InstallRemoteBuiltins(BuiltinTable& table) {
  table.Set(126, GetRemoteResource);
  table.Set(137, IsRemoteResourceAvailable);
  table.Set(138, GetRemoteResourceSize);
  table.Set(144, GetRemoteBasePath);
  table.Set(152, IsSceneDownloaded);
  table.Set(170, GetRemoteHostName);
}

}  // namespace kv
