#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunExtract(int, char**) {
  return Fail("extract", kExitUnsupported, "not built yet: this build has no 'extract' command");
}

}  // namespace kv::tool
