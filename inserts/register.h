// Registers the visible-insert base and the visual kinds with the archive.
#pragma once

namespace kv {
void RegisterVisualClasses();
}
