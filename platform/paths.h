// The Windows-path model. Stored names keep their Windows form ("\" and drive
// letters, any case); a drive map and a case-insensitive lookup turn them into
// host paths only at the moment a file is opened.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// After trimming leading white space: at least two characters, the second ":".
bool IsDrivePath(std::string_view text);
// After trimming leading white space: starts with two backslashes.
bool IsNetworkPath(std::string_view text);
// The host path exists and is a directory.
bool IsDirectory(const std::string& hostPath);
// The process's current directory as a host path; "." when it cannot be read.
std::string CurrentHostDir();
// The system's text for an errno value; empty for 0.
std::string SystemErrorText(int code);
// The display title of a file: its name with extension; empty when none.
std::string FileTitle(std::string_view path);

bool IsSeparator(char c);

// The parts of a stored name in the manner of the system's path splitter:
// "C:" + "\dir\sub\" + "name" + ".ext". Both separators are accepted.
struct PathParts {
  std::string drive;
  std::string dir;
  std::string name;
  std::string ext;  // with its dot, empty when none
};
PathParts SplitPath(std::string_view path);

std::string FileNameAndExt(std::string_view path);  // "name.ext"
std::string FileNameOnly(std::string_view path);    // "name"
std::string ExtensionOf(std::string_view path);     // ".ext" or empty
std::string DriveAndDir(std::string_view path);     // "C:\dir\" or empty
// `path` with its extension (if any) replaced by `ext` (".kvb").
std::string ReplaceExtension(std::string_view path, std::string_view ext);

// The kinds of drive the system's drive-type query told apart.
enum class DriveType { Fixed, Removable, CdRom, Network, RamDisk };

// Drive letters to host folders. Z: is "/" unless configured otherwise; a
// letter without a mapping falls back to the default folder (C: when unset).
class DriveMap {
 public:
  DriveMap();
  void Map(char letter, std::string hostFolder, DriveType type = DriveType::Fixed);
  void SetDefault(std::string hostFolder) { default_ = std::move(hostFolder); }
  std::optional<std::string> Folder(char letter) const;
  // The letters that exist as drives of `type`, from A: to Z:. Only mapped
  // letters count, and C: when the default folder stands in for it; the
  // fallback of other letters makes no drive of them.
  std::vector<char> Letters(DriveType type) const;
  // The stored form ("C:\dir\sub") of an absolute host path: the drive whose
  // folder holds it most closely (Z: "/" holds every path), Windows-1252.
  std::string StoredPathOf(const std::string& hostPath) const;

 private:
  struct Drive {
    std::string folder;
    DriveType type;
  };
  std::map<char, Drive> drives_;
  std::string default_;
};

// Turns a stored name into a host path. Relative names are taken against
// `baseDir` (a host folder, usually the project's); every component is looked
// up without regard to case. An existing file or folder gives its real
// spelling; a name whose last component is missing gives the path it would
// have (for creating files); a missing folder on the way gives nothing.
std::optional<std::string> ResolveHostPath(std::string_view stored, const DriveMap& drives,
                                           const std::string& baseDir);

// The host file for a name a project, a command line or the locator gives: an
// absolute host path that exists is itself (a project named on the command
// line); anything else is a stored name resolved through the process's drive
// map from the current directory. Nothing when no host path can be formed.
std::optional<std::string> HostPathOf(const std::string& name);
// The same through a run's own drive map, relative names from `baseDir`.
std::optional<std::string> HostPathOf(const std::string& name, const DriveMap& drives, const std::string& baseDir);

// The drive map of code that plays no project (tools, tests): Z: is "/";
// runs resolve through their session's own map.
DriveMap& ProcessDriveMap();

}  // namespace kv
