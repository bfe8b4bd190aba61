// The diagnostic log: one line per call appended to the file the settings
// name, when the settings enable it. Any thread, any number of processes.
#pragma once

#include <string>

namespace kv {

// printf-style; the formatted text is cut to 1024 characters and ends in CRLF.
void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Whether the process runs hosted ("Plugin mode" in the log header).
void SetLogPluginMode(bool plugin);

// Forgets what the first call read from the settings and whether this process
// wrote its header, as if the process had just started (tests).
void ResetLogForTesting();

}  // namespace kv
