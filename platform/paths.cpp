#include "platform/paths.h"

#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/text.h"

namespace kv {

bool IsDrivePath(std::string_view text) {
  std::string_view t = TrimLeft(text);
  return t.size() >= 2 && t[1] == ':';
}

bool IsNetworkPath(std::string_view text) {
  std::string_view t = TrimLeft(text);
  return t.size() >= 2 && t[0] == '\\' && t[1] == '\\';
}

bool IsDirectory(const std::string& hostPath) {
  struct stat st {};
  return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string CurrentHostDir() {
  char cwd[4096];
  return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
}

std::string SystemErrorText(int code) {
  if (code == 0) return {};
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  const char* text = ::strerror_r(code, buf, sizeof buf);
  return text ? std::string(text) : std::string();
}

std::string FileTitle(std::string_view path) { return FileNameAndExt(path); }

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

PathParts SplitPath(std::string_view path) {
  PathParts parts;
  if (path.size() >= 2 && path[1] == ':') {
    parts.drive = std::string(path.substr(0, 2));
    path.remove_prefix(2);
  }
  size_t lastSep = std::string_view::npos;
  for (size_t i = 0; i < path.size(); ++i)
    if (IsSeparator(path[i])) lastSep = i;
  std::string_view file = path;
  if (lastSep != std::string_view::npos) {
    parts.dir = std::string(path.substr(0, lastSep + 1));
    file = path.substr(lastSep + 1);
  }
  size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) {
    parts.name = std::string(file);
  } else {
    parts.name = std::string(file.substr(0, dot));
    parts.ext = std::string(file.substr(dot));
  }
  return parts;
}

std::string FileNameAndExt(std::string_view path) {
  PathParts p = SplitPath(path);
  return p.name + p.ext;
}

std::string FileNameOnly(std::string_view path) { return SplitPath(path).name; }

std::string ExtensionOf(std::string_view path) { return SplitPath(path).ext; }

std::string DriveAndDir(std::string_view path) {
  PathParts p = SplitPath(path);
  return p.drive + p.dir;
}

std::string ReplaceExtension(std::string_view path, std::string_view ext) {
  PathParts p = SplitPath(path);
  return p.drive + p.dir + p.name + std::string(ext);
}

DriveMap::DriveMap() { drives_['Z'] = {"/", DriveType::Fixed}; }

void DriveMap::Map(char letter, std::string hostFolder, DriveType type) {
  drives_[ToUpper1252(letter)] = {std::move(hostFolder), type};
}

std::optional<std::string> DriveMap::Folder(char letter) const {
  auto it = drives_.find(ToUpper1252(letter));
  if (it != drives_.end()) return it->second.folder;
  if (!default_.empty()) return default_;
  return std::nullopt;
}

std::vector<char> DriveMap::Letters(DriveType type) const {
  std::vector<char> letters;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    auto it = drives_.find(letter);
    bool fixedDefault = letter == 'C' && it == drives_.end() && !default_.empty();
    if ((it != drives_.end() && it->second.type == type) || (fixedDefault && type == DriveType::Fixed))
      letters.push_back(letter);
  }
  return letters;
}

std::string DriveMap::StoredPathOf(const std::string& hostPath) const {
  // A folder holds the path when it is a prefix ending at a component boundary.
  auto holds = [&](const std::string& folder) {
    std::string f = folder;
    while (f.size() > 1 && f.back() == '/') f.pop_back();
    if (f == "/") return hostPath.starts_with('/');
    return hostPath.starts_with(f) && (hostPath.size() == f.size() || hostPath[f.size()] == '/');
  };
  char best = 0;
  size_t bestLength = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    auto folder = drives_.count(letter) || letter == 'C' ? Folder(letter) : std::nullopt;
    if (!folder || folder->empty() || !holds(*folder)) continue;
    size_t length = folder->size();
    if (!best || length > bestLength) {
      best = letter;
      bestLength = length;
    }
  }
  if (!best) return Utf8ToCp1252(hostPath);
  std::string folder = *Folder(best);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  std::string rest = folder == "/" ? hostPath : hostPath.substr(folder.size());
  std::string stored{best, ':'};
  for (char c : Utf8ToCp1252(rest)) stored += c == '/' ? '\\' : c;
  if (stored.size() == 2) stored += '\\';
  return stored;
}

namespace {

// The directory entry of `dir` whose name equals `component` without regard
// to case; an exact match wins.
std::optional<std::string> LookupComponent(const std::string& dir, const std::string& component) {
  std::string exact = dir + (dir.empty() || dir.back() == '/' ? "" : "/") + component;
  struct stat st {};
  if (::lstat(exact.c_str(), &st) == 0) return component;
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return std::nullopt;
  std::optional<std::string> found;
  std::string want = Utf8ToCp1252(component);
  while (dirent* e = ::readdir(d)) {
    if (EqualsNoCase(Utf8ToCp1252(e->d_name), want)) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace

std::optional<std::string> ResolveHostPath(std::string_view stored, const DriveMap& drives,
                                           const std::string& baseDir) {
  std::string_view name = Trim(stored);
  if (name.empty()) return std::nullopt;
  std::string root;
  if (name.size() >= 2 && name[1] == ':') {
    auto folder = drives.Folder(name[0]);
    if (!folder) return std::nullopt;
    root = *folder;
    name.remove_prefix(2);
    // "C:name" is relative to the drive's folder just as "C:\name" is.
  } else if (IsNetworkPath(name)) {
    return std::nullopt;  // UNC shares have no host equivalent
  } else if (!name.empty() && name[0] == '/') {
    root = "/";
  } else if (!name.empty() && name[0] == '\\') {
    auto folder = drives.Folder('C');
    root = folder ? *folder : baseDir;
  } else {
    root = baseDir.empty() ? "." : baseDir;
  }

  std::vector<std::string> components;
  std::string current;
  for (char c : name) {
    if (IsSeparator(c)) {
      if (!current.empty()) components.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) components.push_back(current);

  std::string path = root;
  for (size_t i = 0; i < components.size(); ++i) {
    const std::string host = Cp1252ToUtf8(components[i]);
    if (host == ".") continue;
    std::string next;
    if (host == "..") {
      next = "..";
    } else if (auto real = LookupComponent(path, host)) {
      next = *real;
    } else if (i + 1 == components.size()) {
      next = host;  // a file that does not exist yet
    } else {
      return std::nullopt;
    }
    if (!path.empty() && path.back() != '/') path += '/';
    path += next;
  }
  return path;
}

DriveMap& ProcessDriveMap() {
  static DriveMap map;
  return map;
}

std::optional<std::string> HostPathOf(const std::string& name, const DriveMap& drives, const std::string& baseDir) {
  if (!name.empty() && name[0] == '/') {
    struct stat st;
    if (::stat(name.c_str(), &st) == 0) return name;
  }
  return ResolveHostPath(name, drives, baseDir);
}

std::optional<std::string> HostPathOf(const std::string& name) {
  return HostPathOf(name, ProcessDriveMap(), CurrentHostDir());
}

}  // namespace kv
