#include "ext/file_search.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "ext/orlan_files.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsMetafileName(std::string_view name) {
  const std::string ext = ToUpper1252(ExtensionOf(name));
  return ext == ".WMF" || ext == ".EMF";
}

// Hidden (a leading dot) or temporary (a trailing '~' or ".tmp"): left out
// unless the search asks for system files.
bool IsSystemName(std::string_view name) {
  if (name.empty() || name.front() == '.' || name.back() == '~') return true;
  return ToUpper1252(ExtensionOf(name)) == ".TMP";
}

struct Walk {
  const SearchOptions& options;
  const std::function<bool()>& stop;
  const std::function<void(FoundFile&&)>& found;
  size_t count = 0;
  bool stopped = false;

  bool Accepts(const fs::path& folder, const char* name, const struct stat& st) {
    std::string_view n(name);
    if (!options.systemFiles && IsSystemName(n)) return false;
    switch (options.pictures) {
      case PictureFilter::kNone:
        if (!MatchesWildcard(options.pattern, Utf8ToCp1252(n))) return false;
        break;
      case PictureFilter::kVectors:
        if (!IsMetafileName(n)) return false;
        break;
      case PictureFilter::kAllImages:
      case PictureFilter::kRasters: {
        const bool vector = IsMetafileName(n);
        if (vector && options.pictures == PictureFilter::kRasters) return false;
        if (!vector && !IsPictureFile(folder / n)) return false;
        break;
      }
    }
    if (options.days != 0 && st.st_mtime < options.now - int64_t{options.days} * 86400) return false;
    return true;
  }

  // Opens `folder` without following a link at its own name.
  void Folder(const fs::path& folder, const std::string& prefix, int depth) {
    for (const fs::path& s : options.skip)
      if (folder == s) return;
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
      ::close(fd);
      return;
    }
    std::vector<std::string> subfolders;
    while (struct dirent* e = ::readdir(dir)) {
      if ((stopped = stopped || stop())) break;
      const char* name = e->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      struct stat st {};
      if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (S_ISDIR(st.st_mode)) {
        if (options.subfolders && (options.systemFiles || !IsSystemName(name))) subfolders.emplace_back(name);
        continue;
      }
      if (!S_ISREG(st.st_mode) || !Accepts(folder, name, st)) continue;
      ++count;
      found(FoundFile{prefix + Utf8ToCp1252(name), static_cast<int64_t>(st.st_mtime)});
    }
    ::closedir(dir);
    if (depth >= kMaxSearchDepth) return;
    // Files of the folder first, then its subfolders, in listing order.
    for (const std::string& sub : subfolders) {
      if (stopped || (stopped = stop())) return;
      Folder(folder / sub, prefix + Utf8ToCp1252(sub) + '\\', depth + 1);
    }
  }
};

// The sort key of a path: the name without folder and extension, upper case.
std::string NameKey(const std::string& path) { return ToUpper1252(FileNameOnly(path)); }

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return false;
  if (pattern == "*.*") return true;
  size_t needed = 0;
  for (char c : pattern) needed += c != '*';
  if (needed > name.size()) return false;
  // Greedy match: a mismatch after a star retries one character further on.
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
      ++p, ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

PictureFilter PictureFilterOf(std::string_view filter) {
  if (EqualsNoCase(filter, "<ALLIMAGES>")) return PictureFilter::kAllImages;
  if (EqualsNoCase(filter, "<RASTERS>")) return PictureFilter::kRasters;
  if (EqualsNoCase(filter, "<VECTORS>")) return PictureFilter::kVectors;
  return PictureFilter::kNone;
}

size_t SearchFolder(const fs::path& folder, const std::string& prefix, const SearchOptions& options,
                    const std::function<bool()>& stop, const std::function<void(FoundFile&&)>& found) {
  Walk walk{options, stop, found};
  std::string p = prefix;
  if (p.empty() || (p.back() != '\\' && p.back() != '/')) p += '\\';
  walk.Folder(folder, p, 0);
  return walk.count;
}

void SortFound(std::vector<FoundFile>& files, int option) {
  switch (option) {
    case 0:
    case 1: {
      std::vector<std::pair<std::string, size_t>> keys;
      keys.reserve(files.size());
      for (size_t i = 0; i < files.size(); ++i) keys.emplace_back(NameKey(files[i].path), i);
      if (option == 0)
        std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
      else
        std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
      std::vector<FoundFile> sorted;
      sorted.reserve(files.size());
      for (const auto& k : keys) sorted.push_back(std::move(files[k.second]));
      files = std::move(sorted);
      break;
    }
    case 2:
      std::stable_sort(files.begin(), files.end(), [](const FoundFile& a, const FoundFile& b) { return a.writeTime < b.writeTime; });
      break;
    case 3:
      std::stable_sort(files.begin(), files.end(), [](const FoundFile& a, const FoundFile& b) { return a.writeTime > b.writeTime; });
      break;
    default: break;
  }
}

std::vector<SearchRoot> ComputerRoots(const DriveMap& drives, const std::string& home) {
  std::vector<char> letters;
  for (DriveType t : {DriveType::Fixed, DriveType::Removable, DriveType::CdRom})
    for (char l : drives.Letters(t)) letters.push_back(l);
  std::sort(letters.begin(), letters.end());
  letters.erase(std::unique(letters.begin(), letters.end()), letters.end());
  std::vector<SearchRoot> roots;
  const bool onlyFallback = letters.size() == 1 && letters[0] == 'Z' && drives.Folder('Z').value_or("") == "/";
  if (!onlyFallback) {
    // The fallback "/" holds every configured drive: searched as well, it
    // would report their files twice.
    for (char l : letters)
      if (auto folder = drives.Folder(l); folder && *folder != "/") roots.push_back({std::string(1, l) + ":\\", *folder, {}});
    return roots;
  }
  std::vector<fs::path> skip = {"/proc", "/sys", "/dev", "/run"};
  if (!home.empty() && home != "/") {
    roots.push_back({drives.StoredPathOf(home), home, {}});
    skip.emplace_back(FileGuard::Normal(home));
  }
  roots.push_back({"Z:\\", "/", skip});
  return roots;
}

}  // namespace kv
