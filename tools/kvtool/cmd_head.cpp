// kvtool head URL: the two questions scripts ask about a remote resource.
#include <cstdio>

#include "net/http.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunHead(int argc, char** argv) {
  if (argc != 1) return Fail("head", kExitUsage, "usage: kvtool head URL");
  bool exists = RemoteResourceExists(argv[0]);
  int32_t size = RemoteResourceSize(argv[0]);
  std::printf("exists: %s\nsize: %d\n", exists ? "true" : "false", size);
  return exists ? kExitOk : kExitNotFound;
}

}  // namespace kv::tool
