// Registers every persistent class of the player's insert kinds (engine,
// visual, media and extension kinds with the records they hold), so that
// documents and kvtool can create any of them by name.
#pragma once

namespace kv {
void RegisterInsertClasses();
}
