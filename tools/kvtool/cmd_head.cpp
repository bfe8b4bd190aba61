#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunHead(int, char**) {
  return Fail("head", kExitUnsupported, "not built yet: this build has no 'head' command");
}

}  // namespace kv::tool
