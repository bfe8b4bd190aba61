#include "tools/kvtool/commands.h"

namespace kv::tool {

int RunXml(int, char**) {
  return Fail("xml", kExitUnsupported, "not built yet: this build has no 'xml' command");
}

}  // namespace kv::tool
