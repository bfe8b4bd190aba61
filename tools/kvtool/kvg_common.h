// Shared by kvtool's compilation commands (dump, ls, extract, pack-kvg): the
// key option, and opening an archive with its own or a given key.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "net/kvg_archive.h"
#include "tools/common/options.h"

namespace kv::tool {

// The --key line of the commands that read a compilation.
inline constexpr OptionSpec kReadKeyOption{"--key", "N",
                                           "the compilation's key (decimal or 0x...); by default the one its header names"};

// A decimal or 0x-prefixed unsigned 32-bit number.
std::optional<uint32_t> ParseKey(const char* text);
// The value of --key when given; a usage error when it is not a key.
std::optional<uint32_t> KeyOption(const CommandSpec& spec, const ParsedArgs& args);

// Opens `path` with `key`, or with the key its header names when none is
// given. On failure prints the reason and sets `exitCode`.
std::unique_ptr<KvgReader> OpenKvgForTool(const std::string& path, std::optional<uint32_t> key, int& exitCode);

}  // namespace kv::tool
