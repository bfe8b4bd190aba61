// kvtool head URL: the two questions scripts ask about a remote resource.
#include <cstdio>

#include "net/http.h"
#include "net/socket.h"
#include "tools/kvtool/commands.h"
#include "tools/kvtool/http_common.h"

namespace kv::tool {

const CommandSpec kHeadSpec{"head", "URL", "ask whether a remote file exists and how large it is", {}};

int RunHead(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kHeadSpec, argc, argv);
  RequireOperands(kHeadSpec, args, 1, 1);
  const UrlRecord url = HttpUrlOperand(kHeadSpec, args.operands[0]);
  HttpStatus status;
  int error = 0;
  // What the scripts' two questions answer, from one request.
  const NetHooks net;
  const bool ok = HttpGet(net, url, nullptr, status, nullptr, nullptr, nullptr, false, error) && status.status == 200;
  std::printf("exists: %s\nsize: %d\n", ok ? "true" : "false", ok ? static_cast<int32_t>(status.contentLength) : -1);
  if (ok) return kExitOk;
  return Fail(HttpFailureStatus(status), "%s: %s", args.operands[0].c_str(), HttpFailureText(error, status).c_str());
}

}  // namespace kv::tool
