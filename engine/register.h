// Registers the engine's persistent classes (the insert base and the
// non-visual kinds) and installs the insert clone operation documents use.
#pragma once

namespace kv {
void RegisterEngineClasses();
}
