// Registers every persistent class this build has, so that kvtool reads and
// writes all of them by name.
#pragma once

namespace kv::tool {
void RegisterAllClasses();
}
