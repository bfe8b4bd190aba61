#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunCompose(int, char**) {
  return Fail("compose", kExitUnsupported, "not built yet: this build has no 'compose' command");
}

}  // namespace kv::tool
