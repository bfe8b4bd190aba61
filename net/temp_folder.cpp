#include "net/temp_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/paths.h"

namespace kv {
namespace {

std::string Canonical(const std::string& path) {
  char buf[PATH_MAX];
  if (!realpath(path.c_str(), buf)) return {};
  return buf;
}

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// Opens (creating) a lock file in the runtime folder without following links.
int OpenLockFile(const std::string& folder, const char* name) {
  std::string path = folder + "/korvel-" + name + ".lock";
  return open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

int FlockRetry(int fd, int op) {
  int rc;
  do rc = flock(fd, op);
  while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

std::optional<std::string> PrepareUserFolder(const std::string& path, std::string* error) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    SetError(error, path + ": " + SystemErrorText(errno));
    return std::nullopt;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    SetError(error, path + ": " + SystemErrorText(errno));
    return std::nullopt;
  }
  // Another user's folder, or one others can write to, could hand us files
  // we would later open or delete.
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
    SetError(error, path + ": not a private folder of this user");
    return std::nullopt;
  }
  std::string canonical = Canonical(path);
  if (canonical.empty()) {
    SetError(error, path + ": " + SystemErrorText(errno));
    return std::nullopt;
  }
  return canonical;
}

std::string DefaultTemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  return base + "/korvel-" + std::to_string(geteuid());
}

std::string DefaultRuntimeFolder() {
  const char* run = std::getenv("XDG_RUNTIME_DIR");
  if (run && *run && IsDirectory(run)) return run;
  return "/tmp/korvel-run-" + std::to_string(geteuid());
}

std::string SafeExtension(std::string_view name) {
  size_t sep = name.find_last_of("\\/");
  std::string_view last = sep == std::string_view::npos ? name : name.substr(sep + 1);
  size_t dot = last.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string ext = ".";
  for (char c : last.substr(dot + 1)) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (ok && ext.size() < 17) ext += c;
  }
  return ext.size() > 1 ? ext : std::string();
}

std::optional<TempFolder::Created> TempFolder::CreateUnique(std::string_view prefix, std::string_view ext) const {
  std::string safeExt = SafeExtension(std::string("x") + std::string(ext));
  std::string safePrefix;
  for (char c : prefix)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) safePrefix += c;
  std::string templ = path_ + "/" + safePrefix + "XXXXXX" + safeExt;
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  int fd = mkostemps(buf.data(), static_cast<int>(safeExt.size()), O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  return Created{fd, std::string(buf.data())};
}

bool TempFolder::Contains(const std::string& path) const {
  if (path.empty()) return false;
  std::string canonical = Canonical(path);
  if (canonical.empty()) {
    // A missing file: judge by its folder, made canonical.
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return false;
    std::string dir = Canonical(slash == 0 ? "/" : path.substr(0, slash));
    std::string leaf = path.substr(slash + 1);
    if (leaf.empty() || leaf == "." || leaf == "..") return false;
    return dir == path_;
  }
  size_t slash = canonical.rfind('/');
  return slash != std::string::npos && canonical.substr(0, slash) == path_ && slash + 1 < canonical.size();
}

int TempFolder::Purge(std::string_view prefix) const {
  int dirFd = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
  if (dirFd < 0) return 0;
  DIR* dir = fdopendir(dirFd);
  if (!dir) {
    close(dirFd);
    return 0;
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(dir)) {
    std::string_view name = e->d_name;
    if (name.substr(0, prefix.size()) == prefix) names.emplace_back(name);
  }
  int removed = 0;
  for (const std::string& name : names) {
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode)) continue;
    if (unlinkat(dirFd, name.c_str(), 0) == 0) ++removed;
  }
  closedir(dir);  // closes dirFd too
  return removed;
}

InstanceUnit::~InstanceUnit() {
  if (fd_ >= 0) close(fd_);
}

std::unique_ptr<InstanceUnit> InstanceUnit::Join(const std::string& runtimeFolder, const TempFolder& temp,
                                                 bool* purged, std::string* error) {
  if (purged) *purged = false;
  std::string runtime = runtimeFolder;
  if (!IsDirectory(runtime)) {
    auto prepared = PrepareUserFolder(runtime, error);
    if (!prepared) return nullptr;
    runtime = *prepared;
  }
  int clear = OpenLockFile(runtime, "ClearGloms");
  int block = OpenLockFile(runtime, "BlockGloms");
  if (clear < 0 || block < 0) {
    SetError(error, runtime + ": " + SystemErrorText(errno));
    if (clear >= 0) close(clear);
    if (block >= 0) close(block);
    return nullptr;
  }
  if (FlockRetry(block, LOCK_EX) != 0) {
    SetError(error, "BlockGloms: " + SystemErrorText(errno));
    close(clear);
    close(block);
    return nullptr;
  }
  // With start-ups serialised, an exclusive hold on ClearGloms succeeds only
  // when no running instance holds its shared unit.
  bool first = flock(clear, LOCK_EX | LOCK_NB) == 0;
  if (first) {
    temp.Purge("glm");
    if (purged) *purged = true;
  }
  int rc = FlockRetry(clear, LOCK_SH);
  close(block);  // releases BlockGloms
  if (rc != 0) {
    SetError(error, "ClearGloms: " + SystemErrorText(errno));
    close(clear);
    return nullptr;
  }
  return std::make_unique<InstanceUnit>(Token{}, clear);
}

}  // namespace kv
