// What every kvtool command sets up: the persistent classes of this build,
// and a message-box service that prints to standard error.
#pragma once

namespace kv::tool {
void RegisterAllClasses();
// Messages the player would show in a box go to standard error, answered
// with the default button (kvtool never waits for a person).
void UseConsoleMessages();
}
