// The per-user settings store: sections of named integer and string values,
// kept in an INI file of our own format under the XDG config folder
// ("$XDG_CONFIG_HOME/Dunmere Corp./Korvel.conf"). The log and the remote-address
// history read and write it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kv {

class SettingsStore {
 public:
  // An empty path keeps the store in memory only (tests, read-only media).
  explicit SettingsStore(std::string path);

  // The default location, honouring XDG_CONFIG_HOME, then HOME.
  static std::string DefaultPath();
  // The process-wide store at DefaultPath(), created on first use.
  static SettingsStore& Process();
  // Replaces the process-wide store (tests).
  static void SetProcess(SettingsStore* store);

  // A missing value, or one that is not a whole number, yields the default.
  int32_t GetInt(const std::string& section, const std::string& name, int32_t def) const;
  std::string GetString(const std::string& section, const std::string& name, const std::string& def) const;
  // Writes through to the file at once (temporary file renamed over the old).
  bool SetInt(const std::string& section, const std::string& name, int32_t value);
  bool SetString(const std::string& section, const std::string& name, const std::string& value);

  const std::string& path() const { return path_; }
  // Reads the file again (another process may have changed it).
  void Reload();

 private:
  struct Line {
    std::string section;  // section the line belongs to
    std::string key;      // empty for comments and blank lines
    std::string value;
    std::string raw;      // comment text as read
  };
  const Line* Find(const std::string& section, const std::string& name) const;
  bool Set(const std::string& section, const std::string& name, const std::string& value);
  bool Save() const;

  std::string path_;
  std::vector<Line> lines_;
  std::vector<std::string> sections_;
  mutable std::recursive_mutex mutex_;
};

// The player's own data folder, where scripts may keep files:
// "$XDG_DATA_HOME/Dunmere Corp./Korvel" (else under ~/.local/share); empty
// when neither variable names an absolute folder.
std::string PlayerDataFolder();

// The settings store's interface in the original's words.
int32_t GetSetting(const std::string& section, const std::string& name, int32_t def);
std::string GetSetting(const std::string& section, const std::string& name, const std::string& def);
bool SetSetting(const std::string& section, const std::string& name, int32_t value);
bool SetSetting(const std::string& section, const std::string& name, const std::string& value);

}  // namespace kv
