// The network builtins that send files: the multipart form upload, the raw
// upload whose request the script writes, and web publishing as an HTTP PUT.
// Uploads run on threads of their own and report to a project subroutine;
// the run's stop ends them.
#include <cstdlib>
#include <stdexcept>

#include "engine/runner.h"
#include "engine/var.h"
#include "engine/variables.h"
#include "ext/orlan_binding.h"
#include "ext/orlan_builtins.h"
#include "net/upload.h"
#include "platform/message_box.h"
#include "platform/string_table.h"

namespace kv {

namespace {

// The run's network hooks; a run without them (engine tests) cannot send.
std::shared_ptr<NetHooks> NetOf(BuiltinCall& c) {
  std::shared_ptr<NetHooks> net = c.runner.Context().net;
  if (!net) throw std::runtime_error("needs the run's network");
  return net;
}

std::string HostPathOrEmpty(BuiltinCall& c, const std::string& stored) {
  auto host = HostPathFor(stored, c.binding.Files());
  return host ? host->string() : std::string();
}

void UploadMultipartForm(BuiltinCall& c) {
  auto net = NetOf(c);
  MultipartUploadArgs a;
  a.host = c.args.GetString(1);
  a.filePath = c.args.GetString(2);
  a.hostPath = HostPathOrEmpty(c, a.filePath);
  a.pieces = c.args.GetLong(3);
  a.callback = c.args.GetString(4);
  a.target = c.args.GetString(5);
  a.userAgent = c.args.GetString(6);
  a.title = c.args.GetString(7);
  a.unused8 = c.args.GetString(8);
  a.unused9 = c.args.GetString(9);
  c.args.SetBoolean(0, !c.runner.shuttingDown && HttpUploadMultipartForm(net, a));
}

void UploadRaw(BuiltinCall& c) {
  c.args.SetBoolean(0, false);  // the outcome reaches the script through the callback
  auto net = NetOf(c);
  VariableStore& store = c.runner.variables();
  std::shared_ptr<CVarsItem> vars[6];
  const int argOf[6] = {1, 2, 3, 4, 5, 7};
  bool good = true;
  for (int i = 0; i < 6; ++i) {
    vars[i] = store.FindVariable(c.args.GetString(argOf[i]), nullptr, {}, false);
    good = good && vars[i];
  }
  if (!good || vars[5]->type != var_type::kInt4) {
    c.runner.Messages().Show("HTTP Upload has 1 or more bad paramaters", LoadString(sid::kAppName), MsgButtons::Ok,
                             MsgIcon::None);
    return;
  }
  if (c.runner.shuttingDown) {
    store.SetLastError(3);
    return;
  }
  const std::shared_ptr<ProjectSubPoster>& poster = c.binding.poster();
  RawUploadArgs a;
  a.header = store.Text(*vars[0]);
  if (std::string file = store.Text(*vars[1]); !file.empty()) a.hostPath = HostPathOrEmpty(c, file);
  a.trailer = store.Text(*vars[2]);
  a.host = store.Text(*vars[3]);
  a.pieces = vars[4]->type == var_type::kString ? std::atoi(store.Text(*vars[4]).c_str())
                                                : static_cast<int32_t>(store.ToDouble(*vars[4]));
  a.callback = c.args.GetString(6);
  a.cancelled = [poster, cancel = vars[5]] { return poster && poster->ReadNumber(*cancel) == -1; };
  if (!HttpUploadRaw(net, std::move(a))) store.SetLastError(3);
}

void WebPost(BuiltinCall& c) {
  auto net = NetOf(c);
  const std::string local = c.args.GetString(1);
  const std::string destination = c.args.GetString(2);
  const std::string site = c.args.GetString(3);
  const std::string host = local.empty() ? std::string() : HostPathOrEmpty(c, local);
  int32_t result;
  {
    orlan::Thread::Unlock unlock(c.thread);
    result = WebPut(*net, host, destination, site);
  }
  c.args.SetLong(0, result);
}

}  // namespace

void InstallUploadBuiltins(BuiltinTable& table) {
  table.Set(162, UploadMultipartForm);
  table.Set(169, WebPost);
  table.Set(171, UploadRaw);
}

}  // namespace kv
