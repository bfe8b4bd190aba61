// Shared by kvtool get and head: the URL operand and the wording and exit
// status of a failed request.
#pragma once

#include <string>

#include "net/http.h"
#include "net/url.h"
#include "tools/common/options.h"

namespace kv::tool {

// The operand as an http URL, with the socket services started; a usage
// error for anything else, kExitFailed when sockets are not available.
UrlRecord HttpUrlOperand(const CommandSpec& spec, const std::string& text);

// "error 10061 (connection refused)"; for an answer other than 200, the
// server's status beside the code.
std::string HttpFailureText(int error, const HttpStatus& status);
// kExitNotFound when the server answered that it has no such file,
// kExitFailed when no usable answer came.
int HttpFailureStatus(const HttpStatus& status);

}  // namespace kv::tool
