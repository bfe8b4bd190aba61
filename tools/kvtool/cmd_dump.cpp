#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunDump(int, char**) {
  return Fail("dump", kExitUnsupported, "not built yet: this build has no 'dump' command");
}

}  // namespace kv::tool
