// Host-path helpers the file builtins' own files share; not part of the
// builtins' interface.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "ext/orlan_files.h"

namespace kv::files_internal {

bool IsLink(const std::filesystem::path& p);
bool Exists(const std::filesystem::path& p);
// Host names are UTF-8; scripts see Windows-1252.
std::string StoredName(const std::filesystem::path& p);
// The host file a stored name stands for, when the guard lets it be written.
std::optional<std::filesystem::path> WritableTarget(std::string_view file, const FileContext& files);

}  // namespace kv::files_internal
