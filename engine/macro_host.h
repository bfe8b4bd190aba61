// The running player's answers to name substitution: directories, drives,
// the environment, the emulated registry in the settings store, INI files
// and the file prompt. The player owns one and updates it as a run goes on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "engine/expand_names.h"
#include "platform/file_dialog.h"
#include "platform/settings.h"

namespace kv {

// The settings-store section that holds a registry key's values. The
// program's own key "HKEY_CURRENT_USER\Software\Dunmere Corp.\Korvel" holds
// the store's sections ("...\Korvel\Logging" is section "Logging", the key
// itself section ""); any other key is the section named by the root and the
// subkey ("HKEY_LOCAL_MACHINE\Software\Acme").
std::string RegistrySection(RegistryRoot root, std::string_view subkey);

// INI files larger than this are not read.
inline constexpr uintmax_t kMaxIniFileSize = 1024 * 1024;

// Reads one entry of an INI file by host path; empty when missing or not a
// regular file of at most kMaxIniFileSize bytes. Values longer than
// kMaxLookupSize are cut.
std::string ReadIniEntry(const std::string& hostPath, const std::string& section, const std::string& key);

class PlayerMacroHost : public MacroHost {
 public:
  using VariableLookup = std::function<std::optional<std::string>(const std::string&)>;

  // Borrowed services; each must outlive the host.
  PlayerMacroHost(const DriveMap& drives, SettingsStore& registry, FileDialog& dialog);

  void SetProjectDir(std::string storedDir);
  void SetProgramDir(std::string storedDir);
  void SetCacheDir(std::string storedDir);
  // The host folder the run's relative names resolve from (its "current
  // directory"); empty: the process's.
  void SetBaseDir(std::string hostDir);
  // Must answer silently: no question, no side effect.
  void SetVariableLookup(VariableLookup lookup);
  // The prompt shows only while a presentation plays.
  void SetPlaying(bool playing) { playing_ = playing; }

  std::string ProjectDir() override;
  std::string ProgramDir() override;
  std::string CacheDir() override;
  std::string CurrentDir() override;
  std::vector<char> Drives(DriveType type) override;
  std::optional<std::string> Variable(const std::string& name) override;
  std::optional<std::string> Environment(const std::string& name) override;
  std::string RegistryValue(RegistryRoot root, const std::string& subkey, const std::string& valueName) override;
  std::string IniValue(const std::string& file, const std::string& section, const std::string& key) override;
  std::optional<std::string> PromptForFile(const std::string& initialFile) override;

 private:
  const DriveMap& drives_;
  SettingsStore& registry_;
  FileDialog& dialog_;
  std::mutex mutex_;  // guards the directories and the lookup
  std::string projectDir_;
  std::string programDir_;
  std::string cacheDir_;
  std::string baseDir_;
  VariableLookup lookup_;
  std::atomic<bool> playing_{false};

  std::string BaseDir();
};

}  // namespace kv
