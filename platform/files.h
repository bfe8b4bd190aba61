// Whole-file reads and writes of host files, for every layer and tool. A
// write goes to a temporary file beside the target and is renamed over it, so
// a failed write never leaves a half-written file behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kv {

// False when the path cannot be opened or read or is not a regular file, with
// the errno value in `error` (when given): EISDIR for a folder, ENODEV for
// any other special file; EFBIG for a file longer than `maxBytes`, which is
// never read past that length.
bool ReadHostFile(const std::string& hostPath, std::string& bytes, int* error = nullptr,
                  uint64_t maxBytes = UINT64_MAX);

// On failure answers false with the errno value in `error` (when given);
// the target is then unchanged.
bool WriteFileAtomically(const std::string& hostPath, std::string_view bytes, int* error = nullptr);

// Copies a regular file (never a link, a folder or a special file) to
// `targetPath` with its permission bits, through a temporary file renamed
// over the target: a link standing at the target is replaced, not followed.
bool CopyFileAtomically(const std::string& sourcePath, const std::string& targetPath, int* error = nullptr);

// True when no symbolic link stands on `path` below `folder` (both absolute
// and lexically normal, `path` inside `folder`): each component is looked at
// with lstat, the last one only when `withLast`. A missing component ends the
// walk, since whatever is made there is made as a real folder or file; any
// other failure to look answers false.
bool NoLinkBelow(const std::string& folder, const std::string& path, bool withLast);

// strerror's text starting in lower case, to follow a colon in a message
// ("cannot read x: no such file or directory").
std::string ErrnoText(int err);

}  // namespace kv
