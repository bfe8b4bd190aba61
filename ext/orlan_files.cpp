// The guard every file builtin asks before it writes, copies or deletes,
// and the host path a stored name stands for.
#include "ext/orlan_files.h"

#include <algorithm>
#include <system_error>

#include "ext/orlan_files_internal.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "platform/text.h"

namespace kv {

namespace fs = std::filesystem;

// --- paths

std::string ExtractFromPath(std::string_view path, int32_t part) {
  switch (part) {
    case path_part::kExtension: return ExtensionOf(path);
    case path_part::kDriveAndDir: return DriveAndDir(path);
    case path_part::kNameAndExt: return FileNameAndExt(path);
    default: return FileNameOnly(path);
  }
}

namespace {

// "/a/b/" and "/a/b" are one folder.
fs::path WithoutTrailingSeparator(fs::path p) {
  if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  return p;
}

// Where `p` really leads; empty when that cannot be told.
fs::path RealPath(const fs::path& p) {
  std::error_code ec;
  fs::path real = fs::weakly_canonical(fs::absolute(p, ec), ec);
  return ec ? fs::path() : WithoutTrailingSeparator(real);
}

// `outer` is `inner` or a folder above it (both canonical).
bool HoldsOrIs(const fs::path& outer, const fs::path& inner) {
  auto [o, i] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return o == outer.end();
}

}  // namespace

namespace files_internal {

bool IsLink(const fs::path& p) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(p, ec));
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

std::string StoredName(const fs::path& p) { return Utf8ToCp1252(p.filename().string()); }

std::optional<fs::path> WritableTarget(std::string_view file, const FileContext& files) {
  auto host = HostPathFor(file, files);
  if (!host || !files.guard.MayWriteFile(*host)) return std::nullopt;
  return FileGuard::Normal(*host);
}

}  // namespace files_internal

FileGuard::FileGuard(const std::vector<std::string>& keyFolders, std::optional<std::vector<std::string>> allowed) {
  for (const std::string& folder : keyFolders) {
    if (folder.empty()) continue;
    fs::path real = RealPath(folder);
    if (!real.empty()) keys_.push_back(std::move(real));
  }
  if (!allowed) return;
  allowed_.emplace();
  for (const std::string& folder : *allowed) {
    if (folder.empty()) continue;
    // A folder reached through a link is allowed by either spelling.
    for (fs::path p : {Normal(folder), RealPath(folder)})
      if (!p.empty() && p != p.root_path()) allowed_->push_back(std::move(p));
  }
}

std::vector<std::string> UserKeyFolders() {
  std::vector<std::string> folders;
  const char* home = std::getenv("HOME");
  if (home && *home == '/') folders.push_back(home);
  if (std::string settings = SettingsStore::DefaultPath(); !settings.empty())
    folders.push_back(fs::path(settings).parent_path().string());
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
    folders.push_back(cache);
  else if (home && *home == '/')
    folders.push_back(std::string(home) + "/.cache");
  return folders;
}

std::vector<std::string> AllowedFolders(const std::string& projectFolder, const DriveMap& drives) {
  std::vector<std::string> folders{projectFolder};
  // Every letter answers a folder: its own, or the default one.
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    std::optional<std::string> folder = drives.Folder(letter);
    if (!folder || folder->empty() || fs::path(*folder) == fs::path(*folder).root_path()) continue;
    if (std::find(folders.begin(), folders.end(), *folder) == folders.end()) folders.push_back(std::move(*folder));
  }
  folders.push_back(PlayerDataFolder());
  const std::string listed = GetSetting("Files", "Allowed", std::string());
  for (size_t at = 0; at <= listed.size();) {
    const size_t end = std::min(listed.find(';', at), listed.size());
    const std::string_view folder = Trim(std::string_view(listed).substr(at, end - at));
    if (!folder.empty() && folder[0] == '/') folders.emplace_back(folder);
    at = end + 1;
  }
  return folders;
}

FileGuard FileGuard::ForRun(const std::string& projectFolder, const std::string& programFolder,
                            const std::string& temporaryFolder, const std::string& runtimeFolder,
                            const DriveMap& drives) {
  std::vector<std::string> keys = UserKeyFolders();
  for (const std::string* folder : {&projectFolder, &programFolder, &temporaryFolder, &runtimeFolder})
    keys.push_back(*folder);
  if (GetSetting("Files", "Unrestricted", 0) == 1) return FileGuard(keys);
  return FileGuard(keys, AllowedFolders(projectFolder, drives));
}

namespace {

bool HoldsAnyKey(const fs::path& real, const std::vector<fs::path>& keys) {
  // A path that cannot be judged, and the root, are never changed.
  if (real.empty() || real == real.root_path()) return true;
  return std::any_of(keys.begin(), keys.end(), [&](const fs::path& key) { return HoldsOrIs(real, key); });
}

}  // namespace

fs::path FileGuard::Normal(const fs::path& p) {
  std::error_code ec;
  fs::path a = fs::absolute(p, ec);
  return ec ? fs::path() : WithoutTrailingSeparator(a.lexically_normal());
}

fs::path FileGuard::WalkFrom(const fs::path& normal, bool forChange) const {
  fs::path best;
  auto consider = [&](const fs::path& folder) {
    if (HoldsOrIs(folder, normal) && folder.native().size() > best.native().size()) best = folder;
  };
  if (allowed_)
    for (const fs::path& folder : *allowed_) consider(folder);
  if (forChange && allowed_) return best;
  for (const fs::path& key : keys_) consider(key);
  return best.empty() ? normal.root_path() : best;
}

bool FileGuard::Reaches(const fs::path& normal, bool withLast, bool forChange) const {
  if (normal.empty()) return false;
  const fs::path from = WalkFrom(normal, forChange);
  return !from.empty() && NoLinkBelow(from.string(), normal.string(), withLast);
}

bool FileGuard::IsProtected(const fs::path& folder) const { return HoldsAnyKey(RealPath(folder), keys_); }

bool FileGuard::MayWriteFile(const fs::path& file) const {
  const fs::path f = Normal(file);
  if (!f.has_filename() || !Reaches(f, false, true)) return false;
  return !IsProtected(f.parent_path());
}

bool FileGuard::MayFillFolder(const fs::path& folder) const {
  const fs::path f = Normal(folder);
  return Reaches(f, true, true) && !IsProtected(f);
}

bool FileGuard::MayRemove(const fs::path& entry) const {
  const fs::path e = Normal(entry);
  if (!e.has_filename() || !Reaches(e, false, true)) return false;
  // The entry itself is not resolved: a link goes, not what it names.
  fs::path parent = RealPath(e.parent_path());
  if (parent.empty()) return false;
  return !HoldsAnyKey(parent / e.filename(), keys_);
}

bool FileGuard::MayCopyFrom(const fs::path& folder) const { return Reaches(Normal(folder), true, false); }

std::optional<fs::path> HostPathFor(std::string_view stored, const FileContext& files) {
  std::string_view name = Trim(stored);
  if (name.empty()) return std::nullopt;
  if (auto resolved = ResolveHostPath(name, files.drives, files.baseDir)) return fs::path(*resolved);
  // A folder on the way is missing: resolve what exists and keep the rest as spelt.
  while (!name.empty() && IsSeparator(name.back())) name.remove_suffix(1);
  size_t sep = name.find_last_of("\\/");
  if (sep == std::string_view::npos || sep == 0) return std::nullopt;
  std::string_view parent = name.substr(0, sep);
  if (parent.size() == 2 && parent[1] == ':') return std::nullopt;  // a drive resolves or nothing does
  auto base = HostPathFor(parent, files);
  if (!base) return std::nullopt;
  return *base / Cp1252ToUtf8(name.substr(sep + 1));
}

}  // namespace kv
