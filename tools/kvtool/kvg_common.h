// Shared by kvtool's compilation commands (ls, extract, pack-kvg): option
// parsing and opening an archive with its own or a given key.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "net/kvg_archive.h"

namespace kv::tool {

// A decimal or 0x-prefixed unsigned 32-bit number.
std::optional<uint32_t> ParseKey(const char* text);

// Opens `path` with `key`, or with the key its header names when none is
// given. On failure prints the reason for `command` and sets `exitCode`.
std::unique_ptr<KvgReader> OpenKvgForTool(const char* command, const std::string& path, std::optional<uint32_t> key,
                                          int& exitCode);

}  // namespace kv::tool
