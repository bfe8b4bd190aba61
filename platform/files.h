// Whole-file reads and writes of host files, for every layer and tool. A
// write goes to a temporary file beside the target and is renamed over it, so
// a failed write never leaves a half-written file behind.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// False when the path cannot be opened or is not a regular file.
bool ReadHostFile(const std::string& hostPath, std::string& bytes);

// On failure answers false with the errno value in `error` (when given);
// the target is then unchanged.
bool WriteFileAtomically(const std::string& hostPath, std::string_view bytes, int* error = nullptr);

}  // namespace kv
