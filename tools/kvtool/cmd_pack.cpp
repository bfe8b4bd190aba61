#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunPack(int, char**) {
  return Fail("pack", kExitUnsupported, "not built yet: this build has no 'pack' command");
}

}  // namespace kv::tool
