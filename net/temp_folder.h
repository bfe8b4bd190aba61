// The player's per-user temporary folder, where files fetched from URLs and
// extracted from compilations ("glm" files) live, and the coordination of
// running instances that lets only the first one purge leftover "glm" files.
// Used by the resource locator and by start-up.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// A folder of ours: created 0700 when missing; an existing one is used only
// when it is a real directory (not a link) owned by us without group or
// other access. Answers the canonical path, or nothing with `error` set.
std::optional<std::string> PrepareUserFolder(const std::string& path, std::string* error = nullptr);

// "$TMPDIR/korvel-<uid>" (TMPDIR defaults to /tmp).
std::string DefaultTemporaryFolder();
// "$XDG_RUNTIME_DIR" when it is a directory, else "/tmp/korvel-run-<uid>".
std::string DefaultRuntimeFolder();

// Keeps only letters, digits and underscore of the extension of the last
// component of `name` ("\" and "/" both separate); ".bmp" or empty.
std::string SafeExtension(std::string_view name);

class TempFolder {
 public:
  // `path` must already be prepared (PrepareUserFolder).
  explicit TempFolder(std::string canonicalPath) : path_(std::move(canonicalPath)) {}
  const std::string& path() const { return path_; }

  struct Created {
    int fd = -1;
    std::string path;
  };
  // A new file "<prefix>XXXXXX<ext>" opened for writing (mode 0600, never an
  // existing file); `ext` is sanitised with SafeExtension rules first.
  std::optional<Created> CreateUnique(std::string_view prefix, std::string_view ext) const;

  // Whether `path`, made canonical (links and ".." resolved), names an entry
  // directly inside this folder.
  bool Contains(const std::string& path) const;

  // Deletes every non-directory entry whose name begins with `prefix`
  // (case-sensitive); failures are ignored. Answers how many went.
  int Purge(std::string_view prefix) const;

 private:
  std::string path_;
};

// What start-up shows (no title, OK button) when Join fails.
inline constexpr const char* kSemaphoreFailureText = "semaphore failure";

// One running instance's share of the "glm" files. While an instance lives it
// holds a shared lock on "ClearGloms"; start-ups are serialised by an
// exclusive lock on "BlockGloms". The kernel drops both when a process dies.
class InstanceUnit {
  struct Token {};  // only Join makes units

 public:
  InstanceUnit(Token, int fd) : fd_(fd) {}
  ~InstanceUnit();
  InstanceUnit(const InstanceUnit&) = delete;
  InstanceUnit& operator=(const InstanceUnit&) = delete;

  // Joins the running instances; the first one (no other holds a unit)
  // purges "glm" files of `temp`. Nothing (and `error` set) when the lock
  // files cannot be had: the caller shows "semaphore failure" and stops.
  static std::unique_ptr<InstanceUnit> Join(const std::string& runtimeFolder, const TempFolder& temp,
                                            bool* purged = nullptr, std::string* error = nullptr);

 private:
  int fd_;
};

}  // namespace kv
