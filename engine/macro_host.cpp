#include "engine/macro_host.h"

#include <cstdlib>
#include <filesystem>

#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {
namespace {

const std::string& OwnKey() {
  static const std::string key = std::string("Software\\Dunmere Corp.\\") + LoadString(sid::kAppName);
  return key;
}

}  // namespace

std::string RegistrySection(RegistryRoot root, std::string_view subkey) {
  const std::string& own = OwnKey();
  if (root == RegistryRoot::CurrentUser && subkey.size() >= own.size() &&
      EqualsNoCase(subkey.substr(0, own.size()), own)) {
    std::string_view below = subkey.substr(own.size());
    if (below.empty()) return {};
    if (below.front() == '\\') return std::string(below.substr(1));
  }
  return std::string(RegistryRootName(root)) + "\\" + std::string(subkey);
}

std::string ReadIniEntry(const std::string& hostPath, const std::string& section, const std::string& key) {
  // A project may name any path: devices, pipes and huge files are not read.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(hostPath, ec) || std::filesystem::file_size(hostPath, ec) > kMaxIniFileSize ||
      ec)
    return {};
  // A store without writes only reads; it never creates or changes the file.
  const SettingsStore file(hostPath);
  return file.GetString(section, key, "").substr(0, kMaxLookupSize);
}

PlayerMacroHost::PlayerMacroHost(const DriveMap& drives, SettingsStore& registry, FileDialog& dialog)
    : drives_(drives), registry_(registry), dialog_(dialog) {}

void PlayerMacroHost::SetProjectDir(std::string storedDir) {
  std::lock_guard lock(mutex_);
  projectDir_ = std::move(storedDir);
}

void PlayerMacroHost::SetProgramDir(std::string storedDir) {
  std::lock_guard lock(mutex_);
  programDir_ = std::move(storedDir);
}

void PlayerMacroHost::SetCacheDir(std::string storedDir) {
  std::lock_guard lock(mutex_);
  cacheDir_ = std::move(storedDir);
}

void PlayerMacroHost::SetVariableLookup(VariableLookup lookup) {
  std::lock_guard lock(mutex_);
  lookup_ = std::move(lookup);
}

std::string PlayerMacroHost::ProjectDir() {
  std::lock_guard lock(mutex_);
  return projectDir_;
}

std::string PlayerMacroHost::ProgramDir() {
  std::lock_guard lock(mutex_);
  return programDir_;
}

std::string PlayerMacroHost::CacheDir() {
  std::lock_guard lock(mutex_);
  return cacheDir_;
}

void PlayerMacroHost::SetBaseDir(std::string hostDir) {
  std::lock_guard lock(mutex_);
  baseDir_ = std::move(hostDir);
}

std::string PlayerMacroHost::BaseDir() {
  std::lock_guard lock(mutex_);
  return baseDir_.empty() ? CurrentHostDir() : baseDir_;
}

std::string PlayerMacroHost::CurrentDir() { return drives_.StoredPathOf(BaseDir()); }

std::vector<char> PlayerMacroHost::Drives(DriveType type) { return drives_.Letters(type); }

std::optional<std::string> PlayerMacroHost::Variable(const std::string& name) {
  VariableLookup lookup;
  {
    std::lock_guard lock(mutex_);
    lookup = lookup_;
  }
  return lookup ? lookup(name) : std::nullopt;
}

std::optional<std::string> PlayerMacroHost::Environment(const std::string& name) {
  const char* value = std::getenv(Cp1252ToUtf8(name).c_str());
  if (!value || !*value) return std::nullopt;
  return Utf8ToCp1252(value);
}

std::string PlayerMacroHost::RegistryValue(RegistryRoot root, const std::string& subkey,
                                           const std::string& valueName) {
  return registry_.GetString(RegistrySection(root, subkey), valueName, "");
}

std::string PlayerMacroHost::IniValue(const std::string& file, const std::string& section, const std::string& key) {
  // Without a Windows directory, a bare name is looked for in the current
  // directory, which is the project's folder while one plays.
  auto host = ResolveHostPath(file, drives_, BaseDir());
  if (!host) return {};
  return ReadIniEntry(*host, section, key);
}

std::optional<std::string> PlayerMacroHost::PromptForFile(const std::string& initialFile) {
  if (!playing_) return std::nullopt;
  return dialog_.OpenFile({LoadString(sid::kSelectFile), LoadString(sid::kAllFilesFilter), initialFile});
}

}  // namespace kv
