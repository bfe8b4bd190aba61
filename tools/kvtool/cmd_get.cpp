#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunGet(int, char**) {
  return Fail("get", kExitUnsupported, "not built yet: this build has no 'get' command");
}

}  // namespace kv::tool
