// Name substitution: the "%KEYWORD%" macros of stored file names, paths and
// texts, replaced by what only the playing machine knows. Every place that
// turns a stored name into a usable one calls ExpandNames with the run's host.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace kv {

// The predefined registry keys a %REG% macro may name.
enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig, DynData };

// The root of a registry macro by its name, without regard to case.
std::optional<RegistryRoot> RegistryRootNamed(std::string_view name);
// The canonical name ("HKEY_CURRENT_USER").
const char* RegistryRootName(RegistryRoot root);

// What expansion asks of the running player. Lookups are silent: they never
// ask the user, raise or change anything (the file prompt excepted).
class MacroHost {
 public:
  virtual ~MacroHost() = default;
  // Stored Windows forms ("C:\\proj"); the macro adds the final backslash.
  virtual std::string ProjectDir() = 0;
  virtual std::string ProgramDir() = 0;
  virtual std::string CacheDir() = 0;
  virtual std::string CurrentDir() = 0;
  // Drive letters of the type, in A: to Z: order.
  virtual std::vector<char> Drives(DriveType type) = 0;
  // A script variable's value as text; nothing when no such variable exists.
  virtual std::optional<std::string> Variable(const std::string& name) = 0;
  // An environment variable; nothing when it is unset.
  virtual std::optional<std::string> Environment(const std::string& name) = 0;
  // A registry value as text; empty when the key or value is missing.
  virtual std::string RegistryValue(RegistryRoot root, const std::string& subkey, const std::string& valueName) = 0;
  // An INI entry; empty when the file, section or key is missing.
  virtual std::string IniValue(const std::string& file, const std::string& section, const std::string& key) = 0;
  // The file the user picks, with `initialFile` offered; nothing when no
  // presentation plays or the user cancels.
  virtual std::optional<std::string> PromptForFile(const std::string& initialFile) = 0;
};

// Output of an expansion never grows beyond this; see ExpandOnce.
inline constexpr size_t kMaxExpandedSize = 64 * 1024;
// Expansion passes of ExpandNames at most.
inline constexpr int kMaxExpandPasses = 255;
// Registry and INI values are cut to this many bytes (a 260-byte buffer).
inline constexpr size_t kMaxLookupSize = 259;

// One pass over `text`; true when at least one macro was replaced. "%%" stays
// doubled. When the output reaches kMaxExpandedSize the pass stops there and
// keeps the text so far, cut at the bound.
bool ExpandOnce(std::string& text, MacroHost& host);

// The macros of `text` that name no keyword ("%KVDIR%"), as written with their
// percent signs; expansion drops them without a word.
std::vector<std::string> UnknownMacros(std::string_view text);

// Passes until one replaces nothing (at most kMaxExpandPasses, and none after
// the output reached the bound), then every "%%" becomes "%".
std::string ExpandNames(std::string_view text, MacroHost& host);

}  // namespace kv
