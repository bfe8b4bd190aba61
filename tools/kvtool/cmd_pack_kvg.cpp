#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunPackKvg(int, char**) {
  return Fail("pack-kvg", kExitUnsupported, "not built yet: this build has no 'pack-kvg' command");
}

}  // namespace kv::tool
