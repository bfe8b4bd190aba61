#include "tools/kvtool/http_common.h"

#include "net/socket.h"
#include "tools/common/toolkit.h"

namespace kv::tool {

UrlRecord HttpUrlOperand(const CommandSpec& spec, const std::string& text) {
  UrlRecord url;
  if (!ParseUrl(text, url) || url.type != kSchemeHttp) UsageError(spec, "'" + text + "' is not an http URL");
  if (!StartSockets()) throw ToolError(kExitFailed, "socket services are not available");
  return url;
}

std::string HttpFailureText(int error, const HttpStatus& status) {
  if (status.status != 0 && status.status != 200)
    return "error " + std::to_string(error) + " (the server answered HTTP status " + std::to_string(status.status) +
           ")";
  // 10013 also stands for a response without a usable header.
  if (error == kHttpErrorNotAvailable) return "error " + std::to_string(error) + " (no usable HTTP response)";
  return "error " + std::to_string(error) + " (" + WinSockErrorText(error) + ")";
}

int HttpFailureStatus(const HttpStatus& status) {
  return status.status == 404 || status.status == 410 ? kExitNotFound : kExitFailed;
}

}  // namespace kv::tool
