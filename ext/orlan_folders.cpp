// Project folders: counting and loading the projects and pictures of a
// folder into string variables, copying and deleting a project.
#include "ext/orlan_files.h"

#include <fstream>
#include <system_error>

#include "engine/variables.h"
#include "ext/orlan_files_internal.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kv {

namespace fs = std::filesystem;

using files_internal::Exists;
using files_internal::IsLink;
using files_internal::StoredName;

// --- project folders

StringVariables::Kind StoreStringVariables::KindOf(const std::string& name) {
  auto item = store_.FindVariable(name, nullptr, {}, false);
  if (!item) return Kind::kMissing;
  return item->type == var_type::kString ? Kind::kString : Kind::kOther;
}

void StoreStringVariables::Set(const std::string& name, const std::string& text) {
  if (auto item = store_.FindVariable(name, nullptr, {}, false)) store_.SetText(*item, text);
}

namespace {

// Entries of a folder that satisfy `keep` (given the entry and its own,
// unfollowed status), in the order of their names without regard to case.
// Nothing when `folder` is not a folder.
template <class Keep>
std::optional<std::vector<fs::path>> ListFolder(const fs::path& folder, Keep keep) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return std::nullopt;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code statError;
    fs::file_status status = it->symlink_status(statError);
    if (!statError && keep(it->path(), status)) entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
    const std::string sa = StoredName(a), sb = StoredName(b);
    const int c = CompareNoCase(sa, sb);
    return c != 0 ? c < 0 : sa < sb;
  });
  return entries;
}

std::optional<std::vector<fs::path>> Subfolders(std::string_view folder, const FileContext& files) {
  auto host = HostPathFor(folder, files);
  if (!host) return std::nullopt;
  return ListFolder(*host, [](const fs::path&, fs::file_status s) { return fs::is_directory(s); });
}

// The list builtins' filling: stem1 ... stem<count> emptied, then given
// `values` from the `first`-th on. False at a variable of another type.
bool EmptyVariables(const std::string& stem, int32_t count, StringVariables& variables) {
  count = std::clamp(count, 0, kMaxListCount);
  for (int32_t i = 1; i <= count; ++i) {
    const std::string name = stem + std::to_string(i);
    switch (variables.KindOf(name)) {
      case StringVariables::Kind::kOther: return false;
      case StringVariables::Kind::kString: variables.Set(name, {}); break;
      case StringVariables::Kind::kMissing: break;
    }
  }
  return true;
}

bool StoreValues(const std::string& stem, int32_t count, int32_t first, const std::vector<std::string>& values,
                 StringVariables& variables) {
  count = std::clamp(count, 0, kMaxListCount);
  const size_t start = static_cast<size_t>(std::max(first, 1)) - 1;
  for (int32_t i = 1; i <= count && start + size_t(i - 1) < values.size(); ++i) {
    const std::string name = stem + std::to_string(i);
    switch (variables.KindOf(name)) {
      case StringVariables::Kind::kOther: return false;
      case StringVariables::Kind::kString: variables.Set(name, values[start + size_t(i - 1)]); break;
      case StringVariables::Kind::kMissing: break;
    }
  }
  return true;
}

}  // namespace

bool IsPictureFile(const fs::path& file) {
  const std::string name = file.filename().string();
  const std::string ext = ToUpper1252(ExtensionOf(name));
  if (ext == ".WMF" || ext == ".EMF") return true;
  // PCX is told by its 128-byte header; the other formats need fewer bytes.
  std::array<uint8_t, 128> head{};
  std::ifstream in(file, std::ios::binary);
  in.read(reinterpret_cast<char*>(head.data()), head.size());
  const auto got = static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0));
  return imaging::DetectType(std::span<const uint8_t>(head.data(), got), name) != imaging::FileType::kUnknown;
}

int32_t CountProjects(std::string_view folder, const FileContext& files) {
  auto folders = Subfolders(folder, files);
  return folders ? static_cast<int32_t>(std::min<size_t>(folders->size(), INT32_MAX)) : 0;
}

bool LoadProjects(std::string_view folder, const std::string& stem, int32_t count, int32_t first,
                  StringVariables& variables, const FileContext& files) {
  if (!EmptyVariables(stem, count, variables)) return false;
  auto folders = Subfolders(folder, files);
  if (!folders) return false;
  std::vector<std::string> names;
  names.reserve(folders->size());
  for (const fs::path& f : *folders) names.push_back(StoredName(f));
  return StoreValues(stem, count, first, names, variables);
}

bool LoadImages(std::string_view folder, const std::string& stem, int32_t count, int32_t first,
                StringVariables& variables, const FileContext& files) {
  if (!EmptyVariables(stem, count, variables)) return false;
  auto host = HostPathFor(folder, files);
  if (!host) return false;
  auto pictures =
      ListFolder(*host, [](const fs::path& p, fs::file_status s) { return fs::is_regular_file(s) && IsPictureFile(p); });
  if (!pictures) return false;
  // Full paths in the script's own spelling of the folder.
  std::string prefix(TrimRight(folder));
  if (prefix.empty() || !IsSeparator(prefix.back())) prefix += '\\';
  std::vector<std::string> paths;
  paths.reserve(pictures->size());
  for (const fs::path& p : *pictures) paths.push_back(prefix + StoredName(p));
  return StoreValues(stem, count, first, paths, variables);
}

namespace {

// Nesting deeper than this is refused rather than followed (a loop through a
// bind mount would otherwise never end).
constexpr int kMaxCopyDepth = 256;

// The entry of `folder` named `name` without regard to case (its real
// spelling), or `name` itself when there is none.
fs::path EntryNamed(const fs::path& folder, const std::string& name) {
  if (Exists(folder / name)) return folder / name;
  const std::string want = Utf8ToCp1252(name);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (EqualsNoCase(StoredName(it->path()), want)) return it->path();
  return folder / name;
}

class FolderCopy {
 public:
  explicit FolderCopy(fs::path destinationRoot) : destinationRoot_(std::move(destinationRoot)) {}

  bool Copy(const fs::path& from, const fs::path& to, int depth) {
    if (depth > kMaxCopyDepth) return false;
    std::error_code ec;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code statError;
      const fs::file_status status = it->symlink_status(statError);
      if (statError) return false;
      // Links and special files are not copied: a link could lead anywhere.
      if (fs::is_regular_file(status)) {
        const fs::path target = EntryNamed(to, it->path().filename().string());
        if (!CopyFileAtomically(it->path().string(), target.string())) return false;
      } else if (fs::is_directory(status)) {
        // The copy's own destination, when it lies in the source, is not copied into itself.
        std::error_code sameError;
        if (fs::equivalent(it->path(), destinationRoot_, sameError)) continue;
        const fs::path target = EntryNamed(to, it->path().filename().string());
        if (!MakeFolder(target) || !Copy(it->path(), target, depth + 1)) return false;
      }
    }
    return !ec;
  }

  // A folder at `target`: an existing one is used, a link there is replaced
  // (the link, not what it names), a file there fails the copy.
  static bool MakeFolder(const fs::path& target) {
    std::error_code ec;
    if (IsLink(target) && !fs::remove(target, ec)) return false;
    const fs::file_status status = fs::symlink_status(target, ec);
    if (fs::is_directory(status)) return true;
    if (fs::exists(status)) return false;
    return fs::create_directory(target, ec) && !ec;
  }

 private:
  fs::path destinationRoot_;
};

// A project name stays inside the destination: no separators, not "." or "..".
bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string_view::npos;
}

void RenameProjectFiles(const fs::path& folder, std::string_view oldName, std::string_view newName) {
  if (!IsPlainName(oldName) || !IsPlainName(newName) || oldName == newName) return;
  static constexpr const char* kExtensions[] = {".kvp", ".kvg", ".kvb", ".ebs", ".ebc", ".jpg"};
  for (const char* ext : kExtensions) {
    const fs::path from = EntryNamed(folder, Cp1252ToUtf8(std::string(oldName) + ext));
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(from, ec))) continue;
    // A failed rename leaves the copied file under its old name; the copy itself succeeded.
    fs::rename(from, folder / Cp1252ToUtf8(std::string(newName) + ext), ec);
  }
}

}  // namespace

bool CopyProject(std::string_view source, std::string_view oldName, std::string_view destination,
                 std::string_view newName, const FileContext& files) {
  auto from = HostPathFor(source, files);
  auto to = HostPathFor(destination, files);
  if (!from || !to) return false;
  // Both sides as written: a link on the way to either refuses the copy.
  const fs::path fromPath = FileGuard::Normal(*from);
  const fs::path toPath = FileGuard::Normal(*to);
  std::error_code ec;
  if (fromPath.empty() || toPath.empty() || !files.guard.MayCopyFrom(fromPath)) return false;
  if (!fs::is_directory(fs::symlink_status(fromPath, ec))) return false;
  if (!files.guard.MayFillFolder(toPath)) return false;
  // A folder copied onto itself would only be renamed in place.
  if (fromPath == toPath || fs::equivalent(fromPath, toPath, ec)) return false;
  if (!fs::is_directory(fs::symlink_status(toPath, ec))) {
    fs::create_directories(toPath, ec);
    if (ec) return false;
  }
  if (!FolderCopy(toPath).Copy(fromPath, toPath, 0)) return false;
  RenameProjectFiles(toPath, oldName, newName);
  return true;
}

bool DeleteProject(std::string_view folder, std::string_view projectDirectory, const FileContext& files) {
  if (folder.size() <= 3) return false;
  // "C:\proj" and "C:\proj\" name one folder.
  auto bare = [](std::string_view s) {
    s = Trim(s);
    while (!s.empty() && IsSeparator(s.back())) s.remove_suffix(1);
    return s;
  };
  if (!projectDirectory.empty() && EqualsNoCase(bare(folder), bare(projectDirectory))) return false;
  auto host = HostPathFor(folder, files);
  if (!host) return false;
  const fs::path entry = FileGuard::Normal(*host);
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(entry, ec);
  if (!fs::is_directory(status) && !fs::is_symlink(status)) return false;
  if (!files.guard.MayRemove(entry)) return false;
  // remove_all removes links as links and never descends through them.
  fs::remove_all(entry, ec);
  return !Exists(entry);
}

}  // namespace kv
