// The process environment as scripts see it (Orlan's Environ): entries
// are read here so the core needs no POSIX headers.
#pragma once

#include <optional>
#include <string>

namespace kv {

// The value of a variable, if it is set.
std::optional<std::string> EnvironmentValue(const std::string& name);
// The index-th entry (1-based) as "NAME=value", if there is one.
std::optional<std::string> EnvironmentEntry(int index);

}  // namespace kv
