#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunLs(int, char**) {
  return Fail("ls", kExitUnsupported, "not built yet: this build has no 'ls' command");
}

}  // namespace kv::tool
