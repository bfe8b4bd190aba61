#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kv {

bool ReadHostFile(const std::string& hostPath, std::string& bytes, int* error, uint64_t maxBytes) {
  auto fail = [error](int fd, int err) {
    if (fd >= 0) ::close(fd);
    if (error) *error = err;
    return false;
  };
  // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
  int fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(-1, errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(fd, errno);
  if (!S_ISREG(st.st_mode)) return fail(fd, S_ISDIR(st.st_mode) ? EISDIR : ENODEV);
  if (static_cast<uint64_t>(st.st_size) > maxBytes) return fail(fd, EFBIG);
  bytes.clear();
  bytes.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail(fd, errno);
    if (n == 0) break;
    // The file may grow after fstat.
    if (static_cast<size_t>(n) > maxBytes - bytes.size()) return fail(fd, EFBIG);
    bytes.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

bool NoLinkBelow(const std::string& folder, const std::string& path, bool withLast) {
  if (path.compare(0, folder.size(), folder) != 0) return false;
  // "/a/bc" is not inside "/a/b".
  if (path.size() > folder.size() && !folder.ends_with('/') && path[folder.size()] != '/') return false;
  size_t at = folder.size();
  while (at < path.size()) {
    while (at < path.size() && path[at] == '/') ++at;
    if (at >= path.size()) break;
    const size_t end = std::min(path.find('/', at), path.size());
    if (end == path.size() && !withLast) break;
    struct stat st {};
    if (::lstat(path.substr(0, end).c_str(), &st) != 0) return errno == ENOENT;
    if (S_ISLNK(st.st_mode)) return false;
    at = end;
  }
  return true;
}

std::string ErrnoText(int err) {
  std::string text = std::strerror(err);
  // Leave acronyms ("RFS specific error") as they are.
  if (text.size() > 1 && text[0] >= 'A' && text[0] <= 'Z' && !(text[1] >= 'A' && text[1] <= 'Z'))
    text[0] = char(text[0] - 'A' + 'a');
  return text;
}

namespace {

// Fills a new private file beside `hostPath` through `fill` (which answers 0
// or an errno) and renames it over the target, so that the target is either
// the old file or the whole new one. A link at the target is replaced, never
// written through.
template <class Fill>
bool ReplaceAtomically(const std::string& hostPath, mode_t mode, Fill fill, int* error) {
  std::string pattern = hostPath + ".kvtmp-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = errno;
    return false;
  }
  int failure = fill(fd);
  // mkostemp makes the file private; the target gets the usual permissions.
  mode_t mask = ::umask(0);
  ::umask(mask);
  if (!failure && ::fchmod(fd, mode & ~mask) != 0) failure = errno;
  if (!failure && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && !failure) failure = errno;
  if (!failure && std::rename(name.data(), hostPath.c_str()) != 0) failure = errno;
  if (failure) {
    std::remove(name.data());
    if (error) *error = failure;
    return false;
  }
  return true;
}

int WriteAll(int fd, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

bool WriteFileAtomically(const std::string& hostPath, std::string_view bytes, int* error) {
  return ReplaceAtomically(
      hostPath, 0666, [&](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); }, error);
}

bool CopyFileAtomically(const std::string& sourcePath, const std::string& targetPath, int* error) {
  // O_NOFOLLOW: a link is not a file to copy; O_NONBLOCK: nor is a FIFO, refused below.
  int in = ::open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (in < 0) {
    if (error) *error = errno;
    return false;
  }
  struct stat st {};
  const int statError = ::fstat(in, &st) != 0 ? errno : 0;
  if (statError || !S_ISREG(st.st_mode)) {
    int err = statError ? statError : S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    ::close(in);
    if (error) *error = err;
    return false;
  }
  auto copy = [in](int out) {
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(in, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) return 0;
      if (int err = WriteAll(out, buf, static_cast<size_t>(n))) return err;
    }
  };
  bool ok = ReplaceAtomically(targetPath, st.st_mode & 0777, copy, error);
  ::close(in);
  return ok;
}

}  // namespace kv
